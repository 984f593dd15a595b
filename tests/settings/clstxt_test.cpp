#include "platform/runtime_error.h"
#include "settings/clstxt.h"
#include "settings/settings_paths.h"
#include "support/doubles.h"

#include <functional>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using tclink::RuntimeError;
using tclink::settings::clstxt;
using tclink::test::TempDrives;

class Store : public testing::Test {
protected:
    TempDrives drives{true};
    clstxt store{drives.map()};
};

TEST_F(Store, WritesAnsiTextWithoutLineBreakAndCreatesFoldersOutermostFirst)
{
    store.txtwrite("C:\\WINDOWS\\system\\id.txt", QStringLiteral("5kedomra240815演示"));
    EXPECT_EQ(drives.read("C:\\WINDOWS\\system\\id.txt"),
              QByteArray("5kedomra240815\xD1\xDD\xCA\xBE"));
    EXPECT_TRUE(fs::is_directory(drives.driveC() / "WINDOWS" / "system"));
    // Existing folders are found whatever their case; nothing new is made beside them.
    store.txtwrite("c:\\windows\\SYSTEM\\xl.yp", "3");
    EXPECT_EQ(drives.read("C:\\WINDOWS\\system\\xl.yp"), QByteArray("3"));
    EXPECT_EQ(std::distance(fs::directory_iterator(drives.driveC()), fs::directory_iterator()), 1);
}

TEST_F(Store, ReplacesALongerFileAndLeavesNoTemporaryFile)
{
    drives.write("D:\\id.txt", QByteArray(5000, 'x') + "\r\nmore");
    store.txtwrite("D:\\id.txt", " 12 ");
    EXPECT_EQ(drives.read("D:\\id.txt"), QByteArray(" 12 "));
    store.txtwrite("D:\\id.txt", "");
    EXPECT_EQ(drives.read("D:\\id.txt"), QByteArray());
    EXPECT_EQ(std::distance(fs::directory_iterator(drives.driveD()), fs::directory_iterator()), 1);
}

TEST_F(Store, ReadsTheFirstLineOnly)
{
    EXPECT_EQ(store.txtread("D:\\missing.txt"), QString());
    EXPECT_FALSE(fs::exists(drives.driveD() / "missing.txt"));
    drives.write("D:\\a", "");
    EXPECT_EQ(store.txtread("D:\\a"), QString());
    drives.write("D:\\a", "first\r\nsecond");
    EXPECT_EQ(store.txtread("d:\\A"), "first");
    drives.write("D:\\a", "mac\rsecond");
    EXPECT_EQ(store.txtread("D:\\a"), "mac");
    drives.write("D:\\a", "3 \nx");
    EXPECT_EQ(store.txtread("D:\\a"), "3 ");
    drives.write("D:\\a", "\xD1\xDD\xCA\xBE");
    EXPECT_EQ(store.txtread("D:\\a"), QStringLiteral("演示"));
    fs::create_directories(drives.driveD() / "folder");
    EXPECT_EQ(store.txtread("D:\\folder"), QString());
    EXPECT_EQ(store.txtread("E:\\x"), QString());
}

TEST_F(Store, AHugeOrBinaryFileReadsABoundedLine)
{
    drives.write("D:\\big", QByteArray(3 * 1024 * 1024, '7'));
    EXPECT_EQ(store.txtread("D:\\big").size(), clstxt::MaxLineBytes);
    drives.write("D:\\bin", QByteArray("\x00\x01\xFE\n", 4));
    EXPECT_EQ(store.txtread("D:\\bin").size(), 3);
}

TEST_F(Store, FailuresReachTheCallerWithANumber)
{
    // A regular file where a folder must be.
    drives.write("C:\\WINDOWS", "not a folder");
    try {
        store.txtwrite("C:\\WINDOWS\\system\\id.txt", "x");
        FAIL() << "no error";
    } catch (const RuntimeError& error) {
        EXPECT_GT(error.number(), 0);
        EXPECT_FALSE(error.description().isEmpty());
    }
    EXPECT_THROW(store.txtwrite("E:\\id.txt", "x"), RuntimeError); // no such drive
    fs::create_directories(drives.driveD() / "id.txt");
    EXPECT_THROW(store.txtwrite("D:\\id.txt", "x"), RuntimeError); // a folder of that name
    EXPECT_TRUE(fs::is_directory(drives.driveD() / "id.txt"));
}

TEST_F(Store, DeletesFiles)
{
    store.txtdel("D:\\none");
    drives.write("D:\\id.txt", "x");
    store.txtdel("d:\\ID.TXT");
    EXPECT_FALSE(drives.read("D:\\id.txt"));
    EXPECT_THROW(store.txtdel("E:\\id.txt"), RuntimeError);
}

TEST_F(Store, AnInterruptedWriteLeavesTheOldContentWhole)
{
    drives.write("D:\\id.txt", "5kedomra240815old");
    const QByteArray big(8 * 1024 * 1024, 'n');
    for (int attempt = 0; attempt < 20; ++attempt) {
        const pid_t child = fork();
        if (child == 0) {
            try {
                store.txtwrite("D:\\id.txt", QString::fromLatin1(big));
            } catch (...) {
            }
            _exit(0);
        }
        usleep(static_cast<useconds_t>(attempt * 1500));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        const auto content = drives.read("D:\\id.txt");
        ASSERT_TRUE(content);
        EXPECT_TRUE(*content == "5kedomra240815old" || *content == big) << content->size();
        drives.write("D:\\id.txt", "5kedomra240815old");
    }
}

TEST_F(Store, AReadOnlyFileIsNeitherReplacedNorDeletedAndOthersKeepTheirPermissions)
{
    const fs::path id = drives.driveD() / "id.txt";
    drives.write("D:\\id.txt", "5kedomra240815old");
    fs::permissions(id, fs::perms::owner_read | fs::perms::group_read);
    for (const auto& attempt : {std::function<void()>([&] { store.txtwrite("D:\\id.txt", "x"); }),
                                std::function<void()>([&] { store.txtdel("d:\\ID.TXT"); })}) {
        try {
            attempt();
            FAIL() << "a read-only file was changed";
        } catch (const RuntimeError& error) {
            EXPECT_EQ(error.number(), 70); // access denied
        }
        EXPECT_EQ(drives.read("D:\\id.txt"), QByteArray("5kedomra240815old"));
        EXPECT_EQ(fs::status(id).permissions(), fs::perms::owner_read | fs::perms::group_read);
    }
    // Nothing was left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(drives.driveD()), fs::directory_iterator()), 1);

    // A writable file is replaced with its permissions as they were.
    const auto own = fs::perms::owner_read | fs::perms::owner_write;
    fs::permissions(id, own);
    store.txtwrite("D:\\id.txt", "new");
    EXPECT_EQ(drives.read("D:\\id.txt"), QByteArray("new"));
    EXPECT_EQ(fs::status(id).permissions(), own);
}
