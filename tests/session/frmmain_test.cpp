#include "session/FrmExitMsg.h"
#include "session/frmmain.h"
#include "support/doubles.h"

#include <QLabel>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>

using tclink::session::FrmExitMsg;
using tclink::session::frmmain;
using tclink::test::FakeRemoteDesktop;
using tclink::test::TestWorld;

namespace {
const QString PoliteCut = QStringLiteral("您的网络刚才已经断开了,请确定能上网后,再运行程序!");
const QString PlainCut = QStringLiteral("你的网络刚才已经断开了,请确定能上网后,再运行程序!");
const QString Unreachable = QStringLiteral("网络不通,请选择其它线路进入或关掉防火墙后再进入!");
} // namespace

class Session : public testing::Test {
protected:
    explicit Session(bool withDriveD = true) : world(withDriveD)
    {
        world.module.HasDriveD = withDriveD;
        world.module.ServerAddress = "127.0.0.1";
        world.module.LineCode = "3";
        world.module.MachineNumber = "5kedomra240815 42";
        world.module.UseMainServer = true;
    }

    frmmain& open()
    {
        auto& w = world.module.showFrmmain();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&w));
        return w;
    }
    FakeRemoteDesktop& session() { return *world.controls.at(0); }
    FakeRemoteDesktop& probe() { return *world.controls.at(1); }
    std::vector<QString> prompts() const
    {
        std::vector<QString> result;
        for (const auto& box : world.boxes.shown) {
            result.push_back(box.prompt);
        }
        return result;
    }

    TestWorld world;
};

TEST_F(Session, ASuccessfulStartProbesHandsOverLogsInWritesAndShows)
{
    auto& w = open();
    EXPECT_EQ(probe().connects, 1);
    EXPECT_EQ(probe().Server, "127.0.0.1");
    EXPECT_EQ(probe().AdvancedSettings2.RDPPort, 7011);
    EXPECT_TRUE(probe().UserName.isEmpty());
    EXPECT_TRUE(probe().ProbeOnly);
    EXPECT_TRUE(probe().isHidden());
    EXPECT_FALSE(w.Timer1->isActive());
    EXPECT_EQ(w.windowTitle(), QStringLiteral("岚拓客户管理系统(演示版本)2.1"));
    EXPECT_EQ(w.Label4->text(), QStringLiteral("正在启动程序，请稍等......"));
    EXPECT_FALSE(w.Label4->isHidden());

    std::vector<QString> texts;
    emit probe().OnConnecting();
    texts.push_back(w.Label4->text());
    emit probe().OnConnected();
    EXPECT_EQ(probe().closeRequests, 1);
    EXPECT_EQ(session().connects, 1);
    EXPECT_TRUE(session().isHidden());
    emit probe().OnDisconnected(1); // the probe's own close after the hand-over
    EXPECT_TRUE(world.boxes.shown.empty());
    EXPECT_EQ(world.desktop.ends, 0);

    EXPECT_FALSE(session().ProbeOnly);
    EXPECT_EQ(session().UserName, "7wobnekcuhink");
    EXPECT_EQ(session().password, "hodrafkez");
    EXPECT_EQ(session().AdvancedSettings2.RDPPort, 7011);
    EXPECT_TRUE(session().AdvancedSettings2.RedirectPrinters);
    EXPECT_TRUE(session().AdvancedSettings2.RedirectDrives);
    EXPECT_TRUE(session().AdvancedSettings2.RedirectPorts);
    EXPECT_EQ(session().SecuredSettings2.StartProgram,
              QStringLiteral("E:\\khprogram\\V2011演示版\\bizdesk.exe"));
    EXPECT_EQ(session().geometry(), QRect(0, 0, w.width(), w.height()));

    emit session().OnConnecting();
    texts.push_back(w.Label4->text());
    emit session().OnConnected();
    texts.push_back(w.Label4->text());
    EXPECT_FALSE(world.drives.read("D:\\id.txt")); // nothing before the logon
    emit session().OnLoginComplete();
    texts.push_back(w.Label4->text());
    EXPECT_EQ(texts, (std::vector<QString>{
                         QStringLiteral("程序正在连接服务器中......"),
                         QStringLiteral("程序正在连接服务器中......"),
                         QStringLiteral("程序已成功连接服务器中，正在核对用户身份......"),
                         QStringLiteral("核对用户身份成功！系统即将启动......")}));
    EXPECT_EQ(world.drives.read("D:\\id.txt"), QByteArray("5kedomra240815 42"));
    EXPECT_EQ(world.drives.read("D:\\idbak.aaa"), QByteArray("5kedomra240815 42"));
    EXPECT_EQ(world.drives.read("D:\\xl.yp"), QByteArray("3"));
    EXPECT_FALSE(session().isHidden());

    emit session().OnDisconnected(2); // the user left the business application
    EXPECT_EQ(session().closeRequests, 1);
    EXPECT_TRUE(world.boxes.shown.empty());
    EXPECT_EQ(world.desktop.ends, 1);
}

TEST_F(Session, NetworkFailuresAreToldPolitelyByTheProbeAndPlainlyByTheSession)
{
    struct Case {
        bool probeFails;
        qint32 reason;
        QString message; // empty: none
    };
    for (const Case& c :
         {Case{true, 516, PoliteCut}, Case{true, 520, Unreachable}, Case{false, 516, PlainCut},
          Case{false, 520, Unreachable}, Case{false, 2308, QString()}, Case{false, 3, QString()}}) {
        TestWorld fresh(true);
        fresh.module.HasDriveD = true;
        fresh.module.UseMainServer = true;
        auto& w = fresh.module.showFrmmain();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
        auto& probeControl = *fresh.controls.at(1);
        auto& sessionControl = *fresh.controls.at(0);
        if (c.probeFails) {
            emit probeControl.OnDisconnected(c.reason);
            EXPECT_EQ(probeControl.closeRequests, 1);
        } else {
            emit probeControl.OnConnected();
            emit sessionControl.OnConnected();
            emit sessionControl.OnDisconnected(c.reason);
            EXPECT_EQ(sessionControl.closeRequests, 1);
        }
        if (c.message.isEmpty()) {
            EXPECT_TRUE(fresh.boxes.shown.empty()) << c.reason;
        } else {
            ASSERT_EQ(fresh.boxes.shown.size(), 1u) << c.reason;
            EXPECT_EQ(fresh.boxes.shown[0].prompt, c.message);
            EXPECT_EQ(fresh.boxes.shown[0].title, QStringLiteral("系统提示"));
        }
        EXPECT_EQ(fresh.desktop.ends, 1);
        EXPECT_FALSE(fresh.drives.read("D:\\id.txt"));
    }
}

// Whether the probe or, on a second look, the session finds a certificate that the build does
// not accept, the user is told that the server may be an impostor, and the program ends.
TEST_F(Session, AServerCertificateTheBuildDoesNotAcceptIsToldAndEnds)
{
    for (const bool probeFails : {true, false}) {
        TestWorld fresh(true);
        auto& w = fresh.module.showFrmmain();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
        if (probeFails) {
            emit fresh.controls.at(1)->OnDisconnected(tclink::rdp::ReasonServerCertificateRefused);
        } else {
            emit fresh.controls.at(1)->OnConnected();
            emit fresh.controls.at(0)->OnDisconnected(tclink::rdp::ReasonServerCertificateRefused);
        }
        ASSERT_EQ(fresh.boxes.shown.size(), 1u) << probeFails;
        EXPECT_EQ(fresh.boxes.shown[0].prompt,
                  QStringLiteral("服务器的安全证书不对，可能有人冒充服务器。\n为了您的数据安全，"
                                 "程序不会登录。请联系售后热线：400-000-0000"));
        EXPECT_EQ(fresh.desktop.ends, 1);
    }
}

// The remote-desktop library cannot be loaded: the probe reports it at once; the user is told
// what to do, and the program ends rather than wait.
TEST_F(Session, AClientLibraryThatCannotBeLoadedIsToldAndEnds)
{
    open();
    emit probe().OnDisconnected(tclink::rdp::ReasonClientLibraryMissing);
    EXPECT_EQ(prompts(), std::vector<QString>{QStringLiteral(
                             "远程桌面组件 FreeRDP 无法载入，程序不能登录。\n请重新安装本程序，"
                             "或联系售后热线：400-000-0000")});
    EXPECT_EQ(world.desktop.ends, 1);
}

TEST_F(Session, WithoutALogonSignalTheSessionIsShownAfterTheWaitAndNothingIsWritten)
{
    qputenv("TCLINK_TEST_LOGON_WAIT_MS", "1000");
    open();
    emit probe().OnConnected();
    emit session().OnConnecting();
    emit session().OnConnected();
    qunsetenv("TCLINK_TEST_LOGON_WAIT_MS");
    QTest::qWait(100);
    EXPECT_TRUE(session().isHidden());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !session().isHidden(); }, 3000));
    EXPECT_FALSE(world.drives.read("D:\\id.txt"));
    EXPECT_FALSE(world.drives.read("D:\\xl.yp"));
    EXPECT_TRUE(world.boxes.shown.empty());
    EXPECT_EQ(world.desktop.ends, 0);

    // A logon confirmed late still keeps the configuration.
    emit session().OnLoginComplete();
    EXPECT_EQ(world.drives.read("D:\\xl.yp"), QByteArray("3"));
}

TEST_F(Session, ALogonSignalInTimeLeavesNothingForTheWaitToDo)
{
    qputenv("TCLINK_TEST_LOGON_WAIT_MS", "200");
    open();
    emit probe().OnConnected();
    emit session().OnConnected();
    qunsetenv("TCLINK_TEST_LOGON_WAIT_MS");
    emit session().OnLoginComplete();
    session().hide(); // were the wait still running, it would show the session again
    QTest::qWait(400);
    EXPECT_TRUE(session().isHidden());
}

TEST_F(Session, AProbeThatNeverReachedTheServerIsToldAndEnds)
{
    open();
    emit probe().OnDisconnected(264);
    ASSERT_EQ(world.boxes.shown.size(), 1u);
    EXPECT_TRUE(world.boxes.shown[0].prompt.contains("264"));
    EXPECT_EQ(world.desktop.ends, 1);
    EXPECT_EQ(session().connects, 0);
}

TEST_F(Session, AFatalErrorEndsWithoutAMessage)
{
    open();
    emit probe().OnConnected();
    emit session().OnFatalError(7);
    EXPECT_EQ(session().closeRequests, 1);
    EXPECT_TRUE(world.boxes.shown.empty());
    EXPECT_EQ(world.desktop.ends, 1);
}

TEST_F(Session, ClosingTheWindowEndsTheProgram)
{
    auto& w = open();
    w.close();
    EXPECT_EQ(world.desktop.ends, 1);
}

TEST_F(Session, UnwritableSettingsAreToldOnceAndTheSessionGoesOn)
{
    std::filesystem::create_directories(world.drives.driveD() / "id.txt");
    std::filesystem::create_directories(world.drives.driveD() / "idbak.aaa");
    open();
    emit probe().OnConnected();
    emit session().OnLoginComplete();
    ASSERT_EQ(world.boxes.shown.size(), 1u);
    EXPECT_TRUE(world.boxes.shown[0].prompt.contains(QStringLiteral("配置没有保存成功")));
    EXPECT_EQ(world.drives.read("D:\\xl.yp"), QByteArray("3")); // what could be saved is
    EXPECT_FALSE(session().isHidden());
    EXPECT_EQ(world.desktop.ends, 0);
}

class SessionWithoutDriveD : public Session {
protected:
    SessionWithoutDriveD() : Session(false) {}
};

TEST_F(SessionWithoutDriveD, SettingsGoToTheSystemFolder)
{
    open();
    emit probe().OnConnected();
    emit session().OnLoginComplete();
    EXPECT_EQ(world.drives.read("C:\\WINDOWS\\system\\id.txt"), QByteArray("5kedomra240815 42"));
    EXPECT_EQ(world.drives.read("C:\\WINDOWS\\system\\idbak.aaa"), QByteArray("5kedomra240815 42"));
    EXPECT_EQ(world.drives.read("C:\\WINDOWS\\system\\xl.yp"), QByteArray("3"));
}

TEST_F(Session, TheUserNameTakesTheLastThreeCharactersOfTheProgramName)
{
    for (const auto& [path, user] :
         {std::pair{"/x/t", "7wobnekcuht"}, std::pair{"/x/abc.exe", "7wobnekcuhabc"},
          std::pair{"/x/tclink", "7wobnekcuhink"}}) {
        TestWorld fresh;
        fresh.module.UseMainServer = true;
        fresh.desktop.programPath = path;
        auto& w = fresh.module.showFrmmain();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
        w.ConnectSession();
        EXPECT_EQ(fresh.controls.at(0)->UserName, user);
    }
}

TEST_F(Session, TheSessionFillsTheClientAreaClearOfABottomTaskbarAndFollowsTheWindow)
{
    // Where the taskbar lies, relative to the window's client area: the session keeps clear of
    // the part of a bottom taskbar that covers the client area, and no more.
    struct Case {
        int taskbarTopFromClientBottom; // 0: none
        bool atBottom;
        int less;
    };
    for (const Case& c : {Case{-30, true, 30}, Case{10, true, 0}, Case{0, false, 0}}) {
        TestWorld fresh;
        fresh.module.UseMainServer = true;
        auto& w = fresh.module.showFrmmain();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
        const int clientBottom = w.mapToGlobal(QPoint(0, w.height())).y();
        fresh.desktop.taskbar =
            c.atBottom ? QRect(0, clientBottom + c.taskbarTopFromClientBottom, 1920, 30)
                       : QRect(0, 0, 1920, 30); // along the top
        w.ConnectSession();
        auto& session = *fresh.controls.at(0);
        EXPECT_EQ(session.geometry(), QRect(0, 0, w.width(), w.height() - c.less));

        // Restored to a smaller window, the session still fills it.
        w.showNormal();
        w.resize(w.width() / 2, w.height() / 2);
        ASSERT_TRUE(QTest::qWaitFor([&] { return session.width() == w.width(); }, 2000));
        const int bottom = w.mapToGlobal(QPoint(0, w.height())).y();
        const int covered =
            c.atBottom ? std::clamp(bottom - fresh.desktop.taskbar.top(), 0, w.height()) : 0;
        EXPECT_EQ(session.geometry(), QRect(0, 0, w.width(), w.height() - covered));
    }
}

TEST_F(Session, SessionClosingStopsEverySetUp)
{
    world.module.SessionClosing = true;
    auto& w = open();
    EXPECT_EQ(probe().connects, 0);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("岚拓物流软件管理系统"));
    w.ConnectSession();
    EXPECT_EQ(session().connects, 0);
}

class BackupSession : public Session {
protected:
    BackupSession()
    {
        world.module.UseMainServer = false;
        world.module.BackupLoginTime = QDateTime(QDate(2026, 12, 8), QTime(10, 0, 0));
    }
};

TEST_F(BackupSession, UsesTheBackupPortAndOpensTheNoticeOnceAfterFiftyWholeMinutes)
{
    auto& w = open();
    EXPECT_EQ(probe().AdvancedSettings2.RDPPort, 7190);
    EXPECT_TRUE(w.Timer1->isActive());
    emit probe().OnConnected();
    EXPECT_EQ(session().AdvancedSettings2.RDPPort, 7190);
    EXPECT_TRUE(w.Timer1->isActive());
    w.Timer1->stop(); // ticks are driven by hand below

    world.clock.current = QDateTime(QDate(2026, 12, 8), QTime(10, 50, 59, 999));
    w.Timer1_Timer();
    EXPECT_EQ(world.module.FrmExitMsg(), nullptr);
    EXPECT_FALSE(world.module.SessionClosing);

    world.clock.current = QDateTime(QDate(2026, 12, 8), QTime(10, 51, 0));
    w.Timer1->start();
    w.Timer1_Timer();
    ASSERT_NE(world.module.FrmExitMsg(), nullptr);
    EXPECT_TRUE(world.module.SessionClosing);
    EXPECT_FALSE(w.Timer1->isActive());
    FrmExitMsg* notice = world.module.FrmExitMsg();
    w.Timer1_Timer();
    EXPECT_EQ(world.module.FrmExitMsg(), notice);
}

TEST_F(BackupSession, TheNoticeCountsDownThenDisconnectsAndEnds)
{
    open();
    auto& notice = world.module.showFrmExitMsg();
    notice.Timer1->stop();
    EXPECT_EQ(notice.Label1[3]->text(), "180");
    EXPECT_TRUE(notice.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(notice.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(notice.windowFlags() & Qt::WindowSystemMenuHint);
    EXPECT_EQ(notice.size(), QSize(458, 196));
    EXPECT_TRUE(notice.Label1[1]->text().contains(QStringLiteral("详情咨询：400-000-0000")));
    notice.close();
    EXPECT_TRUE(notice.isVisible()); // a close request is refused
    for (int tick = 1; tick <= 180; ++tick) {
        notice.Timer1_Timer();
    }
    EXPECT_EQ(notice.Label1[3]->text(), "0");
    EXPECT_EQ(session().disconnects, 0);
    EXPECT_EQ(world.desktop.ends, 0);
    notice.Timer1_Timer();
    EXPECT_EQ(session().disconnects, 1);
    EXPECT_EQ(world.desktop.ends, 1);
}
