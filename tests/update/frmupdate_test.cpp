#include "launcher/frmbegin.h"
#include "support/doubles.h"
#include "update/frmupdate.h"
#include "update/inet/transfer_control.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using tclink::RuntimeError;
using tclink::platform::MessageBox;
using tclink::test::TestWorld;
using tclink::update::acceptableRevision;
using tclink::update::frmupdate;
using Answer = MessageBox::Answer;

TEST(Revision, IsAcceptedWhenPositiveAndOneToFourCharacters)
{
    for (const char* text : {"1", "7\r\n", "1.5", "9999", "&H1F", "1e3"}) {
        EXPECT_TRUE(acceptableRevision(QString::fromLatin1(text))) << text;
    }
    for (const char* text : {"", "0", "abc", "-2", "00002", "100\r\n", "<html>"}) {
        EXPECT_FALSE(acceptableRevision(QString::fromLatin1(text))) << text;
    }
}

class Update : public testing::Test {
protected:
    Update() : world(true) { world.drives.write("D:\\keep", "x"); }

    frmupdate& open(const QString& body, const QString& lineCode = "1")
    {
        world.module.LineCode = lineCode;
        auto& w = world.module.showFrmupdate();
        world.transfer->body = body;
        return w;
    }
    frmupdate& check(const QString& body, const QString& lineCode = "1")
    {
        auto& w = open(body, lineCode);
        w.Form_Activate();
        return w;
    }

    TestWorld world;
};

TEST_F(Update, AsksTheLinesServerAndOpensTheLauncherWhenNothingIsNewer)
{
    for (const auto& [line, server] : {std::pair{"3", "127.0.0.2"}, std::pair{"1", "127.0.0.1"},
                                       std::pair{"", "127.0.0.1"}, std::pair{"2", "127.0.0.1"}}) {
        TestWorld fresh;
        fresh.module.LineCode = line;
        auto& w = fresh.module.showFrmupdate();
        fresh.transfer->body = " 0 ";
        w.Form_Activate();
        ASSERT_EQ(fresh.transfer->openedUrls.size(), 1u);
        EXPECT_EQ(fresh.transfer->openedUrls[0],
                  QStringLiteral("http://%1:9002/\\qtm演示版\\ver.txt").arg(server));
        EXPECT_EQ(fresh.transfer->Protocol, tclink::inet::icHTTP);
        EXPECT_TRUE(fresh.boxes.shown.empty());
        EXPECT_NE(fresh.module.frmbegin(), nullptr);
        EXPECT_TRUE(QTest::qWaitFor([&] { return fresh.module.frmupdate() == nullptr; }, 5000));
    }
}

// Keeps every activation from the update window, as a window manager that does not activate
// new windows does, and notes whether the check had begun when the window was first drawn.
class WithoutActivation : public QObject {
public:
    explicit WithoutActivation(TestWorld& world) : world_(world)
    {
        QCoreApplication::instance()->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!qobject_cast<frmupdate*>(watched)) {
            return false;
        }
        if (event->type() == QEvent::Paint && !drawn) {
            drawn = true;
            checkedBeforeDrawn = world_.transfer && !world_.transfer->openedUrls.empty();
        }
        return event->type() == QEvent::WindowActivate || event->type() == QEvent::ActivationChange;
    }

    bool drawn = false;
    bool checkedBeforeDrawn = false;

private:
    TestWorld& world_;
};

TEST_F(Update, TheCheckStartsOnceTheWindowIsDrawnWithoutBeingActivated)
{
    WithoutActivation filter(world);
    open(" 0 ");
    // Right after the drawing, well before the second that a fallback would wait.
    QElapsedTimer waited;
    waited.start();
    while (world.module.frmbegin() == nullptr && waited.elapsed() < 500) {
        QTest::qWait(10);
    }
    ASSERT_NE(world.module.frmbegin(), nullptr);
    EXPECT_TRUE(filter.drawn);
    EXPECT_FALSE(filter.checkedBeforeDrawn);
    EXPECT_TRUE(world.boxes.shown.empty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return world.module.frmupdate() == nullptr; }, 5000));
}

// Keeps the update window from ever being drawn, as a window manager that ended after it had
// taken the window's map request does.
class NeverDrawn : public QObject {
public:
    NeverDrawn() { QCoreApplication::instance()->installEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        return qobject_cast<frmupdate*>(watched) && event->type() == QEvent::Paint;
    }
};

TEST_F(Update, AWindowThatIsNeverDrawnChecksAFewSecondsAfterItWasShown)
{
    NeverDrawn filter;
    QElapsedTimer waited;
    waited.start();
    open(" 0 ");
    // The launcher comes from the check, when nothing is newer.
    ASSERT_TRUE(QTest::qWaitFor([&] { return world.module.frmbegin() != nullptr; },
                                tclink::update::CheckWithoutDrawingMs + 2000));
    EXPECT_GE(waited.elapsed(), tclink::update::CheckWithoutDrawingMs * 9 / 10);
    EXPECT_TRUE(QTest::qWaitFor([&] { return world.module.frmupdate() == nullptr; }, 5000));
}

TEST_F(Update, TheCheckRunsOnce)
{
    world.boxes.answers = {Answer::No};
    open("1");
    // Asked once the window is drawn.
    ASSERT_TRUE(QTest::qWaitFor([&] { return world.boxes.shown.size() == 1u; }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return world.module.frmupdate() == nullptr; }, 5000));
    EXPECT_NE(world.module.frmbegin(), nullptr);
    EXPECT_EQ(world.boxes.shown.size(), 1u);
}

TEST_F(Update, AnActivationAfterTheCheckDoesNothing)
{
    world.boxes.answers = {Answer::No};
    auto& w = open("1");
    w.Form_Activate();
    // Drawn again while its question is open, or activated, before it is deleted.
    w.Form_Activate();
    EXPECT_EQ(world.transfer->openedUrls.size(), 1u);
    EXPECT_EQ(world.boxes.shown.size(), 1u);
    EXPECT_TRUE(QTest::qWaitFor([&] { return world.module.frmupdate() == nullptr; }, 5000));
}

TEST_F(Update, ANewerRevisionIsOfferedAndNoOpensTheLauncher)
{
    world.boxes.answers = {Answer::No};
    check(" 1 ");
    ASSERT_EQ(world.boxes.shown.size(), 1u);
    EXPECT_EQ(
        world.boxes.shown[0].prompt,
        QStringLiteral("有最新版本，是否升级？单击是：软件将自动升级。点否：软件不升级进入系统。"));
    EXPECT_TRUE(world.boxes.shown[0].title.isEmpty());
    EXPECT_EQ(world.boxes.shown[0].buttons, MessageBox::Buttons::YesNo);
    EXPECT_NE(world.module.frmbegin(), nullptr);
    EXPECT_TRUE(world.transfer->operations.empty());
}

TEST_F(Update, AFailedCheckIsToldWithItsNumberAndEnds)
{
    auto& w = open("");
    world.transfer->error = RuntimeError(35754, QStringLiteral("无法连接到远程主机"));
    w.Form_Activate();
    ASSERT_EQ(world.boxes.shown.size(), 1u);
    EXPECT_EQ(world.boxes.shown[0].prompt, QStringLiteral("无法连接到远程主机"));
    EXPECT_EQ(world.boxes.shown[0].title, QStringLiteral("35754"));
    EXPECT_EQ(world.desktop.ends, 1);
    EXPECT_EQ(world.module.frmbegin(), nullptr);
}

TEST_F(Update, WithoutAnUnpackerTheBareProgramIsFetchedAndAStaleOneDeleted)
{
    world.drives.write("c:\\windows\\tclink.exe", "stale");
    world.boxes.answers = {Answer::Yes};
    bool staleGoneBeforeTransfer = false;
    auto& w = open("2");
    world.transfer->onExecute = [&](auto&) {
        staleGoneBeforeTransfer = !world.drives.read("C:\\WINDOWS\\tclink.exe").has_value();
    };
    w.Form_Activate();
    ASSERT_EQ(world.transfer->operations.size(), 1u);
    EXPECT_EQ(world.transfer->operations[0],
              QStringLiteral("get  \\qtm演示版\\tclink.exe  c:\\windows\\tclink.exe"));
    EXPECT_TRUE(staleGoneBeforeTransfer);
    EXPECT_EQ(world.transfer->Protocol, tclink::inet::icFTP);
    EXPECT_EQ(world.transfer->RemoteHost, "127.0.0.1");
    EXPECT_EQ(world.transfer->RemotePort, 21);
    EXPECT_EQ(world.transfer->UserName, "lantoxz");
    EXPECT_EQ(world.transfer->Password, "k7r3m9t1q5w8");
    EXPECT_EQ(w.UseArchive, 0);
    EXPECT_TRUE(w.Timer1->isActive());
    EXPECT_EQ(world.desktop.sleeps, std::vector<int>{1000});
    EXPECT_EQ(world.desktop.ends, 1); // the transfer is over: the program ends
    EXPECT_EQ(w.CheckPending, 0);
}

TEST_F(Update, AnUnpackerOnDGivesTheArchiveMode)
{
    world.drives.write("D:\\Program Files\\WinRAR\\WinRAR.exe", "#!");
    world.drives.write("c:\\windows\\tclink", "stale archive");
    world.boxes.answers = {Answer::Yes};
    auto& w = check("7");
    EXPECT_EQ(w.UseArchive, 1);
    EXPECT_EQ(w.WinRarPath, QStringLiteral("D:\\Program Files\\WinRAR\\winrar.exe"));
    EXPECT_EQ(world.transfer->operations.at(0),
              QStringLiteral("get  \\qtm演示版\\tclink.rar  c:\\windows\\tclink"));
    EXPECT_FALSE(world.drives.read("c:\\windows\\tclink"));
}

TEST_F(Update, StateTextsAndTheProgressBar)
{
    auto& w = open("0");
    w.Timer1->stop();
    w.Inet1_StateChanged(1);
    EXPECT_EQ(w.Label1->text(), QStringLiteral("正在查询升级服务器的IP地址。。。。。。"));
    w.Inet1_StateChanged(11);
    EXPECT_EQ(w.Label1->text(), QStringLiteral("与升级服务器通讯时出现了错误。。。。。。"));
    w.Inet1_StateChanged(0);
    w.Inet1_StateChanged(13);
    EXPECT_EQ(w.Label1->text(), QStringLiteral("与升级服务器通讯时出现了错误。。。。。。"));

    w.ProgressBar1->setValue(99);
    w.Timer1_Timer();
    EXPECT_EQ(w.ProgressBar1->value(), 100);
    w.Timer1_Timer();
    EXPECT_EQ(w.ProgressBar1->maximum(), 200);
    EXPECT_EQ(w.ProgressBar1->value(), 100);
}

class Completion : public Update {
protected:
    Completion()
    {
        programFolder = world.drives.root() / "program";
        fs::create_directories(programFolder);
        world.desktop.programPath = QString::fromStdString((programFolder / "tclink").string());
        writeFile(programFolder / "tclink", "old program");
    }
    static void writeFile(const fs::path& path, const QByteArray& bytes)
    {
        QFile file(QString::fromStdString(path.string()));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    static QByteArray readFile(const fs::path& path)
    {
        QFile file(QString::fromStdString(path.string()));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    // Accepts an update whose transfer completes, leaving `downloaded` (if any) as the
    // downloaded program.
    frmupdate& update(const QByteArray& downloaded)
    {
        world.boxes.answers = {Answer::Yes};
        auto& w = open("5");
        world.transfer->states = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12};
        world.transfer->onExecute = [this, downloaded](auto&) {
            if (!downloaded.isEmpty()) {
                world.drives.write("c:\\windows\\tclink.exe", downloaded);
            }
        };
        w.Form_Activate();
        return w;
    }

    fs::path programFolder;
};

TEST_F(Completion, TheNewProgramReplacesTheOldAndIsStarted)
{
    writeFile(programFolder / "tclinkold", "older still");
    auto& w = update("#!/bin/sh\necho new\n");
    EXPECT_EQ(readFile(programFolder / "tclink"), "#!/bin/sh\necho new\n");
    EXPECT_EQ(readFile(programFolder / "tclinkold"), "old program");
    EXPECT_NE(fs::status(programFolder / "tclink").permissions() & fs::perms::owner_exec,
              fs::perms::none);
    EXPECT_FALSE(world.drives.read("c:\\windows\\tclink.exe"));
    ASSERT_EQ(world.desktop.started.size(), 1u);
    EXPECT_EQ(world.desktop.started[0].program,
              QString::fromStdString((programFolder / "tclink").string()));
    EXPECT_EQ(w.Label1->text(), QStringLiteral("软件更新成功，正在启动新程序。。。。。。"));
    EXPECT_EQ(w.ProgressBar1->value(), w.ProgressBar1->maximum());
    EXPECT_TRUE(world.desktop.ran.empty()); // no unpacking in the bare mode
    EXPECT_GE(world.desktop.ends, 1);
    EXPECT_EQ(world.boxes.shown.size(), 1u); // the question only
}

TEST_F(Completion, TheArchiveIsUnpackedWithAQuotedPathAndWaitedFor)
{
    world.drives.write("C:\\Program Files\\WinRAR\\winrar.exe", "#!");
    world.desktop.onRun = [&](const auto&) {
        world.drives.write("c:\\windows\\tclink.exe", "#!/bin/sh\nunpacked\n");
        return std::optional<int>(0);
    };
    update({});
    ASSERT_EQ(world.desktop.ran.size(), 1u);
    EXPECT_EQ(world.desktop.ran[0].program,
              QStringLiteral("C:\\Program Files\\WinRAR\\winrar.exe"));
    EXPECT_EQ(world.desktop.ran[0].arguments,
              QStringList({"e", "-o+", "c:\\windows\\tclink", "c:\\windows\\"}));
    EXPECT_EQ(readFile(programFolder / "tclink"), "#!/bin/sh\nunpacked\n");
}

TEST_F(Completion, AFailedOrUnfinishedUnpackingStartsTheOldProgram)
{
    world.drives.write("C:\\Program Files\\WinRAR\\winrar.exe", "#!");
    std::optional<int> result = 2;
    world.desktop.onRun = [&](const auto&) {
        world.drives.write("c:\\windows\\tclink.exe", "half"); // left half-written
        return result;
    };
    auto& w = update({});
    EXPECT_EQ(readFile(programFolder / "tclink"), "old program");
    EXPECT_EQ(w.Label1->text(), QStringLiteral("软件更新失败，正在启动老程序。。。。。。"));
    EXPECT_EQ(world.desktop.started.size(), 1u);

    result.reset(); // did not finish in time
    w.Inet1_StateChanged(12);
    EXPECT_EQ(readFile(programFolder / "tclink"), "old program");
    EXPECT_EQ(world.desktop.started.size(), 2u);
}

TEST_F(Completion, StagingLeftoversAreRemovedAtTheNextStart)
{
    writeFile(programFolder / ".tclink.new", "cut short");
    open("0");
    EXPECT_FALSE(fs::exists(programFolder / ".tclink.new"));
    EXPECT_EQ(readFile(programFolder / "tclink"), "old program");
}

TEST_F(Completion, AProgramThatCannotBeStartedIsTold)
{
    fs::remove(programFolder / "tclink");
    world.desktop.startSucceeds = false;
    update({});
    ASSERT_EQ(world.boxes.shown.size(), 2u);
    EXPECT_EQ(world.boxes.shown[1].title, QStringLiteral("53"));
    EXPECT_GE(world.desktop.ends, 1);
}

TEST_F(Completion, WhatCannotStartIsNotInstalledAndALinkIsNotFollowed)
{
    const fs::path outside = world.drives.root() / "outside";
    writeFile(outside, "#!someone else's file");
    fs::permissions(outside, fs::perms::owner_read | fs::perms::owner_write);
    const std::vector<std::pair<const char*, std::function<void(const fs::path&)>>> downloads = {
        {"empty", [](const fs::path& at) { writeFile(at, ""); }},
        {"random bytes",
         [](const fs::path& at) { writeFile(at, QByteArray("\x93\x11\xfe\0x", 5)); }},
        {"a link", [&](const fs::path& at) { fs::create_symlink(outside, at); }},
    };
    for (const auto& [what, place] : downloads) {
        TestWorld fresh;
        fresh.desktop.programPath = world.desktop.programPath;
        fresh.boxes.answers = {Answer::Yes};
        fresh.module.LineCode = "1";
        auto& w = fresh.module.showFrmupdate();
        fresh.transfer->body = "5";
        fresh.transfer->states = {12};
        fresh.transfer->onExecute = [&, place = place](auto&) {
            fresh.drives.write("c:\\windows\\tclink.exe", "");
            const fs::path at = *fresh.drives.map().resolve("c:\\windows\\tclink.exe");
            fs::remove(at);
            place(at);
        };
        w.Form_Activate();
        EXPECT_EQ(readFile(programFolder / "tclink"), "old program") << what;
        EXPECT_EQ(w.Label1->text(), QStringLiteral("软件更新失败，正在启动老程序。。。。。。"))
            << what;
        EXPECT_EQ(fresh.desktop.started.size(), 1u) << what;
        EXPECT_FALSE(
            fs::exists(fs::symlink_status(*fresh.drives.map().resolve("c:\\windows\\tclink.exe"))))
            << what;
    }
    EXPECT_EQ(readFile(outside), "#!someone else's file");
    EXPECT_EQ(fs::status(outside).permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(Completion, WithAKeyTheSignatureIsFetchedFirstAndWithoutOneNothingIsInstalled)
{
    world.boxes.answers = {Answer::Yes};
    auto& w = open("5");
    w.UpdatePublicKey = QStringLiteral("RWQbJ7C2/0IEAgV4pwZimKi2aYA2WIJnOOBIuhpCiKUoapmk3f2qt6GP");
    world.transfer->states = {1, 11};
    world.drives.write("c:\\windows\\tclink.exe.minisig", "stale");
    bool staleSignatureGone = false;
    world.transfer->onExecute = [&](auto&) {
        staleSignatureGone = !world.drives.read("c:\\windows\\tclink.exe.minisig");
    };
    w.Form_Activate();
    ASSERT_EQ(world.transfer->operations.size(), 1u);
    EXPECT_EQ(
        world.transfer->operations[0],
        QStringLiteral("get  \\qtm演示版\\tclink.exe.minisig  c:\\windows\\tclink.exe.minisig"));
    EXPECT_TRUE(staleSignatureGone);
    EXPECT_EQ(readFile(programFolder / "tclink"), "old program");
    EXPECT_EQ(w.Label1->text(), QStringLiteral("软件更新失败，正在启动老程序。。。。。。"));
    ASSERT_EQ(world.desktop.started.size(), 1u);
    EXPECT_EQ(world.desktop.started[0].program,
              QString::fromStdString((programFolder / "tclink").string()));
    EXPECT_GE(world.desktop.ends, 1);
}

TEST_F(Completion, WithAKeyABadSignatureInstallsNothing)
{
    world.drives.write("C:\\Program Files\\WinRAR\\winrar.exe", "#!");
    world.boxes.answers = {Answer::Yes};
    auto& w = open("5");
    w.UpdatePublicKey = QStringLiteral("RWQbJ7C2/0IEAgV4pwZimKi2aYA2WIJnOOBIuhpCiKUoapmk3f2qt6GP");
    world.transfer->states = {1, 2, 12};
    world.transfer->onExecute = [&](tclink::test::FakeTransfer& transfer) {
        const QString local = transfer.operations.back().section(QStringLiteral("  "), 2);
        world.drives.write(local, "not what was signed");
    };
    w.Form_Activate();
    EXPECT_EQ(world.transfer->operations.size(), 2u);
    EXPECT_TRUE(world.desktop.ran.empty()); // the archive is not unpacked
    EXPECT_EQ(readFile(programFolder / "tclink"), "old program");
    EXPECT_EQ(w.Label1->text(), QStringLiteral("软件更新失败，正在启动老程序。。。。。。"));
    EXPECT_EQ(world.desktop.started.size(), 1u);
}

TEST_F(Completion, ANewProgramThatDiesBeforeItsFirstWindowIsReplacedByThePreviousOne)
{
    world.desktop.startup = tclink::platform::Startup::Died;
    auto& w = update("#!/bin/sh\nkill -SEGV $$\n");
    EXPECT_EQ(readFile(programFolder / "tclink"), "old program");
    EXPECT_FALSE(fs::exists(programFolder / "tclinkold"));
    EXPECT_EQ(w.Label1->text(), QStringLiteral("软件更新失败，正在启动老程序。。。。。。"));
    EXPECT_EQ(world.desktop.watched, std::vector<int>{30000}); // the new one was watched
    ASSERT_EQ(world.desktop.started.size(), 2u);               // then the old one started
    EXPECT_EQ(world.desktop.started[1].program,
              QString::fromStdString((programFolder / "tclink").string()));
    EXPECT_EQ(world.boxes.shown.size(), 1u); // the question only
}

// Alt+F4 while the transfer or the unpacker is waited for: the window stays (and under the
// sanitizer build no event loop runs on a deleted window).
TEST_F(Completion, CloseRequestsDuringTheDownloadAndTheUnpackingAreIgnored)
{
    world.drives.write("C:\\Program Files\\WinRAR\\winrar.exe", "#!");
    world.boxes.answers = {Answer::Yes};
    QPointer<frmupdate> w = &open("5");
    const auto requestClose = [&] {
        QCloseEvent event;
        QCoreApplication::sendEvent(w, &event); // as the window system sends it: spontaneous
        EXPECT_FALSE(event.isAccepted());
        EXPECT_FALSE(w->close());
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    };
    world.transfer->states = {1, 7, 12};
    world.transfer->onExecute = [&](auto&) { QTimer::singleShot(0, w, requestClose); };
    world.desktop.onRun = [&](const auto&) {
        requestClose();
        world.drives.write("c:\\windows\\tclink.exe", "#!/bin/sh\n");
        return std::optional<int>(0);
    };
    w->Form_Activate();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(w.isNull());
    EXPECT_EQ(readFile(programFolder / "tclink"), "#!/bin/sh\n");
    EXPECT_EQ(world.desktop.ran.size(), 1u);
}

// The bounds of the transfers: the signature at most 4 KiB, the update 256 MiB, each within
// 15 minutes; tests may lower them through the environment, never raise them.
TEST_F(Completion, TheTransfersAreBoundedInSizeAndTime)
{
    std::vector<std::pair<qint64, qint64>> bounds;
    const auto download = [&] {
        bounds.clear();
        TestWorld fresh;
        fresh.boxes.answers = {Answer::Yes};
        fresh.module.LineCode = "1";
        auto& w = fresh.module.showFrmupdate();
        fresh.transfer->body = "5";
        w.UpdatePublicKey =
            QStringLiteral("RWQbJ7C2/0IEAgV4pwZimKi2aYA2WIJnOOBIuhpCiKUoapmk3f2qt6GP");
        fresh.transfer->states = {12};
        fresh.transfer->onExecute = [&](tclink::test::FakeTransfer& transfer) {
            bounds.emplace_back(transfer.MaximumFileSize, transfer.TransferTimeLimitMs);
        };
        w.Form_Activate();
    };
    download();
    EXPECT_EQ(bounds,
              (std::vector<std::pair<qint64, qint64>>{{4096, 900000}, {256 << 20, 900000}}));
    qputenv("TCLINK_TEST_UPDATE_SIZE_LIMIT", "1000");
    qputenv("TCLINK_TEST_UPDATE_TIME_LIMIT_MS", "999999999");
    download();
    qunsetenv("TCLINK_TEST_UPDATE_SIZE_LIMIT");
    qunsetenv("TCLINK_TEST_UPDATE_TIME_LIMIT_MS");
    EXPECT_EQ(bounds.at(1), std::make_pair(qint64(1000), qint64(900000)));
}

// A signed archive (the test key's signature, see update_checks_test.cpp): after the update
// c:\windows holds nothing the update brought, and what was there before is untouched.
TEST_F(Completion, NothingTheUpdateBroughtStaysInTheDownloadFolder)
{
    const QString vectors =
        qEnvironmentVariable("TCLINK_SOURCE_DIR") + QStringLiteral("/tests/update/signatures/");
    const auto vector = [&](const char* name) {
        QFile file(vectors + QString::fromLatin1(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const fs::path outside = world.drives.root() / "outside";
    writeFile(outside, "someone else's");
    world.drives.write("C:\\Program Files\\WinRAR\\winrar.exe", "#!");
    world.drives.write("c:\\windows\\system\\id.txt", "settings");
    world.drives.write("c:\\windows\\mine.txt", "kept");
    world.drives.write("c:\\windows\\replaced.txt", "before");
    world.desktop.onRun = [&](const auto&) {
        world.drives.write("c:\\windows\\tclink.exe", "#!/bin/sh\necho new\n");
        world.drives.write("c:\\windows\\libevil.so", "x");
        world.drives.write("c:\\windows\\.hidden", "x");
        world.drives.write("c:\\windows\\replaced.txt", "from the archive");
        world.drives.write("c:\\windows\\folder\\deep.txt", "x");
        fs::create_symlink(outside, world.drives.host("c:\\windows\\link"));
        return std::optional<int>(0);
    };
    world.boxes.answers = {Answer::Yes};
    auto& w = open("7");
    w.UpdatePublicKey = QString::fromLatin1(vector("test.pub").split('\n').value(1));
    world.transfer->states = {12};
    world.transfer->onExecute = [&](tclink::test::FakeTransfer& transfer) {
        const QString local = transfer.operations.back().section(QStringLiteral("  "), 2);
        world.drives.write(local,
                           vector(local.endsWith(".minisig") ? "good.minisig" : "tclink.exe"));
    };
    w.Form_Activate();
    ASSERT_EQ(readFile(programFolder / "tclink"), "#!/bin/sh\necho new\n");
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(world.drives.host("c:\\windows"))) {
        left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"mine.txt", "system"}));
    EXPECT_EQ(readFile(outside), "someone else's");
    EXPECT_EQ(world.drives.read("c:\\windows\\system\\id.txt"), "settings");
}
