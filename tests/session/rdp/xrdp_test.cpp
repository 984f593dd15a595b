#include <QDir>
#include <QFile>
#include <QMouseEvent>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "rdp_test_support.h"
#include "session/rdp/freerdp_control.h"

namespace tclink::rdp::test {
namespace {

// A real xrdp on 127.0.0.1:7011, run by tools/servers/xrdp in a state folder of this test.
class XrdpTest : public ::testing::Test {
protected:
    static QString script()
    {
        return qEnvironmentVariable("TCLINK_SOURCE_DIR") + "/tools/servers/xrdp";
    }

    static void SetUpTestSuite()
    {
        if (!QFile::exists(script()))
            return;
        state = new QTemporaryDir;
        started = run("start");
    }

    static void TearDownTestSuite()
    {
        if (state) {
            run("stop");
            delete state;
            state = nullptr;
        }
    }

    static bool run(const QString& command)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedChannels);
        p.start(script(), {command, "--state", state->path()});
        return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit &&
               p.exitCode() == 0;
    }

    void SetUp() override
    {
        if (!QFile::exists(script()))
            GTEST_SKIP() << "tools/servers/xrdp is absent: no xrdp to test against";
        ASSERT_TRUE(started) << "tools/servers/xrdp start failed";
        control.resize(800, 600);
        control.Server = "127.0.0.1";
        control.AdvancedSettings2.RDPPort = 7011;
    }

    // The markers of one kind, without those still being written (*.tmp).
    QStringList markers(const QString& prefix) const
    {
        QStringList names =
            QDir(state->filePath("markers")).entryList({prefix + ".*"}, QDir::Files);
        names.removeIf([](const QString& name) { return name.endsWith(".tmp"); });
        return names;
    }

    // For a failure's message: the session's markers and the end of each of xrdp's logs.
    QString serverReport() const
    {
        QString report =
            "markers: " + QDir(state->filePath("markers")).entryList(QDir::Files).join(' ');
        for (const QString& name : QDir(state->filePath("logs")).entryList(QDir::Files)) {
            QFile file(state->filePath("logs/" + name));
            if (file.open(QIODevice::ReadOnly))
                report += "\n===== " + name + "\n" + QString::fromUtf8(file.readAll().right(3000));
        }
        return report;
    }

    static inline QTemporaryDir* state = nullptr;
    static inline bool started = false;
    FreeRdpControl control;
    EventLog log{control};
};

TEST_F(XrdpTest, WithoutAccountTheConnectionStillStands)
{
    control.Connect();
    ASSERT_TRUE(log.waitFor("OnConnected", 10000)) << log.names.join(',').toStdString();
    EXPECT_EQ(log.names, QStringList({"OnConnecting", "OnConnected"}));
    control.RequestClose();
    ASSERT_TRUE(log.waitFor("OnDisconnected", 5000));
    EXPECT_EQ(log.reason, 1);
}

TEST_F(XrdpTest, AProbeEndsByItselfOnceXrdpHasAnswered)
{
    control.ProbeOnly = true;
    control.Connect();
    ASSERT_TRUE(log.waitFor("OnDisconnected", 10000)) << log.names.join(',').toStdString();
    EXPECT_EQ(log.names, QStringList({"OnConnecting", "OnConnected", "OnDisconnected"}));
    EXPECT_EQ(log.reason, 1);
}

// xrdp sends no logon notice; its channel server tells the device channel that the user
// logged on, and that completes the login.
TEST_F(XrdpTest, StartProgramRunsTheLoginCompletesAndTheProgramsEndEndsTheSession)
{
    control.UserName = account;
    control.setClearTextPassword(password);
    control.SecuredSettings2.StartProgram = startProgram;
    control.AdvancedSettings2.RedirectDrives = true;
    control.AdvancedSettings2.RedirectPrinters = true;
    control.AdvancedSettings2.RedirectPorts = true;
    control.Connect();
    ASSERT_TRUE(log.waitFor("OnConnected", 10000)) << log.names.join(',').toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !markers("started").isEmpty(); }, 20000))
        << "the start program did not start";
    // Ended before xrdp has connected to the session's channel server, the session's end
    // would reach no client for about 16 s: the marker says whether that connection stands.
    QFile marker(state->filePath("markers/" + markers("started").first()));
    ASSERT_TRUE(marker.open(QIODevice::ReadOnly));
    ASSERT_TRUE(marker.readAll().split('\n').contains("session=ready"))
        << "xrdp did not finish setting up the session";
    ASSERT_TRUE(log.waitFor("OnLoginComplete", 10000)) << log.names.join(',').toStdString();
    EXPECT_EQ(log.names, QStringList({"OnConnecting", "OnConnected", "OnLoginComplete"}));

    QFile stop(state->filePath("stop-bizdesk"));
    ASSERT_TRUE(stop.open(QIODevice::WriteOnly));
    stop.close();
    const qint64 stoppedAt = log.elapsed();
    ASSERT_TRUE(log.waitFor("OnDisconnected", 10000));
    EXPECT_LT(log.disconnectedAt - stoppedAt, 3000) << "the session's end came late";
    EXPECT_EQ(log.reason, 2); // the session's user logged off
    EXPECT_EQ(control.ExtendedDisconnectReason(), 12);
    QFile::remove(stop.fileName());
}

// The part of a pointer picture that is drawn.
QRect opaqueArea(const QImage& image)
{
    QRect opaque;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 0)
                opaque |= QRect(x, y, 1, 1);
    return opaque;
}

// Whether a pointer picture is an I-beam: a tall, narrow bar (X's is 8 x 14 pixels with its
// outline; its arrow is 11 wide, its cross 5 tall).
bool isIBeam(const QCursor& cursor)
{
    if (cursor.shape() != Qt::BitmapCursor)
        return false;
    const QRect opaque = opaqueArea(cursor.pixmap().toImage());
    return opaque.height() >= 12 && opaque.width() <= 9 &&
           2 * opaque.height() >= 3 * opaque.width();
}

std::string describe(const QCursor& cursor)
{
    if (cursor.shape() != Qt::BitmapCursor)
        return "shape " + std::to_string(cursor.shape());
    const QImage image = cursor.pixmap().toImage();
    const QRect opaque = opaqueArea(image);
    return "a picture of " + std::to_string(image.width()) + "x" + std::to_string(image.height()) +
           ", drawn " + std::to_string(opaque.width()) + "x" + std::to_string(opaque.height());
}

TEST_F(XrdpTest, ThePointerOverATextAreaIsItsIBeam)
{
    // xterm as the start program: at the top left of the session, with its I-beam pointer;
    // the session's bare root window around it has another.
    control.UserName = account;
    control.setClearTextPassword(password);
    // (with a fontconfig face: the session's X server has no bitmap fonts).
    control.SecuredSettings2.StartProgram = "xterm -fa Monospace -geometry 60x20+0+0";
    control.show();
    control.Connect();
    ASSERT_TRUE(log.waitFor("OnConnected", 10000)) << log.names.join(',').toStdString();
    const auto moveTo = [&](QPoint local) {
        QMouseEvent move(QEvent::MouseMove, local, control.mapToGlobal(local), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&control, &move);
    };
    // Again and again while the session's programs start, each time from outside the text
    // area: xrdp 0.10 drops the pointer picture that comes with the session's first picture,
    // so a pointer that is already over xterm when xrdp joins the session (xterm covers the
    // middle, where X puts it) stays xrdp's own dot until the pointer changes.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            moveTo({700, 550});
            QTest::qWait(100);
            moveTo({60, 60});
            QTest::qWait(100);
            return isIBeam(control.cursor());
        },
        20000))
        << "no I-beam over the text area; the pointer: " << describe(control.cursor()) << "\n"
        << serverReport().toStdString();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            moveTo({700, 550});
            QTest::qWait(100);
            return control.cursor().shape() == Qt::BitmapCursor && !isIBeam(control.cursor());
        },
        5000))
        << "the I-beam stayed outside the text area";
    control.RequestClose();
    ASSERT_TRUE(log.waitFor("OnDisconnected", 5000));
}

} // namespace
} // namespace tclink::rdp::test
