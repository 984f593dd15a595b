#include "launcher/frmbegin.h"
#include "support/doubles.h"

#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

using tclink::test::TestWorld;

TEST(Startup, DriveDCountsOnlyWithAnEntryAndTheLineComesFromItsFolder)
{
    struct Case {
        bool driveD;
        bool entryOnD;
        bool hasDriveD;
        QString lineCode;
    };
    for (const Case& c : {Case{false, false, false, "1"}, Case{true, false, false, "1"},
                          Case{true, true, true, "3"}}) {
        TestWorld world(c.driveD);
        world.drives.write("C:\\WINDOWS\\system\\xl.yp", "1");
        if (c.entryOnD) {
            world.drives.write("D:\\xl.yp", "3");
        }
        world.module.Main();
        EXPECT_EQ(world.module.HasDriveD, c.hasDriveD);
        EXPECT_EQ(world.module.LineCode, c.lineCode);
        // The update window comes first and opens the launcher when nothing is newer.
        ASSERT_NE(world.module.frmupdate(), nullptr);
        ASSERT_TRUE(QTest::qWaitFor([&] { return world.module.frmbegin() != nullptr; }, 5000));
        EXPECT_EQ(world.module.frmbegin()->Option3->isChecked(), c.lineCode == "3");
    }
}

TEST(Startup, AMissingLineFileLeavesTheLineEmpty)
{
    TestWorld world(true);
    world.drives.write("D:\\other", "x");
    world.module.Main();
    EXPECT_TRUE(world.module.HasDriveD);
    EXPECT_TRUE(world.module.LineCode.isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return world.module.frmbegin() != nullptr; }, 5000));
    EXPECT_TRUE(world.module.frmbegin()->Option2->isChecked());
}

TEST(Startup, AnUpdateWindowThatCannotBeMadeIsToldAndNothingOpens)
{
    TestWorld world;
    world.services.makeTransfer = [](QObject*) -> tclink::inet::InternetTransferControl* {
        throw tclink::RuntimeError(35750, QStringLiteral("无法打开传输连接"));
    };
    world.module.Main();
    ASSERT_EQ(world.boxes.shown.size(), 1u);
    EXPECT_EQ(world.boxes.shown[0].title, QStringLiteral("35750"));
    EXPECT_EQ(world.boxes.shown[0].prompt, QStringLiteral("无法打开传输连接"));
    EXPECT_EQ(world.module.frmupdate(), nullptr);
    EXPECT_EQ(world.module.frmbegin(), nullptr);
}
