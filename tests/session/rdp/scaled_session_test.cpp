#include <QMouseEvent>
#include <gtest/gtest.h>

#include <memory>

#include "rdp_test_support.h"
#include "session/rdp/freerdp_control.h"

// Runs with QT_SCALE_FACTOR=2: a screen of two device pixels per logical pixel.
namespace tclink::rdp::test {
namespace {

// A loopback endpoint of this test's own: no line server runs here.
const QString endpoint = QStringLiteral("127.0.0.1:7312");
constexpr QRgb desktopBand = qRgb(0, 84, 166);
constexpr int bandHeight = 40; // the demo desktop's title band, in its own pixels

TEST(ScaledSession, TheDesktopIsAskedInDevicePixelsAndPaintedOneToOne)
{
    if (!DemoServer::available())
        GTEST_SKIP() << "tclink-demo-server not built";
    DemoServer server;
    ASSERT_TRUE(server.start(endpoint, {"--tone-hz", "0"}));
    FreeRdpControl control;
    control.resize(320, 240);
    control.Server = "127.0.0.1";
    control.AdvancedSettings2.RDPPort = 7312;
    control.UserName = account;
    control.setClearTextPassword(password);
    EventLog log(control);
    control.show();
    ASSERT_EQ(control.devicePixelRatioF(), 2.0);

    control.Connect();
    ASSERT_TRUE(log.waitFor("OnLoginComplete", 10000)) << log.names.join(',').toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !server.events("login").isEmpty(); }, 5000));
    const auto login = server.events("login").first();
    EXPECT_EQ(login["width"], "640");
    EXPECT_EQ(login["height"], "480");
    EXPECT_EQ(login["scale"], "200");
    EXPECT_EQ(login["devicescale"], "180");

    // Every remote pixel is one device pixel: the band ends exactly at its own height.
    QImage shown;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            shown = control.grab().toImage();
            return shown.pixel(4, bandHeight - 1) == desktopBand;
        },
        5000));
    EXPECT_EQ(shown.size(), QSize(640, 480));
    EXPECT_NE(shown.pixel(4, bandHeight), desktopBand);

    // Input goes back in device pixels: the exit button (device 504,416 120x36) at its
    // logical place logs off.
    const QPoint button((504 + 60) / 2, (416 + 18) / 2);
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent e(type, button, control.mapToGlobal(button), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                      Qt::NoModifier);
        QCoreApplication::sendEvent(&control, &e);
    }
    ASSERT_TRUE(log.waitFor("OnDisconnected", 10000));
    ASSERT_FALSE(server.events("logoff").isEmpty());
    EXPECT_EQ(server.events("logoff").first()["reason"], "exit");
}

} // namespace
} // namespace tclink::rdp::test
