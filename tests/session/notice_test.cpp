#include "session/FrmExitMsg.h"
#include "support/doubles.h"

#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using tclink::test::TestWorld;

TEST(Notice, AMinimisedNoticeComesStraightBackWithItsCountdown)
{
    TestWorld world(true);
    auto& notice = world.module.showFrmExitMsg();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&notice));
    notice.setWindowState(Qt::WindowMinimized);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !(notice.windowState() & Qt::WindowMinimized); }, 1000));
    EXPECT_TRUE(notice.isVisible());
    EXPECT_TRUE(notice.Timer1->isActive());
    notice.showMinimized();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !notice.isMinimized() && notice.isVisible(); }, 1000));
}
