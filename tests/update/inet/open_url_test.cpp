#include "peer.h"
#include "platform/runtime_error.h"
#include "update/inet/curl_transfer_control.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gmock/gmock.h>

namespace tclink::inet {
namespace {

using ::testing::HasSubstr;

const QString kVersionUrl = QStringLiteral("http://%1:9002/\\qtm演示版\\ver.txt");

void put(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

int numberOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const RuntimeError& error) {
        EXPECT_FALSE(error.description().isEmpty());
        return error.number();
    }
    return 0;
}

class OpenUrlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString telecom = root_.filePath(QStringLiteral("127.0.0.1/qtm演示版/"));
        put(telecom + "ver.txt", "7\r\n");
        put(telecom + "big.txt", QByteArray(200 * 1024, 'x'));
        put(root_.filePath(QStringLiteral("127.0.0.2/qtm演示版/ver.txt")),
            "\xB0\xE6\xB1\xBE 12"); // "版本 12" in the Chinese ANSI code page
        server_ = std::make_unique<testing::Peer>(QStringLiteral("update-http"),
                                                  QStringList{"--root", root_.path()});
    }

    QTemporaryDir root_;
    std::unique_ptr<testing::Peer> server_;
    CurlTransferControl inet_{[](const QString&) { return std::filesystem::path(); }};
};

TEST_F(OpenUrlTest, EachLineServesItsOwnVersionFileAsAnsiText)
{
    EXPECT_EQ(inet_.OpenURL(kVersionUrl.arg("127.0.0.1"), icString), QStringLiteral("7\r\n"));
    EXPECT_EQ(inet_.OpenURL(kVersionUrl.arg("127.0.0.2"), icString), QStringLiteral("版本 12"));
}

TEST_F(OpenUrlTest, ErrorPageComesBackAsTheBody)
{
    const QString body = inet_.OpenURL(QStringLiteral("http://127.0.0.1:9002/\\nowhere\\ver.txt"));
    EXPECT_THAT(body.toStdString(), HasSubstr("404"));
}

TEST_F(OpenUrlTest, BodyIsCutAt64KiB)
{
    const QString body =
        inet_.OpenURL(QStringLiteral("http://127.0.0.1:9002/\\qtm演示版\\big.txt"));
    EXPECT_EQ(body, QString(64 * 1024, u'x'));
}

TEST(OpenUrlFailureTest, RefusedConnectionRaisesConnectFailed)
{
    CurlTransferControl inet([](const QString&) { return std::filesystem::path(); });
    EXPECT_EQ(numberOf([&] { inet.OpenURL(QStringLiteral("http://127.0.0.1:1/\\ver.txt")); }),
              icConnectFailed);
    // The user is told in Chinese only: libcurl's own text goes to the diagnostics.
    try {
        inet.OpenURL(QStringLiteral("http://127.0.0.1:1/\\ver.txt"));
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.description(), QStringLiteral("无法连接到远程主机"));
    }
}

// A server that accepts the connection (the kernel does) but never answers: the request times
// out, and no window event runs while OpenURL waits.
TEST(OpenUrlFailureTest, SilentServerTimesOutWithoutRunningEvents)
{
    const testing::SilentListener server;
    CurlTransferControl inet([](const QString&) { return std::filesystem::path(); });
    inet.RequestTimeout = 1;
    bool eventRan = false;
    QTimer pending;
    pending.callOnTimeout([&] { eventRan = true; });
    pending.start(0);
    const QString url = QStringLiteral("http://127.0.0.1:%1/ver.txt").arg(server.port());
    EXPECT_EQ(numberOf([&] { inet.OpenURL(url); }), icInetTimeout);
    EXPECT_FALSE(eventRan);
}

} // namespace
} // namespace tclink::inet
