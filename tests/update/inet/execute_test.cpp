#include "peer.h"
#include "platform/runtime_error.h"
#include "update/inet/curl_transfer_control.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <gmock/gmock.h>

namespace tclink::inet {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

const QString kArchiveCommand = QStringLiteral("get  \\qtm演示版\\tclink.rar  c:\\windows\\tclink");

QByteArray pattern(qsizetype size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i) {
        data[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    }
    return data;
}

// An update server's folders (ROOT/<address>/qtm演示版/) and a drive C: whose c:\windows is a
// temporary folder. The transfer is watched state by state: the local file must not exist
// before icResponseCompleted.
class ExecuteTest : public ::testing::Test {
protected:
    ExecuteTest()
        : inet_([this](const QString& windowsPath) {
              const QString folder = QStringLiteral("c:\\windows\\");
              EXPECT_TRUE(windowsPath.startsWith(folder));
              const QString relative = windowsPath.mid(folder.size()).replace(u'\\', u'/');
              return std::filesystem::path(windows_.filePath(relative).toStdString());
          })
    {
        QObject::connect(&inet_, &InternetTransferControl::StateChanged, [this](int state) {
            states_.push_back(state);
            if (state != icResponseCompleted) {
                EXPECT_FALSE(QFile::exists(windows_.filePath(localName_)))
                    << "file present at state " << state;
            }
        });
        inet_.Protocol = icFTP;
        inet_.RemoteHost = QStringLiteral("127.0.0.1");
        inet_.RemotePort = 21;
        inet_.UserName = QStringLiteral("lantoxz");
        inet_.Password = QStringLiteral("k7r3m9t1q5w8");
    }

    void serve(const QString& address, const QByteArray& archive)
    {
        const QString folder = root_.filePath(address + QStringLiteral("/qtm演示版"));
        QDir().mkpath(folder);
        QFile file(folder + QStringLiteral("/tclink.rar"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(archive);
    }

    void startServer(const QStringList& options = {})
    {
        server_ = std::make_unique<testing::Peer>(QStringLiteral("update-ftp"),
                                                  QStringList{"--root", root_.path()} + options);
    }

    // Runs the transfer as the update window does: events are processed while it runs.
    void run(const QString& command = kArchiveCommand)
    {
        inet_.Execute(QString(), command);
        const QDeadlineTimer deadline(30000);
        while (inet_.StillExecuting() && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        }
        ASSERT_FALSE(inet_.StillExecuting());
    }

    QStringList windowsFolder() const
    {
        return QDir(windows_.path()).entryList(QDir::Files | QDir::Hidden);
    }
    static QByteArray read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir root_;
    QTemporaryDir windows_;
    std::unique_ptr<testing::Peer> server_;
    CurlTransferControl inet_;
    std::vector<int> states_;
    QString localName_ = QStringLiteral("tclink");
};

// Tests against the FTP test server, which listens on port 21 as the update server does.
class ExecuteFromServerTest : public ExecuteTest {
protected:
    void SetUp() override
    {
        if (!testing::mayListenOn(21)) {
            GTEST_SKIP() << "the FTP test server listens on port 21, which needs root";
        }
    }
};

TEST_F(ExecuteFromServerTest, DownloadReportsEveryStepAndPlacesTheFileAtTheEnd)
{
    const QByteArray archive = pattern(3 * 1024 * 1024 + 17);
    serve(QStringLiteral("127.0.0.1"), archive);
    serve(QStringLiteral("127.0.0.2"), "netcom");
    startServer();

    run();
    EXPECT_THAT(states_,
                ElementsAre(icHostResolvingHost, icHostResolved, icConnecting, icConnected,
                            icRequesting, icRequestSent, icReceivingResponse, icResponseReceived,
                            icDisconnecting, icDisconnected, icResponseCompleted));
    EXPECT_EQ(inet_.ResponseCode(), 0);
    EXPECT_TRUE(read(windows_.filePath(localName_)) == archive);
    EXPECT_THAT(windowsFolder(), ElementsAre("tclink"));

    // The other line's server, and a file name with a space.
    inet_.RemoteHost = QStringLiteral("127.0.0.2");
    localName_ = QStringLiteral("tclink 2");
    run(QStringLiteral("GET  \\qtm演示版\\tclink.rar  c:\\windows\\tclink 2"));
    EXPECT_EQ(read(windows_.filePath(QStringLiteral("tclink 2"))), "netcom");
}

TEST_F(ExecuteTest, StartingFailsAtOnceForABadCommandOrWhileBusy)
{
    const auto numberOf = [this](const QString& command) {
        try {
            inet_.Execute(QString(), command);
        } catch (const RuntimeError& error) {
            return error.number();
        }
        return 0;
    };
    EXPECT_EQ(numberOf(QStringLiteral("put  \\a  c:\\windows\\a")), icUnsupportedCommand);
    EXPECT_EQ(numberOf(QStringLiteral("get  \\qtm演示版\\tclink.rar")), icInvalidOperation);
    inet_.RemoteHost.clear();
    EXPECT_EQ(numberOf(kArchiveCommand), icNoRemoteHost);
    inet_.RemoteHost = QStringLiteral("127.0.0.1");
    EXPECT_EQ(numberOf(QStringLiteral("get  \\a  c:\\windows\\no folder\\a")), icRequestFailed);
    inet_.RemotePort = 1;

    inet_.Execute(QString(), kArchiveCommand);
    EXPECT_TRUE(inet_.StillExecuting());
    EXPECT_EQ(numberOf(kArchiveCommand), icExecuting);
    try {
        inet_.OpenURL(QStringLiteral("http://127.0.0.1:1/"));
        ADD_FAILURE() << "OpenURL ran during a transfer";
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.number(), icExecuting);
    }
}

TEST_F(ExecuteTest, RefusedConnectionEndsInErrorWithoutAFile)
{
    inet_.RemotePort = 1;
    run();
    EXPECT_THAT(states_, ElementsAre(icHostResolvingHost, icHostResolved, icConnecting, icError));
    EXPECT_EQ(inet_.ResponseCode(), icConnectFailed);
    EXPECT_THAT(windowsFolder(), IsEmpty());
}

// A server that accepts the connection but never greets: the reply time-out ends it.
TEST_F(ExecuteTest, SilentServerTimesOut)
{
    const testing::SilentListener server;
    inet_.RemotePort = server.port();
    inet_.RequestTimeout = 1;
    run();
    EXPECT_THAT(states_, ElementsAre(icHostResolvingHost, icHostResolved, icConnecting, icConnected,
                                     icDisconnected, icError));
    EXPECT_EQ(inet_.ResponseCode(), icInetTimeout);
    EXPECT_THAT(windowsFolder(), IsEmpty());
}

// A server that sends, but under the minimum rate, is given up after RequestTimeout seconds.
TEST_F(ExecuteFromServerTest, TricklingServerIsAbandoned)
{
    serve(QStringLiteral("127.0.0.1"), pattern(100000));
    startServer({"--rate", "300"});
    inet_.RequestTimeout = 2;
    QElapsedTimer clock;
    clock.start();
    run();
    EXPECT_LT(clock.elapsed(), 8000);
    EXPECT_EQ(states_.back(), icError);
    EXPECT_EQ(inet_.ResponseCode(), icInetTimeout);
    EXPECT_EQ(inet_.ResponseInfo(), QStringLiteral("请求超时")); // no library text, no paths
    EXPECT_THAT(windowsFolder(), IsEmpty());
}

// An update too large, or whose transfer outlasts its time limit (yet above the minimum rate),
// ends in error without a file.
TEST_F(ExecuteFromServerTest, TheSizeAndTimeBoundsEndATransfer)
{
    serve(QStringLiteral("127.0.0.1"), pattern(100000));
    startServer({"--rate", "4000"});
    inet_.MaximumFileSize = 99999;
    QElapsedTimer clock;
    clock.start();
    run();
    EXPECT_LT(clock.elapsed(), 3000); // refused at the announced size, before the data
    EXPECT_EQ(states_.back(), icError);
    EXPECT_EQ(inet_.ResponseCode(), icRequestFailed);
    EXPECT_THAT(windowsFolder(), IsEmpty());

    inet_.MaximumFileSize = 100000;
    inet_.TransferTimeLimitMs = 2000;
    states_.clear();
    clock.restart();
    run();
    EXPECT_GE(clock.elapsed(), 2000);
    EXPECT_LT(clock.elapsed(), 6000);
    EXPECT_EQ(states_.back(), icError);
    EXPECT_EQ(inet_.ResponseCode(), icInetTimeout);
    EXPECT_THAT(windowsFolder(), IsEmpty());
}

TEST_F(ExecuteFromServerTest, WrongPasswordEndsInErrorWithoutAFile)
{
    serve(QStringLiteral("127.0.0.1"), "data");
    startServer();
    inet_.Password = QStringLiteral("wrong");
    run();
    EXPECT_THAT(states_, ElementsAre(icHostResolvingHost, icHostResolved, icConnecting, icConnected,
                                     icRequesting, icDisconnected, icError));
    EXPECT_EQ(inet_.ResponseCode(), icRequestFailed);
    EXPECT_THAT(inet_.ResponseInfo().toStdString(), HasSubstr("530"));
    EXPECT_THAT(windowsFolder(), IsEmpty());
}

TEST_F(ExecuteFromServerTest, MissingRemoteFileEndsInErrorWithoutAFile)
{
    serve(QStringLiteral("127.0.0.1"), "data");
    startServer();
    run(QStringLiteral("get  \\qtm演示版\\tclink.exe  c:\\windows\\tclink"));
    EXPECT_THAT(states_, ElementsAre(icHostResolvingHost, icHostResolved, icConnecting, icConnected,
                                     icRequesting, icDisconnecting, icDisconnected, icError));
    EXPECT_EQ(inet_.ResponseCode(), icRequestFailed);
    EXPECT_THAT(inet_.ResponseInfo().toStdString(), HasSubstr("550"));
    EXPECT_THAT(windowsFolder(), IsEmpty());
}

// The server ends the data connection early but still reports the transfer complete.
TEST_F(ExecuteFromServerTest, ShortFileEndsInErrorWithoutAFile)
{
    serve(QStringLiteral("127.0.0.1"), pattern(500000));
    startServer({"--cut-after", "100000"});
    run();
    EXPECT_THAT(states_, ElementsAre(icHostResolvingHost, icHostResolved, icConnecting, icConnected,
                                     icRequesting, icRequestSent, icReceivingResponse,
                                     icDisconnected, icError));
    EXPECT_EQ(inet_.ResponseCode(), icRequestFailed);
    EXPECT_THAT(inet_.ResponseInfo().toStdString(), ::testing::Not(HasSubstr("501")));
    EXPECT_THAT(windowsFolder(), IsEmpty());
}

TEST_F(ExecuteFromServerTest, ServerKilledMidTransferLeavesNoFile)
{
    serve(QStringLiteral("127.0.0.1"), pattern(4 * 1024 * 1024));
    startServer({"--rate", "1000000"});
    QObject::connect(&inet_, &InternetTransferControl::StateChanged, [this](int state) {
        if (state == icReceivingResponse) {
            server_->stop();
        }
    });
    run();
    ASSERT_FALSE(states_.empty());
    EXPECT_EQ(states_.back(), icError);
    EXPECT_EQ(inet_.ResponseCode(), icRequestFailed);
    EXPECT_THAT(windowsFolder(), IsEmpty());
}

// Run by tclink_inet_unknown_host_test, where names cannot resolve.
TEST_F(ExecuteTest, UnknownHostFailsBothRequests)
{
    if (qEnvironmentVariableIsEmpty("TCLINK_ISOLATED_DNS")) {
        GTEST_SKIP() << "needs the isolated resolver of tclink_inet_unknown_host_test";
    }
    try {
        inet_.OpenURL(QStringLiteral("http://update.invalid:9002/\\qtm演示版\\ver.txt"));
        ADD_FAILURE() << "OpenURL succeeded";
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.number(), icConnectFailed);
        EXPECT_THAT(error.description().toStdString(), HasSubstr("找不到主机"));
    }
    inet_.RemoteHost = QStringLiteral("update.invalid");
    run();
    EXPECT_THAT(states_, ElementsAre(icHostResolvingHost, icError));
    EXPECT_EQ(inet_.ResponseCode(), icConnectFailed);
    EXPECT_THAT(windowsFolder(), IsEmpty());
}

} // namespace
} // namespace tclink::inet
