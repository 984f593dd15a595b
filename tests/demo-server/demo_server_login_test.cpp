// The real server against a small FreeRDP client: logins, screens and what the report says.

#include "demo_server.h"
#include "rdp_probe.h"
#include "screen.h"

#include <gmock/gmock.h>

using namespace std::chrono_literals;
using testing::HasSubstr;

namespace {

const std::string kShell = "E:\\khprogram\\V2011演示版\\bizdesk.exe";

TEST(DemoServerLogin, ServesTheLineEndpointsAndReportsWhatTheClientAsked)
{
    DemoServer server({});
    ASSERT_EQ(server.start(4),
              (QStringList{"listening 127.0.0.1:7011", "listening 127.0.0.1:7190",
                           "listening 127.0.0.2:7011", "listening 127.0.0.2:7190"}));

    ProbeSettings settings;
    settings.host = "127.0.0.2";
    settings.port = 7190;
    settings.shell = kShell;
    settings.width = 1024;
    settings.height = 768;
    RdpProbe probe(settings);
    ASSERT_TRUE(probe.connect());
    ASSERT_TRUE(probe.pumpUntil([&] { return probe.logonNotice(); }, 5s));
    // A heartbeat every 2 s, and the desktop painted with the title band.
    EXPECT_TRUE(probe.pumpUntil([&] { return probe.heartbeats() > 0; }, 3s));
    EXPECT_EQ(probe.pixel(2, 2), demo::kDesktopBand & 0xFFFFFF);

    const auto login = server.find("login");
    ASSERT_TRUE(login);
    EXPECT_EQ((*login)["user"], "7wobnekcuhink");
    EXPECT_EQ((*login)["ok"], "1");
    EXPECT_EQ((*login)["port"], "7190");
    EXPECT_EQ((*login)["shell"], kShell);
    EXPECT_EQ((*login)["workdir"], "");
    EXPECT_EQ((*login)["width"], "1024");
    EXPECT_EQ((*login)["height"], "768");
    EXPECT_EQ((*login)["heartbeat"], "1");
    EXPECT_EQ((*login)["drives"], "0");
    EXPECT_TRUE(server.find("notice"));
    EXPECT_EQ(server.stop(), 0);
    EXPECT_EQ(server.events().back().name, "disconnect");
    EXPECT_EQ(server.events().back()["reason"], "shutdown");
}

TEST(DemoServerLogin, WrongPasswordShowsLoginFailedAndKeepsTheConnection)
{
    DemoServer server({"--listen", "127.0.0.1:17011"});
    ASSERT_EQ(server.start(1).size(), 1);

    ProbeSettings settings;
    settings.port = 17011;
    settings.password = "wrong";
    RdpProbe probe(settings);
    ASSERT_TRUE(probe.connect());
    probe.pumpFor(1500ms);
    EXPECT_FALSE(probe.disconnected());
    EXPECT_FALSE(probe.logonNotice());
    EXPECT_EQ(probe.pixel(2, 2), demo::kLoginFailedBand & 0xFFFFFF);
    const auto login = server.find("login");
    ASSERT_TRUE(login);
    EXPECT_EQ((*login)["ok"], "0");
    EXPECT_FALSE(server.find("notice"));
    EXPECT_FALSE(server.find("disconnect"));
}

TEST(DemoServerLogin, ServesTwoClientsAtOnceWithTheirOwnUsersAndDrives)
{
    DemoServer server({"--listen", "127.0.0.1:17011", "--listen", "127.0.0.2:17190", "--user",
                       "alice", "--password", "secret 1"});
    ASSERT_EQ(server.start(2).size(), 2);

    ProbeSettings settings;
    settings.user = "alice";
    settings.password = "secret 1";
    settings.host = "127.0.0.2";
    settings.port = 17190;
    RdpProbe second(settings);
    settings.host = "127.0.0.1";
    settings.port = 17011;
    settings.redirectDrive = true;
    RdpProbe first(settings);
    ASSERT_TRUE(first.connect());
    ASSERT_TRUE(second.connect());
    const auto logins = [&] {
        int n = 0;
        for (const ReportEvent& e : server.events()) {
            n += e.name == "login";
        }
        return n;
    };
    // The drive is announced after the server says the user logged on; the login line waits.
    ASSERT_TRUE(first.pumpUntil([&] { return logins() == 2; }, 6s));
    ASSERT_TRUE(second.pumpUntil([&] { return second.logonNotice(); }, 1s));

    for (const ReportEvent& e : server.events()) {
        if (e.name != "login") {
            continue;
        }
        EXPECT_EQ(e["ok"], "1");
        if (e["port"] == "17011") {
            EXPECT_EQ(e["drives"], "1");
            EXPECT_THAT(e["channels"], HasSubstr("rdpdr"));
        } else {
            EXPECT_EQ(e["drives"], "0");
            EXPECT_EQ(e["channels"], "");
        }
    }
    EXPECT_FALSE(first.disconnected());
    EXPECT_FALSE(second.disconnected());
}

} // namespace
