#include <QMouseEvent>
#include <QScrollBar>
#include <gtest/gtest.h>

#include <memory>

#include "rdp_test_support.h"
#include "session/rdp/freerdp_control.h"
#include "session/rdp/reconnect_notice.h"

namespace tclink::rdp::test {
namespace {

// A loopback endpoint of this test's own: no line server runs here.
const QString endpoint = QStringLiteral("127.0.0.1:7311");
constexpr QRgb desktopBand = qRgb(0, 84, 166);
constexpr QRgb exitRed = qRgb(200, 60, 40);

class SessionViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!DemoServer::available())
            GTEST_SKIP() << "tclink-demo-server not built";
        ASSERT_TRUE(server.start(endpoint, serverOptions));
        control = std::make_unique<FreeRdpControl>();
        logInTo(*control, QStringLiteral("127.0.0.1"), 7311);
        log = std::make_unique<EventLog>(*control);
    }

    void logIn()
    {
        control->show();
        control->Connect();
        ASSERT_TRUE(log->waitFor("OnLoginComplete", 10000)) << log->names.join(',').toStdString();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return control->grab().toImage().pixel(2, 2) == desktopBand; }, 5000));
    }

    void moveTo(QPoint local)
    {
        QMouseEvent move(QEvent::MouseMove, local, control->mapToGlobal(local), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(control.get(), &move);
    }

    void click(QPoint local)
    {
        for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent e(type, local, control->mapToGlobal(local), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                          Qt::NoModifier);
            QCoreApplication::sendEvent(control.get(), &e);
        }
    }

    bool waitForCursor(Qt::CursorShape shape)
    {
        return QTest::qWaitFor([&] { return control->cursor().shape() == shape; }, 5000);
    }

    QStringList serverOptions{"--tone-hz", "0"};
    DemoServer server;
    std::unique_ptr<FreeRdpControl> control;
    std::unique_ptr<EventLog> log;
};

// The link fails once, 1.5 s after the login.
class SessionAfterDropTest : public SessionViewTest {
protected:
    SessionAfterDropTest()
    {
        serverOptions << "--drop-after-ms"
                      << "1500";
    }
};

TEST_F(SessionViewTest, TheServersPointerIsTheControlsCursor)
{
    logIn();
    const int top = 480 - 64 + 18;

    moveTo({76, top}); // the text field: a colour I-beam with its hot spot
    ASSERT_TRUE(waitForCursor(Qt::BitmapCursor));
    QImage beam = control->cursor().pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(beam.size(), QSize(32, 32));
    EXPECT_EQ(control->cursor().hotSpot(), QPoint(16, 16));
    EXPECT_EQ(beam.pixel(15, 10), qRgba(0, 0, 0, 255));       // the ink, top row first
    EXPECT_EQ(beam.pixel(14, 10), qRgba(255, 255, 255, 255)); // its outline
    EXPECT_EQ(qAlpha(beam.pixel(2, 2)), 0);                   // around it: transparent

    moveTo({212, top}); // the link: a blue hand with a half-transparent shadow
    ASSERT_TRUE(QTest::qWaitFor([&] { return control->cursor().hotSpot() == QPoint(9, 0); }, 5000));
    const QImage hand = control->cursor().pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(hand.pixel(9, 2), qRgba(0, 120, 215, 255)); // the finger points up
    EXPECT_EQ(qAlpha(hand.pixel(14, 2)), 0);
    EXPECT_EQ(qAlpha(hand.pixel(25, 20)), 128);

    moveTo({348, top}); // the server hides its pointer
    EXPECT_TRUE(waitForCursor(Qt::BlankCursor));
    moveTo({300, 200}); // elsewhere: the default pointer
    EXPECT_TRUE(waitForCursor(Qt::ArrowCursor));
}

TEST_F(SessionViewTest, ASmallerControlScrollsOverTheWholeDesktop)
{
    logIn();
    QScrollBar* across = nullptr;
    QScrollBar* down = nullptr;
    for (QScrollBar* bar : control->findChildren<QScrollBar*>())
        (bar->orientation() == Qt::Horizontal ? across : down) = bar;
    ASSERT_TRUE(across && down);
    EXPECT_FALSE(across->isVisible()); // the desktop fits: no bars
    EXPECT_FALSE(down->isVisible());

    control->resize(400, 300);
    ASSERT_TRUE(across->isVisible());
    ASSERT_TRUE(down->isVisible());
    const int viewWidth = 400 - down->width();
    const int viewHeight = 300 - across->height();
    EXPECT_EQ(across->maximum(), 640 - viewWidth);
    EXPECT_EQ(down->maximum(), 480 - viewHeight);

    // At the far end the exit button is in view where the offset puts it, and a click there
    // reaches it on the remote desktop.
    across->setValue(across->maximum());
    down->setValue(down->maximum());
    const QPoint offset(across->value(), down->value());
    const QPoint button = QPoint(504 + 60, 416 + 18) - offset;
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return control->grab().toImage().pixel(button) == exitRed; }, 5000));
    EXPECT_NE(control->grab().toImage().pixel(2, 2), desktopBand); // the top is scrolled away
    click(button);
    ASSERT_TRUE(log->waitFor("OnDisconnected", 10000));
    ASSERT_FALSE(server.events("logoff").isEmpty());
    EXPECT_EQ(server.events("logoff").first()["reason"], "exit");

    control->resize(640, 480); // large enough again: no bars
    EXPECT_FALSE(across->isVisible());
    EXPECT_FALSE(down->isVisible());
}

TEST_F(SessionAfterDropTest, OnceBackTheServersPointerIsTheControlsCursorAgain)
{
    logIn();
    const auto* notice = control->findChild<ReconnectNotice*>();
    ASSERT_TRUE(notice);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !notice->isHidden(); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return notice->isHidden(); }, 10000));
    ASSERT_EQ(server.events("resume").size(), 1);
    EXPECT_EQ(server.events("resume")[0]["ok"], "1");
    // The server takes the pointer from its logon on, a moment after the activation.
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.events("cookie").size() == 2; }, 5000));

    const int top = 480 - 64 + 18;
    moveTo({212, top}); // the link's hand
    EXPECT_TRUE(QTest::qWaitFor([&] { return control->cursor().hotSpot() == QPoint(9, 0); }, 5000));
    moveTo({76, top}); // the text field's I-beam
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return control->cursor().hotSpot() == QPoint(16, 16); }, 5000));
    moveTo({348, top}); // hidden
    EXPECT_TRUE(waitForCursor(Qt::BlankCursor));
    EXPECT_FALSE(log->has("OnDisconnected"));
}

} // namespace
} // namespace tclink::rdp::test
