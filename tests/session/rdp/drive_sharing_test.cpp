#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <iostream>

#include <sys/stat.h>
#include <unistd.h>

#include "session/rdp/drive_sharing.h"

namespace tclink::rdp {
namespace {

namespace fs = std::filesystem;

void touch(const fs::path& file)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "x";
}

// A home of its own (HOME, no XDG folders set) with the program's per-user copy, a folder on
// the command search path and the default drive C:.
class DriveSharing : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = {{"HOME", qgetenv("HOME")},
                  {"PATH", qgetenv("PATH")},
                  {"XDG_CONFIG_HOME", qgetenv("XDG_CONFIG_HOME")},
                  {"XDG_DATA_HOME", qgetenv("XDG_DATA_HOME")}};
        root = fs::canonical(dir_.path().toStdString());
        home = root / "home";
        driveC = home / ".local" / "share" / "tclink" / "drive_c";
        fs::create_directories(driveC);
        touch(home / ".bashrc");
        touch(home / ".local" / "lib" / "tclink" / "tclink");
        fs::create_directories(root / "bin");
        qputenv("HOME", QByteArray::fromStdString(home.string()));
        qputenv("PATH", QByteArray::fromStdString((root / "bin").string()) + ":/usr/bin");
        qunsetenv("XDG_CONFIG_HOME");
        qunsetenv("XDG_DATA_HOME");
    }
    void TearDown() override
    {
        for (const auto& [name, value] : saved_) {
            if (value.isNull())
                qunsetenv(name);
            else
                qputenv(name, value);
        }
    }

    DriveCheck check(const std::vector<SharedDrive>& drives)
    {
        return checkDrives(drives, protectedPlaces());
    }
    // Why a single drive C: at `folder` is refused; empty when it is shared.
    QString refusal(const fs::path& folder)
    {
        const DriveCheck result = check({{"C", folder}});
        EXPECT_EQ(result.drives.empty(), !result.refusal.isEmpty()) << folder;
        return result.refusal;
    }

    fs::path root;
    fs::path home;
    fs::path driveC;

    QTemporaryDir dir_;

private:
    std::vector<std::pair<const char*, QByteArray>> saved_;
};

TEST_F(DriveSharing, TheProgramsOwnDrivesAreSharedAsTheyAre)
{
    fs::create_directories(root / "D" / "数据");
    touch(root / "D" / "数据" / "客户.xls");
    fs::create_directory_symlink(root / "D", root / "link-to-D");
    const DriveCheck result = check({{"C", driveC}, {"D", root / "link-to-D"}});
    EXPECT_TRUE(result.refusal.isEmpty()) << result.refusal.toStdString();
    ASSERT_EQ(result.drives.size(), 2U);
    EXPECT_EQ(result.drives[0].name, "C");
    EXPECT_EQ(result.drives[0].folder, driveC);
    EXPECT_EQ(result.drives[1].folder, root / "D"); // the folder itself, not the link to it
}

TEST_F(DriveSharing, NoDriveHoldsOrLiesInWhatTheUserOrTheProgramRuns)
{
    for (const fs::path& folder : {
             home,                                       // ~/.bashrc, ~/.profile
             root,                                       // holds the home
             home / ".local",                            // holds the per-user copy
             home / ".local" / "lib" / "tclink",         // the per-user copy's folder
             home / ".local" / "lib" / "tclink" / "sub", // inside it
             home / ".config" / "autostart",             // desktop autostart
             home / ".local" / "share" / "applications", // menu entries
             home / ".local" / "bin",                    // on the usual search path
             home / "bin",                               // on Debian's search path too
             home / ".local" / "share" / "systemd",      // user services
             home / ".local" / "share" / "dbus-1",       // services started on demand
             home / ".ssh",                              // commands run at login
             home / ".gnupg",                            // programs gpg starts
             root / "bin",                               // on this search path
             fs::path(QCoreApplication::applicationDirPath().toStdString()), // the program
             fs::path("/"),
         }) {
        fs::create_directories(folder);
        EXPECT_FALSE(refusal(folder).isEmpty()) << folder;
    }
    // A name that leads there counts as where it leads.
    fs::create_directory_symlink(home, root / "home-link");
    EXPECT_FALSE(refusal(root / "home-link").isEmpty());
    // A hidden entry of the home that is a link into the drive: what the server writes there,
    // the login shell runs.
    fs::rename(home / ".bashrc", driveC / "bashrc");
    fs::create_symlink(driveC / "bashrc", home / ".bashrc");
    EXPECT_TRUE(refusal(driveC).contains(".bashrc")) << refusal(driveC).toStdString();
}

TEST_F(DriveSharing, ADriveHoldsOnlyPlainFilesAndFoldersOrNothingIsShared)
{
    const fs::path d = root / "D";
    fs::create_directories(d / "a" / "b");
    EXPECT_TRUE(refusal(d).isEmpty());

    const auto refusedFor = [&](const fs::path& entry) {
        const DriveCheck result = check({{"C", driveC}, {"D", d}});
        EXPECT_TRUE(result.drives.empty()) << entry; // C: was fine, but nothing is shared
        EXPECT_TRUE(result.refusal.contains(QString::fromStdString(entry.string())))
            << result.refusal.toStdString();
        fs::remove(entry);
        EXPECT_EQ(check({{"C", driveC}, {"D", d}}).drives.size(), 2U);
    };
    fs::create_directory_symlink(home, d / "a" / "home"); // FreeRDP follows links
    refusedFor(d / "a" / "home");
    fs::create_symlink(d / "a", d / "inside"); // even one that stays inside
    refusedFor(d / "inside");
    fs::create_symlink(home / "new", d / "a" / "b" / "dangling"); // creating through it
    refusedFor(d / "a" / "b" / "dangling");
    fs::create_hard_link(home / ".bashrc", d / "bashrc"); // writing it writes ~/.bashrc
    refusedFor(d / "bashrc");
    touch(d / "a" / "winrar.exe"); // the server could replace what is run from the drive
    fs::permissions(d / "a" / "winrar.exe", fs::perms::owner_exec, fs::perm_options::add);
    refusedFor(d / "a" / "winrar.exe");
    ASSERT_EQ(::mkfifo((d / "fifo").c_str(), 0600), 0);
    refusedFor(d / "fifo");

    EXPECT_FALSE(refusal(root / "missing").isEmpty());
    touch(root / "file");
    EXPECT_FALSE(refusal(root / "file").isEmpty());
}

TEST_F(DriveSharing, ADriveTooBigToLookThroughIsNotShared)
{
    // 100 folders and 19901 files: one entry too many. In memory where there is a place for it:
    // making 20000 files on a busy disk takes seconds.
    const QTemporaryDir memory(QDir("/dev/shm").exists() ? "/dev/shm/tclink-XXXXXX"
                                                         : dir_.filePath("D"));
    const fs::path d = memory.path().toStdString();
    for (int i = 0; i < 100; ++i)
        fs::create_directories(d / std::to_string(i));
    for (int i = 0; i < 19901; ++i)
        std::ofstream(d / std::to_string(i % 100) / std::to_string(i));
    QElapsedTimer clock;
    clock.start();
    const QString tooMany = refusal(d);
    std::cout << "looking through 20000 entries: " << clock.elapsed() << " ms\n";
    EXPECT_TRUE(tooMany.contains("20000 entries")) << tooMany.toStdString();
    fs::remove(d / "0" / "0");
    EXPECT_TRUE(refusal(d).isEmpty());
}

TEST_F(DriveSharing, AFolderTooLongForTheDriveChannelIsNotShared)
{
    fs::path deep = root;
    while (driveChannelPath(deep).size() < 260)
        deep /= "folder";
    fs::create_directories(deep);
    EXPECT_FALSE(refusal(deep).isEmpty());
    EXPECT_TRUE(refusal(deep.parent_path()).isEmpty());
}

} // namespace
} // namespace tclink::rdp
