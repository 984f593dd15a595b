#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDirIterator>
#include <QLoggingCategory>
#include <QTemporaryFile>

#include <memory>

#include <fcntl.h>
#include <unistd.h>

#include "rdp_test_support.h"
#include "session/rdp/freerdp_control.h"

namespace tclink::rdp::test {
namespace {

// An endpoint of this test's own: no other test binds it.
const QString endpoint = QStringLiteral("127.0.9.9:7011");

// Everything the process writes to its standard error while this lives.
class CapturedStderr {
public:
    CapturedStderr()
    {
        file_.open();
        fflush(stderr);
        saved_ = dup(2);
        dup2(file_.handle(), 2);
    }
    ~CapturedStderr() { restore(); }

    QString text()
    {
        restore();
        file_.seek(0);
        return QString::fromUtf8(file_.readAll());
    }

private:
    void restore()
    {
        if (saved_ < 0)
            return;
        fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        saved_ = -1;
    }

    QTemporaryFile file_;
    int saved_ = -1;
};

QStringList rdpMessages;

void collect(QtMsgType, const QMessageLogContext& context, const QString& message)
{
    if (QByteArray(context.category) == "tclink.rdp")
        rdpMessages << message;
}

class Quiet : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!DemoServer::available())
            GTEST_SKIP() << "tclink-demo-server not built";
        ASSERT_TRUE(config.isValid());
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        ASSERT_TRUE(server.start(endpoint));
    }
    void TearDown() override { qunsetenv("XDG_CONFIG_HOME"); }

    // A full login and its end.
    void logInAndOut(QStringList& events)
    {
        FreeRdpControl control;
        EventLog log(control);
        logInTo(control, QStringLiteral("127.0.9.9"), 7011);
        control.Connect();
        log.waitFor("OnLoginComplete", 10000);
        control.RequestClose();
        log.waitFor("OnDisconnected", 5000);
        events = log.names;
    }

    QTemporaryDir config;
    DemoServer server;
};

// The client library reports errors (a closed connection is one) and would keep the server's
// self-signed certificate: by default none of it reaches the terminal and no file is left
// behind; with the category enabled its warnings and errors come through Qt's logging.
TEST_F(Quiet, FreeRdpSaysNothingAndStoresNoCertificateUnlessAsked)
{
    QStringList events;
    {
        CapturedStderr captured;
        logInAndOut(events);
        const QString text = captured.text();
        EXPECT_FALSE(text.contains("freerdp", Qt::CaseInsensitive)) << text.toStdString();
        EXPECT_FALSE(text.contains("@@@")) << text.toStdString();
    }
    EXPECT_TRUE(events.contains("OnLoginComplete")) << events.join(',').toStdString();
    QStringList files;
    for (QDirIterator it(config.path(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        files << it.next();
    EXPECT_TRUE(files.isEmpty()) << files.join(' ').toStdString();

    QLoggingCategory::setFilterRules("tclink.rdp=true");
    const QtMessageHandler previous = qInstallMessageHandler(collect);
    logInAndOut(events);
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules("");
    EXPECT_TRUE(events.contains("OnLoginComplete"));
    EXPECT_TRUE(rdpMessages.join('\n').contains("ERRCONNECT"))
        << rdpMessages.join('\n').toStdString();
}

// Asked for with WLOG_LEVEL, FreeRDP's log is printed as FreeRDP prints it: the test above,
// run again in a process with WLOG_LEVEL set, sees FreeRDP's lines on its terminal.
TEST(QuietUnlessAsked, WlogLevelGivesFreeRdpsOwnLogBack)
{
    if (!DemoServer::available())
        GTEST_SKIP() << "tclink-demo-server not built";
    QProcess again;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("WLOG_LEVEL", "ERROR");
    again.setProcessEnvironment(env);
    again.setProcessChannelMode(QProcess::MergedChannels);
    again.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=Quiet.*"});
    ASSERT_TRUE(again.waitForFinished(30000));
    const QByteArray output = again.readAll();
    EXPECT_TRUE(output.contains("[ERROR][com.freerdp")) << output.toStdString();
}

} // namespace
} // namespace tclink::rdp::test
