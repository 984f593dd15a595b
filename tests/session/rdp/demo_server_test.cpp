#include <QDir>
#include <QLoggingCategory>
#include <QPushButton>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "rdp_test_support.h"
#include "session/rdp/freerdp_control.h"
#include "session/rdp/freerdp_session.h"
#include "session/rdp/reconnect_notice.h"

namespace tclink::rdp::test {
namespace {

const QString endpoint = QStringLiteral("127.0.0.1:7011");
// The demo server's title band, at the pixel (2, 2) of its desktop.
constexpr QRgb desktopBand = qRgb(0, 84, 166);

class DemoServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!DemoServer::available())
            GTEST_SKIP() << "tclink-demo-server not built: " << DemoServer::binary().toStdString();
        control = std::make_unique<FreeRdpControl>();
        control->setDriveFolders([this] {
            return std::vector<SharedDrive>{{"C", drive.path().toStdString()}};
        });
        logInTo(*control, QStringLiteral("127.0.0.1"), 7011);
        log = std::make_unique<EventLog>(*control);
    }

    void startServer(const QStringList& extra = {})
    {
        ASSERT_TRUE(server.start(endpoint, extra)) << "demo server did not become ready";
    }

    // The server drops the link 1.5 s after the login. With the reconnection notice up, this
    // thread (the user interface) is held until the server has logged the client on again, so
    // that the news of it waits in the queue.
    void holdUntilLoggedOnAgain(ReconnectNotice*& notice)
    {
        startServer({"--drop-after-ms", "1500"});
        control->Connect();
        ASSERT_TRUE(log->waitFor("OnLoginComplete", 10000));
        notice = control->findChild<ReconnectNotice*>();
        ASSERT_TRUE(notice);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !notice->isHidden(); }, 1500 + 2000));
        QElapsedTimer waited;
        waited.start();
        while (server.events("cookie").size() < 2 && waited.elapsed() < 10000)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_EQ(server.events("cookie").size(), 2);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_FALSE(notice->isHidden());
    }

    DemoServer server;
    QTemporaryDir drive; // C:, shared when RedirectDrives is set
    std::unique_ptr<FreeRdpControl> control;
    std::unique_ptr<EventLog> log;
};

TEST_F(DemoServerTest, GoodLoginReportsInOrderAndShowsTheServersScreen)
{
    startServer();
    control->Connect();
    EXPECT_TRUE(log->names.isEmpty()) << "Connect must return before any event";
    ASSERT_TRUE(log->waitFor("OnLoginComplete", 10000)) << log->names.join(',').toStdString();

    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return control->grab().toImage().pixel(2, 2) == desktopBand; }, 5000));

    // The server writes its login line once the client's device list has come, after the logon.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !server.events("login").isEmpty(); }, 5000));
    // Both logon signals have come by now (notice and "user logged on"): reported once.
    EXPECT_EQ(log->names, QStringList({"OnConnecting", "OnConnected", "OnLoginComplete"}));
    const auto logins = server.events("login");
    ASSERT_EQ(logins.size(), 1);
    EXPECT_EQ(logins[0]["user"], account);
    EXPECT_EQ(logins[0]["ok"], "1");
    EXPECT_EQ(logins[0]["width"], "640");
    EXPECT_EQ(logins[0]["height"], "480");
    EXPECT_EQ(logins[0]["heartbeat"], "1");

    control->RequestClose();
    ASSERT_TRUE(log->waitFor("OnDisconnected", 5000));
    EXPECT_EQ(log->reason, 1);
    EXPECT_TRUE(control->findChildren<FreeRdpSession*>().isEmpty());
}

std::mutex diagnosticsMutex;
QStringList diagnostics;

void collectDiagnostics(QtMsgType, const QMessageLogContext&, const QString& message)
{
    std::lock_guard lock(diagnosticsMutex);
    diagnostics << message;
}

// With pinned fingerprints, a certificate that has none of them ends the probe before it counts
// as connected (the diagnostics name the fingerprint it has), and a pinned one logs in.
TEST_F(DemoServerTest, OnlyACertificateWithAPinnedFingerprintIsAccepted)
{
    startServer();
    const QByteArray other(32, '\x5A');
    control->ProbeOnly = true;
    control->setCertificatePins({other});
    QLoggingCategory::setFilterRules("tclink.rdp=true");
    const QtMessageHandler previous = qInstallMessageHandler(collectDiagnostics);
    control->Connect();
    const bool ended = log->waitFor("OnDisconnected", 10000);
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules("");
    ASSERT_TRUE(ended) << log->names.join(',').toStdString();
    EXPECT_EQ(log->names, QStringList({"OnConnecting", "OnDisconnected"}));
    EXPECT_EQ(log->reason, ReasonServerCertificateRefused);

    const QRegularExpression named("SHA-256 ([0-9A-F:]{95})\\) is none of the build's");
    const QRegularExpressionMatch match = named.match(diagnostics.join('\n'));
    ASSERT_TRUE(match.hasMatch()) << diagnostics.join('\n').toStdString();
    const auto pins = parseCertificatePins(match.captured(1));
    ASSERT_TRUE(pins && pins->size() == 1);
    ASSERT_NE(pins->front(), other);

    control->ProbeOnly = false;
    control->setCertificatePins({other, pins->front()});
    control->Connect();
    ASSERT_TRUE(log->waitFor("OnLoginComplete", 10000)) << log->names.join(',').toStdString();
}

TEST_F(DemoServerTest, AProbeStopsOnceTheServerHasAnsweredAndEndsByItself)
{
    startServer();
    control->ProbeOnly = true;
    control->Connect();
    ASSERT_TRUE(log->waitFor("OnDisconnected", 10000)) << log->names.join(',').toStdString();
    EXPECT_EQ(log->names, QStringList({"OnConnecting", "OnConnected", "OnDisconnected"}));
    EXPECT_EQ(log->reason, 1);
    // Its connection is over: the FreeRDP context (codecs, compressors) is gone with it.
    EXPECT_TRUE(control->findChildren<FreeRdpSession*>().isEmpty());
    // It never got as far as the login, let alone a channel.
    QTest::qWait(300);
    EXPECT_TRUE(server.events("login").isEmpty());
    EXPECT_TRUE(server.events("notice").isEmpty());
}

TEST_F(DemoServerTest, StartProgramAndRedirectionsReachTheServer)
{
    startServer();
    control->SecuredSettings2.StartProgram = startProgram;
    control->AdvancedSettings2.RedirectDrives = true;
    control->AdvancedSettings2.RedirectPrinters = true;
    control->AdvancedSettings2.RedirectPorts = true;
    control->Connect();
    ASSERT_TRUE(log->waitFor("OnLoginComplete", 10000));
    // The device list follows the logon.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !server.events("login").isEmpty(); }, 5000));
    const auto login = server.events("login").first();
    EXPECT_EQ(login["shell"], startProgram);
    EXPECT_EQ(login["drives"], "1");
    if (!QDir("/dev").entryList({"ttyS*", "lp*"}, QDir::System).isEmpty()) {
        EXPECT_EQ(login["ports"], "1");
    }
    EXPECT_TRUE(login["channels"].contains("rdpdr")) << login["channels"].toStdString();
    control->Disconnect();
    ASSERT_TRUE(log->waitFor("OnDisconnected", 5000));
    EXPECT_EQ(log->reason, 1);
}

// A server that sends no logon notice but tells the device channel that the user logged on (as
// xrdp does) completes the login all the same; one that does neither leaves it open.
TEST_F(DemoServerTest, TheDeviceChannelsUserLoggedOnAloneCompletesTheLogin)
{
    startServer({"--logged-on-only"});
    control->AdvancedSettings2.RedirectDrives = true;
    control->Connect();
    ASSERT_TRUE(log->waitFor("OnLoginComplete", 10000)) << log->names.join(',').toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !server.events("login").isEmpty(); }, 5000));
    EXPECT_EQ(server.events("login").first()["drives"], "1");
    EXPECT_TRUE(server.events("notice").isEmpty());
    EXPECT_EQ(log->names, QStringList({"OnConnecting", "OnConnected", "OnLoginComplete"}));
}

TEST_F(DemoServerTest, WithoutEitherLogonSignalTheLoginStaysOpen)
{
    startServer({"--no-logon-notice"});
    control->AdvancedSettings2.RedirectDrives = true;
    control->Connect();
    ASSERT_TRUE(log->waitFor("OnConnected", 10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !server.events("login").isEmpty(); }, 5000));
    EXPECT_EQ(server.events("login").first()["ok"], "1");
    QTest::qWait(1000);
    EXPECT_EQ(log->names, QStringList({"OnConnecting", "OnConnected"}));
}

TEST_F(DemoServerTest, AWrongPasswordGetsNoLogonAndTheConnectionStays)
{
    startServer();
    control->setClearTextPassword(QStringLiteral("wrong"));
    control->Connect();
    ASSERT_TRUE(log->waitFor("OnConnected", 10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !server.events("login").isEmpty(); }, 5000));
    EXPECT_EQ(server.events("login").first()["ok"], "0");
    QTest::qWait(1500);
    EXPECT_EQ(log->names, QStringList({"OnConnecting", "OnConnected"}));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return control->grab().toImage().pixel(2, 2) == qRgb(176, 32, 32); }, 5000));
    control->RequestClose();
    ASSERT_TRUE(log->waitFor("OnDisconnected", 5000));
}

TEST_F(DemoServerTest, ServerLogoffEndsTheSessionWithTheServersReason)
{
    startServer({"--session-seconds", "1"});
    control->Connect();
    ASSERT_TRUE(log->waitFor("OnDisconnected", 10000));
    EXPECT_TRUE(log->has("OnLoginComplete"));
    EXPECT_TRUE(log->reason == 2 || log->reason == 3) << log->reason;
    EXPECT_NE(control->ExtendedDisconnectReason(), 0);
}

TEST_F(DemoServerTest, LocalCloseAtAnyStageReportsOne)
{
    startServer();
    // At once, right after the first event, and once the connection stands.
    for (const QString& after : {QString(), QString("OnConnecting"), QString("OnConnected")}) {
        log->names.clear();
        control->Connect();
        if (!after.isEmpty()) {
            ASSERT_TRUE(log->waitFor(after, 10000)) << after.toStdString();
        }
        control->Disconnect();
        control->RequestClose();
        ASSERT_TRUE(log->waitFor("OnDisconnected", 5000)) << after.toStdString();
        EXPECT_EQ(log->reason, 1) << after.toStdString();
        EXPECT_EQ(log->names.count("OnDisconnected"), 1);
    }
}

TEST_F(DemoServerTest, DestroyingTheControlMidConnectIsSafe)
{
    startServer();
    for (int delayMs : {0, 5, 30, 200}) {
        auto doomed = std::make_unique<FreeRdpControl>();
        doomed->Server = "127.0.0.1";
        doomed->AdvancedSettings2.RDPPort = 7011;
        doomed->Connect();
        QTest::qWait(delayMs);
        doomed.reset();
    }
}

// A session lost after its login is not ended: the control logs on again under its notice.
TEST_F(DemoServerTest, DroppedConnectionIsNoticedAtOnceAndLoggedOnAgain)
{
    startServer({"--drop-after-ms", "1500"});
    control->Connect();
    ASSERT_TRUE(log->waitFor("OnLoginComplete", 10000));
    const auto* notice = control->findChild<ReconnectNotice*>();
    ASSERT_TRUE(notice);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !notice->isHidden(); }, 1500 + 2000));
    // Logged on again into the same session, which this server does not drop again.
    ASSERT_TRUE(QTest::qWaitFor([&] { return notice->isHidden(); }, 5000));
    EXPECT_FALSE(log->names.contains("OnDisconnected"));
    EXPECT_EQ(log->names.count("OnLoginComplete"), 1);
}

// The quit button clicked after an attempt succeeded, before the notice learnt of it: the
// session ends as any end of the session does, and nothing of it stays behind.
TEST_F(DemoServerTest, QuittingJustAsTheSessionComesBackEndsIt)
{
    ReconnectNotice* notice = nullptr;
    ASSERT_NO_FATAL_FAILURE(holdUntilLoggedOnAgain(notice));
    notice->quitButton()->click();
    ASSERT_TRUE(log->waitFor("OnDisconnected", 5000));
    EXPECT_EQ(log->reason, 1); // a local end, with no message
    EXPECT_TRUE(notice->isHidden());
    EXPECT_EQ(log->names.count("OnLoginComplete"), 1);
    EXPECT_EQ(log->names.count("OnDisconnected"), 1);
    // The resumed connection has ended too.
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.events("disconnect").size() == 2; }, 5000));
}

// A press on the quit button that the notice's closing overtakes (the session came back in
// between) still ends the session at its release.
TEST_F(DemoServerTest, APressOnQuitThatOutlastsTheNoticeStillEndsTheSession)
{
    control->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(control.get()));
    ReconnectNotice* notice = nullptr;
    ASSERT_NO_FATAL_FAILURE(holdUntilLoggedOnAgain(notice));
    const QPushButton* quit = notice->quitButton();
    const QPoint at = quit->mapTo(control.get(), quit->rect().center());
    QTest::mousePress(control->windowHandle(), Qt::LeftButton, {}, at);
    ASSERT_TRUE(quit->isDown());
    ASSERT_TRUE(QTest::qWaitFor([&] { return notice->isHidden(); }, 5000));
    EXPECT_FALSE(log->has("OnDisconnected"));
    QTest::mouseRelease(control->windowHandle(), Qt::LeftButton, {}, at);
    ASSERT_TRUE(log->waitFor("OnDisconnected", 5000));
    EXPECT_EQ(log->reason, 1);
}

TEST_F(DemoServerTest, FrozenServerIsNoticedWithin30Seconds)
{
    startServer({"--freeze-after-ms", "5000"});
    control->Connect();
    ASSERT_TRUE(log->waitFor("OnLoginComplete", 10000));
    const auto* notice = control->findChild<ReconnectNotice*>();
    ASSERT_TRUE(notice);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !notice->isHidden(); }, 5000 + 30000));
    EXPECT_FALSE(log->names.contains("OnDisconnected"));
}

TEST(ConnectFailure, ClosedPortOnLoopbackReports516)
{
    // A port that was just free: bind, read the number, close.
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length), 0);
    close(fd);

    FreeRdpControl control;
    EventLog log(control);
    control.Server = "127.0.0.1";
    control.AdvancedSettings2.RDPPort = ntohs(addr.sin_port);
    control.Connect();
    ASSERT_TRUE(log.waitFor("OnDisconnected", 5000));
    EXPECT_EQ(log.names, QStringList({"OnConnecting", "OnDisconnected"}));
    EXPECT_EQ(log.reason, 516);
    EXPECT_FALSE(control.Version().isEmpty());
}

} // namespace
} // namespace tclink::rdp::test
