#include "support/doubles.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using tclink::platform::DriveMap;
using tclink::test::TempDrives;

TEST(DriveMap, MatchesEachComponentWithoutRegardToCaseAndCreatesInTheCaseWritten)
{
    TempDrives drives;
    fs::create_directories(drives.driveC() / "WINDOWS" / "system");
    EXPECT_EQ(drives.map().resolve("c:\\windows\\SYSTEM\\id.txt"),
              drives.driveC() / "WINDOWS" / "system" / "id.txt");
    EXPECT_EQ(drives.map().resolve("C:\\Program Files\\WinRAR\\"),
              drives.driveC() / "Program Files" / "WinRAR");
    EXPECT_EQ(drives.map().resolve("C:/WINDOWS/../windows/x"), drives.driveC() / "WINDOWS" / "x");
    EXPECT_EQ(drives.map().resolve("C:\\..\\..\\etc"), drives.driveC() / "etc");
}

TEST(DriveMap, RefusesWhatNamesNoDrive)
{
    TempDrives drives;
    EXPECT_FALSE(drives.map().resolve("D:\\id.txt")); // no folder for D:
    EXPECT_FALSE(drives.map().resolve("E:\\x"));
    EXPECT_FALSE(drives.map().resolve("id.txt"));
    EXPECT_FALSE(drives.map().resolve("C:relative"));
    EXPECT_TRUE(drives.map().resolve("C:"));
}

TEST(DriveMap, TheDriveTestSeesTheFirstVisibleEntryOfD)
{
    TempDrives none;
    EXPECT_EQ(none.map().firstEntry('D'), QString());

    TempDrives empty(true);
    EXPECT_EQ(empty.map().firstEntry('D'), QString());
    fs::create_directories(empty.driveD() / ".hidden");
    EXPECT_EQ(empty.map().firstEntry('D'), QString());

    TempDrives used(true);
    fs::create_directories(used.driveD() / "数据");
    EXPECT_EQ(used.map().firstEntry('d'), QStringLiteral("数据"));
}

TEST(DriveMap, SystemDriveIsCreatedWhenFirstNeeded)
{
    QTemporaryDir dir;
    const fs::path c = fs::path(dir.path().toStdString()) / "drive_c";
    const DriveMap map({{QChar('C'), {c, true}}});
    EXPECT_FALSE(fs::exists(c));
    EXPECT_EQ(map.resolve("C:\\x"), c / "x");
    EXPECT_TRUE(fs::is_directory(c));
}

TEST(DriveMap, EnvironmentNamesTheDriveFolders)
{
    QTemporaryDir dir;
    const QByteArray oldC = qgetenv("TCLINK_DRIVE_C");
    const QByteArray oldD = qgetenv("TCLINK_DRIVE_D");
    qputenv("TCLINK_DRIVE_C", (dir.path() + "/c").toUtf8());
    qputenv("TCLINK_DRIVE_D", (dir.path() + "/d").toUtf8());
    fs::create_directories(dir.path().toStdString() + "/c");
    const DriveMap map = DriveMap::fromEnvironment();
    EXPECT_EQ(map.root('C'), fs::path(dir.path().toStdString()) / "c");
    EXPECT_FALSE(map.root('D')); // its folder does not exist
    qputenv("TCLINK_DRIVE_C", oldC);
    qputenv("TCLINK_DRIVE_D", oldD);
}
