// The server's pieces without a network: options, the report's encoding, the device-redirection
// exchange, the keyboard, the screens.

#include "devices.h"
#include "keyboard.h"
#include "options.h"
#include "report.h"
#include "screen.h"

#include <QTemporaryDir>
#include <freerdp/channels/rdpdr.h>
#include <freerdp/input.h>
#include <freerdp/settings.h>
#include <gmock/gmock.h>

namespace {

TEST(DemoServerOptions, ParsesSwitchesAndRejectsWhatItCannotServe)
{
    const auto parsed = demo::parseOptions({"--listen", "127.0.0.5:4000", "--session-seconds", "2",
                                            "--drop-after-ms", "250", "--no-logon-notice"});
    ASSERT_TRUE(std::holds_alternative<demo::Options>(parsed));
    const auto& options = std::get<demo::Options>(parsed);
    ASSERT_EQ(options.endpoints.size(), 1u);
    EXPECT_EQ(options.endpoints[0].text(), "127.0.0.5:4000");
    EXPECT_EQ(options.sessionLength, std::chrono::milliseconds(2000));
    EXPECT_EQ(options.dropAfter, std::chrono::milliseconds(250));
    EXPECT_FALSE(options.freezeAfter);
    EXPECT_FALSE(options.logonNotice);
    EXPECT_FALSE(options.userLoggedOn);
    const auto loggedOnOnly = std::get<demo::Options>(demo::parseOptions({"--logged-on-only"}));
    EXPECT_FALSE(loggedOnOnly.logonNotice);
    EXPECT_TRUE(loggedOnOnly.userLoggedOn);
    EXPECT_FALSE(loggedOnOnly.freezeAtLicensing);
    EXPECT_TRUE(
        std::get<demo::Options>(demo::parseOptions({"--freeze-at-licensing"})).freezeAtLicensing);
    EXPECT_FALSE(options.offerClipboard);
    EXPECT_FALSE(options.clipboardDelay);

    const auto clipboard = std::get<demo::Options>(demo::parseOptions(
        {"--offer-clipboard", "--silent-clipboard", "--clipboard-delay-ms", "2500"}));
    EXPECT_TRUE(clipboard.offerClipboard);
    EXPECT_TRUE(clipboard.silentClipboard);
    EXPECT_EQ(clipboard.clipboardDelay, std::chrono::milliseconds(2500));
    EXPECT_FALSE(clipboard.freezeAfter);

    const auto defaults = std::get<demo::Options>(demo::parseOptions({}));
    EXPECT_EQ(defaults.endpoints.size(), 4u);
    EXPECT_EQ(defaults.user, "7wobnekcuhink");
    EXPECT_EQ(defaults.password, "hodrafkez");

    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--listen", "10.0.0.1:7011"},
          {"--listen", "127.0.0.1"},
          {"--listen", "127.0.0.1:70000"},
          {"--session-seconds", "-1"},
          {"--clipboard-delay-ms", "soon"},
          {"--user"},
          {"--bogus"}}) {
        EXPECT_TRUE(std::holds_alternative<std::string>(demo::parseOptions(bad))) << bad[0];
    }
}

TEST(DemoServerReport, EncodesValuesSoThatLinesSplitOnSpacesAndEquals)
{
    EXPECT_EQ(demo::percentEncode("E:\\khprogram\\V2011演示版\\bizdesk.exe"),
              "E:\\khprogram\\V2011%E6%BC%94%E7%A4%BA%E7%89%88\\bizdesk.exe");
    EXPECT_EQ(demo::percentEncode("a b=c%d\te\x7f"), "a%20b%3Dc%25d%09e%7F");

    QTemporaryDir dir;
    const std::string path = dir.filePath("r.log").toStdString();
    {
        demo::Report report(path);
        report.write("login", {{"user", "x y"}, {"ok", "1"}});
        report.write("disconnect", {});
    }
    demo::Report again(path); // appends
    again.write("connect", {{"port", "7011"}});
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toStdString(),
              "login user=x%20y ok=1\ndisconnect\nconnect port=7011\n");
}

// Builds client PDUs as a FreeRDP or Windows client sends them.
demo::Pdu clientPdu(std::uint16_t packetId, std::vector<std::uint8_t> body = {})
{
    body.insert(body.begin(), {0x72, 0x44, std::uint8_t(packetId), std::uint8_t(packetId >> 8)});
    return body;
}

demo::Pdu deviceList(const std::vector<std::uint32_t>& types)
{
    std::vector<std::uint8_t> body;
    const auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            body.push_back(std::uint8_t(v >> (8 * i)));
        }
    };
    u32(std::uint32_t(types.size()));
    std::uint32_t id = 1;
    for (const std::uint32_t type : types) {
        u32(type);
        u32(id++);
        body.insert(body.end(), {'D', 'E', 'V', 0, 0, 0, 0, 0});
        u32(3); // device data
        body.insert(body.end(), {1, 2, 3});
    }
    return clientPdu(PAKID_CORE_DEVICELIST_ANNOUNCE, body);
}

std::uint16_t packetId(const demo::Pdu& pdu)
{
    return std::uint16_t(pdu[2] | pdu[3] << 8);
}

TEST(DemoServerDevices, LearnsTheDevicesTheClientAnnouncesAfterLogon)
{
    demo::DeviceRedirection devices(true);
    const demo::Pdu announce = devices.serverAnnounce();
    EXPECT_EQ(packetId(announce), PAKID_CORE_SERVER_ANNOUNCE);
    EXPECT_EQ(announce.size(), 12u);

    EXPECT_TRUE(
        devices.receive(clientPdu(PAKID_CORE_CLIENTID_CONFIRM, {1, 0, 12, 0, 1, 0, 0, 0})).empty());
    const auto answer = devices.receive(clientPdu(PAKID_CORE_CLIENT_NAME, {0, 0, 0, 0}));
    ASSERT_EQ(answer.size(), 2u);
    EXPECT_EQ(packetId(answer[0]), PAKID_CORE_SERVER_CAPABILITY);
    EXPECT_EQ(answer[0].size(), 4u + 4 + 44 + 4 * 8); // header, count, general, four short sets
    EXPECT_EQ(packetId(answer[1]), PAKID_CORE_CLIENTID_CONFIRM);

    // "User logged on" answers the client's capabilities; FreeRDP 2 clients then send the list
    // they held back before logon (empty here) and their whole list.
    const auto loggedOn = devices.receive(clientPdu(PAKID_CORE_CLIENT_CAPABILITY));
    ASSERT_EQ(loggedOn.size(), 1u);
    EXPECT_EQ(packetId(loggedOn[0]), PAKID_CORE_USER_LOGGEDON);
    EXPECT_TRUE(devices.receive(deviceList({})).empty());
    EXPECT_FALSE(devices.settled());
    EXPECT_TRUE(
        devices.receive(deviceList({RDPDR_DTYP_PRINT, RDPDR_DTYP_FILESYSTEM, RDPDR_DTYP_SERIAL}))
            .empty());
    EXPECT_TRUE(devices.settled());
    EXPECT_TRUE(devices.redirections().drives);
    EXPECT_TRUE(devices.redirections().printers);
    EXPECT_TRUE(devices.redirections().ports);
}

// FreeRDP 3 clients send no list before logon: their first list is the whole one.
TEST(DemoServerDevices, ANonEmptyFirstListAfterLogonSettles)
{
    demo::DeviceRedirection devices(true);
    EXPECT_EQ(devices.receive(clientPdu(PAKID_CORE_CLIENT_CAPABILITY)).size(), 1u);
    EXPECT_TRUE(devices.receive(clientPdu(PAKID_CORE_CLIENT_CAPABILITY)).empty()); // sent once
    EXPECT_TRUE(devices.receive(deviceList({RDPDR_DTYP_FILESYSTEM})).empty());
    EXPECT_TRUE(devices.settled());
    EXPECT_TRUE(devices.redirections().drives);
}

TEST(DemoServerDevices, WithoutLogonTheFirstListSettlesAndBadListsAreSurvived)
{
    demo::DeviceRedirection devices(false);
    EXPECT_TRUE(devices.receive(deviceList({RDPDR_DTYP_PARALLEL})).empty());
    EXPECT_TRUE(devices.settled());
    EXPECT_TRUE(devices.redirections().ports);
    EXPECT_FALSE(devices.redirections().drives);

    demo::Pdu truncated = deviceList({RDPDR_DTYP_FILESYSTEM});
    truncated.resize(truncated.size() - 2); // device data cut short
    demo::DeviceRedirection other(false);
    other.receive(truncated);
    EXPECT_FALSE(other.redirections().drives);
    EXPECT_TRUE(other.receive(demo::Pdu{0x72}).empty());
}

TEST(DemoServerScreen, BandsTellTheScreensApartAndTheExitButtonFits)
{
    for (const QSize size : {QSize(640, 480), QSize(1024, 768), QSize(1920, 1080)}) {
        demo::SessionView view;
        view.user = "u";
        view.shell = "s";
        const QImage desktop = demo::renderDesktop(size, view);
        EXPECT_EQ(desktop.size(), size);
        EXPECT_EQ(desktop.pixel(2, 2) & 0xFFFFFF, demo::kDesktopBand & 0xFFFFFF);
        EXPECT_EQ(desktop.pixel(size.width() - 3, demo::kBandHeight - 1) & 0xFFFFFF,
                  demo::kDesktopBand & 0xFFFFFF);
        EXPECT_TRUE(QRect(QPoint(), size).contains(demo::exitButton(size)));
        const QImage failed = demo::renderLoginFailed(size);
        EXPECT_EQ(failed.pixel(2, 2) & 0xFFFFFF, demo::kLoginFailedBand & 0xFFFFFF);
    }
}

} // namespace

TEST(DemoServerKeyboard, TypesAsAWindowsApplicationWouldWithTheSynchronisedLocks)
{
    demo::Keyboard keyboard;
    const auto press = [&](std::uint8_t code, std::uint16_t extra = 0) {
        const demo::KeyEvent down = keyboard.key(extra, code);
        keyboard.key(std::uint16_t(extra | KBD_FLAGS_RELEASE), code);
        return down.text;
    };
    EXPECT_EQ(press(0x4F), "[End]");
    keyboard.synchronize(KBD_SYNC_NUM_LOCK | KBD_SYNC_CAPS_LOCK);
    EXPECT_EQ(keyboard.locks(), "num,caps");
    EXPECT_EQ(press(0x4F), "1");
    EXPECT_EQ(press(0x1E), "A");
    EXPECT_EQ(press(0x02), "1"); // CapsLock leaves digits alone

    // Shift inverts CapsLock for letters and turns keypad digits into navigation.
    keyboard.key(0, 0x2A);
    EXPECT_EQ(press(0x1E), "a");
    EXPECT_EQ(press(0x4F), "[End]");
    EXPECT_EQ(keyboard.modifiers(), "shift");
    // A synchronisation lets go of every key.
    keyboard.synchronize(0);
    EXPECT_EQ(keyboard.modifiers(), "");
    EXPECT_EQ(press(0x1E), "a");

    // The lock keys toggle on their press; the extended right Ctrl counts as Ctrl.
    press(0x45);
    EXPECT_EQ(keyboard.locks(), "num");
    keyboard.key(KBD_FLAGS_EXTENDED, 0x1D);
    EXPECT_EQ(keyboard.modifiers(), "ctrl");
    press(0x2E);
    EXPECT_EQ(keyboard.view().typed.right(8), "[ctrl+c]");
}

TEST(DemoServerKeyboard, UnicodeEventsTypeWholeCharacters)
{
    demo::Keyboard keyboard;
    EXPECT_EQ(keyboard.unicode(0, 0x4E2D), "中");
    EXPECT_EQ(keyboard.unicode(KBD_FLAGS_RELEASE, 0x4E2D), "");
    EXPECT_EQ(keyboard.unicode(0, 0xD840), ""); // first half of U+20000
    EXPECT_EQ(keyboard.unicode(0, 0xDC00), QString::fromUcs4(U"\U00020000"));
    EXPECT_EQ(keyboard.unicode(0, 0xDC00), ""); // a lone second half types nothing
    EXPECT_EQ(keyboard.view().typed, QString::fromUcs4(U"中\U00020000"));
}
