#include "platform/runtime_error.h"
#include "update/program_files.h"

#include <QScopeGuard>
#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <random>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using tclink::update::replaceProgram;

namespace {

void write(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string read(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

class Replace : public testing::Test {
protected:
    Replace()
    {
        fs::create_directories(downloads);
        fs::create_directories(folder);
    }
    QTemporaryDir dir;
    fs::path root = fs::path(dir.path().toStdString());
    fs::path downloads = root / "downloads";
    fs::path folder = root / "program";
};

TEST_F(Replace, KeepsThePreviousProgramAndLeavesNothingElse)
{
    write(folder / "tclink", "old");
    write(downloads / "tclink.exe", "new");
    replaceProgram(downloads / "tclink.exe", folder / "tclink", folder / "tclinkold");
    EXPECT_EQ(read(folder / "tclink"), "new");
    EXPECT_EQ(read(folder / "tclinkold"), "old");
    EXPECT_FALSE(fs::exists(downloads / "tclink.exe"));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);
}

TEST_F(Replace, WorksWithoutAProgramInPlaceAndAcrossFileSystems)
{
    write(downloads / "tclink.exe", "new");
    replaceProgram(downloads / "tclink.exe", folder / "tclink", folder / "tclinkold");
    EXPECT_EQ(read(folder / "tclink"), "new");
    EXPECT_FALSE(fs::exists(folder / "tclinkold"));

    // /dev/shm is another file system than the temporary folder on most machines.
    const fs::path elsewhere = fs::path("/dev/shm") / ("tclink-test-" + std::to_string(getpid()));
    if (fs::is_directory("/dev/shm")) {
        write(elsewhere, "newer");
        replaceProgram(elsewhere, folder / "tclink", folder / "tclinkold");
        EXPECT_EQ(read(folder / "tclink"), "newer");
        EXPECT_EQ(read(folder / "tclinkold"), "new");
        EXPECT_FALSE(fs::exists(elsewhere));
    }
}

TEST_F(Replace, AMissingDownloadChangesNothing)
{
    write(folder / "tclink", "old");
    EXPECT_THROW(replaceProgram(downloads / "none", folder / "tclink", folder / "tclinkold"),
                 tclink::RuntimeError);
    EXPECT_EQ(read(folder / "tclink"), "old");
}

TEST_F(Replace, KilledAtAnyMomentTheFolderHoldsAWholeProgram)
{
    const std::string oldProgram(2 << 20, 'o');
    const std::string newProgram(3 << 20, 'n');
    std::mt19937 random(7);
    for (int run = 0; run < 40; ++run) {
        write(folder / "tclink", oldProgram);
        write(downloads / "tclink.exe", newProgram);
        const pid_t child = fork();
        if (child == 0) {
            try {
                replaceProgram(downloads / "tclink.exe", folder / "tclink", folder / "tclinkold");
            } catch (...) {
            }
            _exit(0);
        }
        usleep(std::uniform_int_distribution<useconds_t>(0, 20000)(random));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        const std::string program = read(folder / "tclink");
        EXPECT_TRUE(program == oldProgram || program == newProgram) << "run " << run;
        // The next update cleans up whatever a killed one left.
        write(downloads / "tclink.exe", newProgram);
        replaceProgram(downloads / "tclink.exe", folder / "tclink", folder / "tclinkold");
        EXPECT_TRUE(read(folder / "tclink") == newProgram);
        for (const auto& entry : fs::directory_iterator(folder)) {
            EXPECT_TRUE(entry.path().filename() == "tclink" ||
                        entry.path().filename() == "tclinkold")
                << entry.path();
        }
    }
}

// A full disk is told as such (std::filesystem::copy_file would call it an I/O error), and
// neither the program nor a half-written copy is left changed. Needs root for a small tmpfs.
TEST_F(Replace, AFullDiskIsToldAsFullAndChangesNothing)
{
    if (::mount("tclink-test", folder.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    }
    const auto unmount = qScopeGuard([this] { ::umount2(folder.c_str(), MNT_DETACH); });
    write(folder / "tclink", "old");
    write(downloads / "tclink.exe", std::string(256 * 1024, 'n'));
    try {
        replaceProgram(downloads / "tclink.exe", folder / "tclink", folder / "tclinkold");
        ADD_FAILURE() << "a program larger than the disk was installed";
    } catch (const tclink::RuntimeError& error) {
        EXPECT_EQ(error.number(), 61);
        EXPECT_EQ(error.description(), QStringLiteral("磁盘已满"));
    }
    EXPECT_EQ(read(folder / "tclink"), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    EXPECT_TRUE(fs::exists(downloads / "tclink.exe")); // kept for another try
}

TEST_F(Replace, LeftoversOfAnInterruptedReplacementAreRemoved)
{
    write(folder / "tclink", "old");
    write(folder / ".tclink.new", "half");
    write(folder / ".tclinkold.new", "half");
    tclink::update::removeStagingLeftovers(folder / "tclink", folder / "tclinkold");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    EXPECT_EQ(read(folder / "tclink"), "old");
}
