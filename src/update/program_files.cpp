#include "update/program_files.h"

#include "platform/file_errors.h"

#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tclink::update {
namespace {

void check(const std::error_code& error)
{
    if (error) {
        throw platform::fileError(error.value());
    }
}

void syncPath(const fs::path& path, int flags)
{
    if (const int fd = ::open(path.c_str(), flags); fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// A name beside `file` for a copy that is not complete yet.
fs::path staging(const fs::path& file)
{
    return file.parent_path() / ("." + file.filename().string() + ".new");
}

// Puts `source` at `target` (which must not exist) with all of its bytes on disk.
void stage(const fs::path& source, const fs::path& target, bool move)
{
    std::error_code error;
    if (move) {
        fs::rename(source, target, error);
        if (!error) {
            return;
        }
        if (error.value() != EXDEV) {
            check(error);
        }
    }
    fs::copy_file(source, target, error);
    check(error);
    syncPath(target, O_RDONLY);
    if (move) {
        fs::remove(source, error);
    }
}

} // namespace

void replaceProgram(const fs::path& downloaded, const fs::path& program, const fs::path& previous)
{
    std::error_code error;
    const fs::path newProgram = staging(program);
    const fs::path newPrevious = staging(previous);
    fs::remove(newProgram, error); // left by an earlier run that was cut short
    fs::remove(newPrevious, error);

    stage(downloaded, newProgram, true);
    fs::permissions(newProgram,
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec,
                    error);
    check(error);

    // A run killed after the previous program got its second name left both names on one
    // file; renaming a file over another name of itself would do nothing.
    const bool alreadyKept =
        fs::exists(previous, error) && fs::equivalent(program, previous, error);
    if (fs::exists(program, error) && !alreadyKept) {
        fs::create_hard_link(program, newPrevious, error);
        if (error) {
            stage(program, newPrevious, false); // no hard links here: a copy will do
        }
        fs::rename(newPrevious, previous, error);
        check(error);
    }
    fs::rename(newProgram, program, error);
    check(error);
    syncPath(program.parent_path(), O_RDONLY | O_DIRECTORY);
}

} // namespace tclink::update
