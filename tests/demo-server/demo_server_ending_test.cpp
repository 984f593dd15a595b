// The real server against a small FreeRDP client: how sessions end, and the fault switches.

#include "demo_server.h"
#include "rdp_probe.h"
#include "screen.h"

#include <freerdp/error.h>
#include <gmock/gmock.h>

using namespace std::chrono_literals;

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 600;

struct Ending : testing::Test {
    // Starts a server with these extra arguments and logs a client in.
    void logIn(QStringList arguments)
    {
        server.emplace(QStringList{"--listen", "127.0.0.1:17011"} + arguments);
        ASSERT_EQ(server->start(1).size(), 1);
        ProbeSettings settings;
        settings.port = 17011;
        settings.width = kWidth;
        settings.height = kHeight;
        probe.emplace(settings);
        ASSERT_TRUE(probe->connect());
        ASSERT_TRUE(probe->pumpUntil([&] { return bool(server->find("login")); }, 5s));
    }
    std::string lastEvent() const { return server->events().back().name; }

    std::optional<DemoServer> server;
    std::optional<RdpProbe> probe;
};

TEST_F(Ending, ExitButtonLogsOffLikeAWindowsServer)
{
    ASSERT_NO_FATAL_FAILURE(logIn({}));
    const QRect button = demo::exitButton({kWidth, kHeight});
    probe->click(button.center().x(), button.center().y());
    EXPECT_FALSE(probe->pumpUntil([] { return false; }, 3s));
    EXPECT_TRUE(probe->disconnected());
    EXPECT_EQ(probe->errorInfo(), unsigned(ERRINFO_LOGOFF_BY_USER));
    ASSERT_TRUE(server->find("logoff"));
    EXPECT_EQ((*server->find("logoff"))["reason"], "exit");
    EXPECT_EQ((*server->find("disconnect"))["reason"], "logoff");
}

TEST_F(Ending, SessionSecondsLogsOffByItself)
{
    ASSERT_NO_FATAL_FAILURE(logIn({"--session-seconds", "1"}));
    ASSERT_TRUE(probe->logonNotice());
    probe->pumpFor(3s);
    EXPECT_TRUE(probe->disconnected());
    EXPECT_EQ(probe->errorInfo(), unsigned(ERRINFO_LOGOFF_BY_USER));
    ASSERT_TRUE(server->find("logoff"));
    EXPECT_EQ((*server->find("logoff"))["reason"], "timeout");
}

TEST_F(Ending, NoLogonNoticeStillLogsIn)
{
    ASSERT_NO_FATAL_FAILURE(logIn({"--no-logon-notice"}));
    probe->pumpFor(1s);
    EXPECT_FALSE(probe->logonNotice());
    EXPECT_FALSE(probe->disconnected());
    EXPECT_EQ((*server->find("login"))["ok"], "1");
    EXPECT_EQ(probe->pixel(2, 2), demo::kDesktopBand & 0xFFFFFF);
}

TEST_F(Ending, DropClosesTheConnectionWithoutGoodbye)
{
    ASSERT_NO_FATAL_FAILURE(logIn({"--drop-after-ms", "300"}));
    probe->pumpFor(2s);
    EXPECT_TRUE(probe->disconnected());
    EXPECT_EQ(probe->errorInfo(), 0u);
    EXPECT_FALSE(server->find("logoff"));
    EXPECT_EQ((*server->find("disconnect"))["reason"], "drop");
}

TEST_F(Ending, FreezeKeepsTheConnectionSilentUntilTheServerEnds)
{
    ASSERT_NO_FATAL_FAILURE(logIn({"--freeze-after-ms", "300"}));
    probe->pumpFor(1s);
    const int heartbeats = probe->heartbeats();
    probe->pumpFor(3s);
    EXPECT_FALSE(probe->disconnected());
    EXPECT_EQ(probe->heartbeats(), heartbeats);
    EXPECT_EQ(lastEvent(), "freeze");
    EXPECT_EQ(server->stop(), 0);
    EXPECT_EQ((*server->find("disconnect"))["reason"], "shutdown");
}

} // namespace
