#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QPainter>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

#include <tuple>

#include "rdp_test_support.h"
#include "session/rdp/clipboard_bridge.h"
#include "session/rdp/clipboard_formats.h"
#include "session/rdp/drive_sharing.h"
#include "session/rdp/freerdp_control.h"
#include "session/rdp/reconnect_notice.h"

namespace tclink::rdp::test {
namespace {

// A loopback endpoint of these tests alone: no other test binds it.
const QString endpoint = QStringLiteral("127.0.0.9:7312");

// What the demo server offers with --offer-clipboard.
const QString serverText = QStringLiteral("客户：华东机电设备有限公司\n电话：021-5550-1234");
constexpr QRgb serverImageCorner = qRgb(0, 84, 166);

QImage sample()
{
    QImage image(5, 3, QImage::Format_RGB32); // rows of 15 bytes: padded to 16 in a DIB
    image.fill(qRgb(10, 20, 30));
    image.setPixel(0, 0, qRgb(255, 0, 0));
    image.setPixel(4, 2, qRgb(0, 0, 255));
    return image;
}

TEST(ClipboardFormats, TextTravelsInEachFormAsWindowsKeepsIt)
{
    const QString text = QStringLiteral("中文 text\nline 2\r\nend");
    const QByteArray unicode = encodeText(formatUnicodeText, text);
    EXPECT_EQ(unicode.size(), (QStringLiteral("中文 text\r\nline 2\r\nend").size() + 1) * 2);
    EXPECT_EQ(unicode.left(2), QByteArray("\x2d\x4e", 2)); // 中 is U+4E2D, little-endian
    EXPECT_EQ(unicode.right(2), QByteArray(2, '\0'));
    EXPECT_EQ(decodeText(formatUnicodeText, unicode), QStringLiteral("中文 text\nline 2\nend"));

    // The ANSI forms are code page 936 (GB18030 here): 中文 is D6 D0 CE C4.
    EXPECT_EQ(encodeText(formatText, QStringLiteral("中文\n")),
              QByteArray("\xd6\xd0\xce\xc4\r\n", 7));
    EXPECT_EQ(decodeText(formatText, QByteArray("\xd6\xd0\xce\xc4\r\nA\0garbage", 15)),
              QStringLiteral("中文\nA"));
    EXPECT_EQ(decodeText(formatOemText, QByteArray("\xd6\xd0", 2)), QStringLiteral("中"));

    // Servers send text without its NUL, with junk after it, or with an odd byte count.
    EXPECT_EQ(decodeText(formatUnicodeText, QByteArray("A\0B\0\0\0C\0", 8)), "AB");
    EXPECT_EQ(decodeText(formatUnicodeText, QByteArray("A\0B", 3)), "A");
    EXPECT_EQ(decodeText(formatUnicodeText, QByteArray()), "");
}

TEST(ClipboardFormats, ServerFormatsArePickedByPreference)
{
    EXPECT_EQ(pickServerFormats({formatOemText, formatText, formatUnicodeText, 0xC00E}).text,
              formatUnicodeText);
    EXPECT_EQ(pickServerFormats({formatOemText, formatText}).text, formatText);
    EXPECT_EQ(pickServerFormats({formatOemText}).text, formatOemText);
    EXPECT_EQ(pickServerFormats({formatDibV5, formatDib}).image, formatDib);
    EXPECT_EQ(pickServerFormats({formatDibV5}).image, formatDibV5);
    const ServerFormats none = pickServerFormats({2, 0xC00E}); // a bitmap handle, a named format
    EXPECT_EQ(none.text, 0u);
    EXPECT_EQ(none.image, 0u);
    EXPECT_EQ(localFormats(true, true),
              (QList<quint32>{formatUnicodeText, formatText, formatOemText, formatDib}));
    EXPECT_TRUE(localFormats(false, false).isEmpty());
}

TEST(ClipboardFormats, ImagesTravelAsDeviceIndependentBitmaps)
{
    const QByteArray dib = encodeDib(sample());
    ASSERT_EQ(dib.size(), 40 + 16 * 3);
    EXPECT_EQ(qFromLittleEndian<qint32>(dib.constData() + 8), 3); // bottom-up
    const QImage back = decodeDib(dib);
    ASSERT_EQ(back.size(), QSize(5, 3));
    EXPECT_EQ(back.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(back.pixel(4, 2), qRgb(0, 0, 255));
    EXPECT_EQ(back.pixel(2, 1), qRgb(10, 20, 30));

    // What Windows writes too: 8-bit with a colour table, 32-bit with bit-field masks.
    for (const auto& [format, bytes] :
         {std::pair{QImage::Format_Indexed8, 4 * 256}, std::pair{QImage::Format_ARGB32, 0}}) {
        QByteArray file;
        QBuffer buffer(&file);
        buffer.open(QIODevice::WriteOnly);
        ASSERT_TRUE(sample().convertToFormat(format).save(&buffer, "BMP"));
        const QImage read = decodeDib(file.mid(14));
        ASSERT_EQ(read.size(), QSize(5, 3)) << "format " << format << " table " << bytes;
        EXPECT_EQ(read.pixel(0, 0), qRgb(255, 0, 0));
    }
    // A hand-made 32-bit bit-field bitmap: the masks follow the 40-byte header.
    QByteArray fields(40 + 12 + 4, '\0');
    qToLittleEndian<quint32>(40, fields.data());
    qToLittleEndian<qint32>(1, fields.data() + 4);
    qToLittleEndian<qint32>(1, fields.data() + 8);
    qToLittleEndian<quint16>(1, fields.data() + 12);
    qToLittleEndian<quint16>(32, fields.data() + 14);
    qToLittleEndian<quint32>(3, fields.data() + 16);
    qToLittleEndian<quint32>(0x00FF0000, fields.data() + 40);
    qToLittleEndian<quint32>(0x0000FF00, fields.data() + 44);
    qToLittleEndian<quint32>(0x000000FF, fields.data() + 48);
    qToLittleEndian<quint32>(0x00336699, fields.data() + 52);
    const QImage one = decodeDib(fields);
    ASSERT_EQ(one.size(), QSize(1, 1));
    EXPECT_EQ(one.pixel(0, 0) & 0xFFFFFF, 0x336699u);

    // Bad data gives no image and no crash.
    EXPECT_TRUE(decodeDib(QByteArray()).isNull());
    EXPECT_TRUE(decodeDib(dib.left(39)).isNull());
    EXPECT_TRUE(decodeDib(dib.left(50)).isNull());
    QByteArray huge = dib;
    qToLittleEndian<quint32>(0xFFFFFFF0u, huge.data()); // header size past the end
    EXPECT_TRUE(decodeDib(huge).isNull());
    QByteArray palette = dib;
    qToLittleEndian<quint16>(8, palette.data() + 14);
    qToLittleEndian<quint32>(0x7FFFFFFF, palette.data() + 32); // colour table past the end
    EXPECT_TRUE(decodeDib(palette).isNull());
}

class ClipboardSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!DemoServer::available())
            GTEST_SKIP() << "tclink-demo-server not built: " << DemoServer::binary().toStdString();
        control = std::make_unique<FreeRdpControl>();
        logInTo(*control, QStringLiteral("127.0.0.9"), 7312);
        log = std::make_unique<EventLog>(*control);
    }

    void TearDown() override
    {
        if (!control)
            return;
        control->Disconnect();
        std::ignore = log->waitFor("OnDisconnected", 5000);
    }

    void connect(const QStringList& serverOptions = {})
    {
        ASSERT_TRUE(server.start(endpoint, serverOptions)) << "demo server did not become ready";
        control->Connect();
        ASSERT_TRUE(log->waitFor("OnLoginComplete", 10000)) << log->names.join(',').toStdString();
    }

    QList<QMap<QString, QString>> waitForEvents(const QString& kind, qsizetype count)
    {
        std::ignore = QTest::qWaitFor([&] { return server.events(kind).size() >= count; }, 5000);
        return server.events(kind);
    }

    QClipboard* clipboard = QGuiApplication::clipboard();
    DemoServer server;
    std::unique_ptr<FreeRdpControl> control;
    std::unique_ptr<EventLog> log;
};

TEST_F(ClipboardSessionTest, WhatIsCopiedHereReachesTheServer)
{
    const QString text = QStringLiteral("合同编号：HT-2011-中文\n金额：12,500.00");
    clipboard->setText(text); // copied before the session: announced when the channel is up
    connect();
    auto received = waitForEvents("clipboard-in", 1);
    ASSERT_EQ(received.size(), 1);
    EXPECT_EQ(received[0]["format"], "unicode");
    EXPECT_EQ(received[0]["text"], text);

    clipboard->setImage(sample());
    received = waitForEvents("clipboard-in", 2);
    ASSERT_EQ(received.size(), 2);
    EXPECT_EQ(received[1]["format"], "image");
    EXPECT_EQ(received[1]["width"], "5");
    EXPECT_EQ(received[1]["height"], "3");
    EXPECT_EQ(received[1]["pixel"], "FF0000");
}

TEST_F(ClipboardSessionTest, WhatTheServerCopiesIsPastedHereOnlyWhenAskedFor)
{
    clipboard->setText(QStringLiteral("local"));
    connect({"--offer-clipboard"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !server.events("clipboard-in").isEmpty(); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return clipboard->mimeData() && clipboard->mimeData()->hasImage(); }, 5000));
    EXPECT_TRUE(server.events("clipboard-request").isEmpty()) << "nothing pasted yet";

    EXPECT_EQ(clipboard->text(), serverText);
    const QImage image = clipboard->image();
    ASSERT_EQ(image.size(), QSize(48, 32));
    EXPECT_EQ(image.pixel(0, 0), serverImageCorner);
    EXPECT_EQ(clipboard->text(), serverText);
    // Each format was fetched once; the server's contents were not sent back to it.
    EXPECT_EQ(server.events("clipboard-request").size(), 2);
    EXPECT_TRUE(server.events("clipboard-in").size() <= 1) << "only the local text before";
}

TEST_F(ClipboardSessionTest, AServerThatNeverAnswersLeavesThePasteEmptyAfterABoundedWait)
{
    clipboard->clear();
    connect({"--offer-clipboard", "--silent-clipboard"});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return clipboard->mimeData() && clipboard->mimeData()->hasText(); }, 5000));
    QElapsedTimer waited;
    waited.start();
    EXPECT_EQ(clipboard->text(), "");
    EXPECT_GE(waited.elapsed(), ClipboardBridge::answerLimit.count() - 100);
    EXPECT_LT(waited.elapsed(), ClipboardBridge::answerLimit.count() + 1000);
    // The session goes on: the next copy here still reaches the server.
    clipboard->setText(QStringLiteral("之后"));
    std::ignore = QTest::qWaitFor(
        [&] {
            for (const auto& e : server.events("clipboard-in"))
                if (e["text"] == QStringLiteral("之后"))
                    return true;
            return false;
        },
        5000);
    EXPECT_EQ(server.events("clipboard-in").last()["text"], QStringLiteral("之后"));
}

TEST_F(ClipboardSessionTest, ALateAnswerIsNeverTakenForTheNextRequests)
{
    clipboard->clear();
    // Each answer comes 2.5 s after its request: after the wait is given up.
    connect({"--offer-clipboard", "--clipboard-delay-ms", "2500"});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return clipboard->mimeData() && clipboard->mimeData()->hasImage(); }, 5000));
    EXPECT_TRUE(clipboard->image().isNull());
    // The image's bitmap arrives while the text is waited for: it must not be pasted as text.
    EXPECT_EQ(clipboard->text(), "");
}

// The link fails once after the login: the session comes back with its clipboard, and copying
// works both ways again.
TEST_F(ClipboardSessionTest, AfterTheLinkCameBackCopyingWorksBothWaysAgain)
{
    const auto texts = [&] {
        QStringList result;
        for (const auto& e : server.events("clipboard-in"))
            result << e["text"] + "@" + e["session"];
        return result;
    };
    clipboard->setText(QStringLiteral("之前"));
    connect({"--offer-clipboard", "--drop-after-ms", "2500"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return clipboard->text() == serverText; }, 5000));
    const QString session = server.events("connect").value(0)["session"];
    ASSERT_EQ(texts(), QStringList{QStringLiteral("之前@") + session});

    const auto* notice = control->findChild<ReconnectNotice*>();
    ASSERT_TRUE(notice);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !notice->isHidden(); }, 5000));
    clipboard->setText(QStringLiteral("本地"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return notice->isHidden(); }, 10000));
    // On a busy machine an attempt may fail after the server took it up: the one that
    // succeeded is the last.
    const auto resumed = server.events("resume");
    ASSERT_FALSE(resumed.isEmpty());
    EXPECT_EQ(resumed.last()["ok"], "1");
    EXPECT_EQ(resumed.last()["clipboard"], QStringLiteral("之前")); // kept by the session
    // What was copied here while away is announced once back, and the server's offer comes
    // here again.
    ASSERT_TRUE(QTest::qWaitFor([&] { return texts().size() == 2; }, 5000));
    EXPECT_EQ(texts().last(), QStringLiteral("本地@") + session);
    ASSERT_TRUE(QTest::qWaitFor([&] { return clipboard->text() == serverText; }, 5000));
    clipboard->setText(QStringLiteral("之后"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return texts().size() == 3; }, 5000));
    EXPECT_EQ(texts().last(), QStringLiteral("之后@") + session);
    EXPECT_FALSE(log->has("OnDisconnected"));
}

// A channel error (here the device channel's, on a request it cannot read) ends the session, and
// FreeRDP then says nothing of the clipboard channel going away as it frees it: what is copied
// here afterwards goes nowhere, and nothing reaches for the freed channel.
TEST_F(ClipboardSessionTest, AfterAChannelErrorWhatIsCopiedHereGoesNowhere)
{
    const QString peer = qEnvironmentVariable("TCLINK_BINARY_DIR") + "/tclink-broken-device-server";
    if (!QFile::exists(peer))
        GTEST_SKIP() << "tclink-broken-device-server not built";
    QTemporaryDir drive;
    ASSERT_TRUE(drive.isValid());
    control->AdvancedSettings2.RedirectDrives = true;
    control->setDriveFolders([&] {
        return std::vector<SharedDrive>{{"C", drive.path().toStdString()}};
    });
    clipboard->setText(QStringLiteral("之前"));
    ASSERT_TRUE(server.start(endpoint, {}, peer)) << "the peer did not become ready";
    control->Connect();
    ASSERT_TRUE(log->waitFor("OnDisconnected", 15000)) << log->names.join(',').toStdString();
    EXPECT_TRUE(log->has("OnFatalError")) << log->names.join(',').toStdString();

    clipboard->setText(QStringLiteral("之后"));
    QTest::qWait(300);
}

} // namespace
} // namespace tclink::rdp::test
