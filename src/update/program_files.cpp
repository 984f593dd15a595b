#include "update/program_files.h"

#include "platform/file_errors.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
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

// Flushes a file's (or folder's) data to the disk; a write-back error (a full disk, for one)
// shows here at the latest.
void syncPath(const fs::path& path, int flags)
{
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) {
        throw platform::fileError(errno);
    }
    const int result = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    if (result != 0 && error != EINVAL) { // some file systems cannot sync folders
        throw platform::fileError(error);
    }
}

// Copies `source` to a new file `target`, reporting the system's own reason when it fails
// (std::filesystem::copy_file turns a full disk into an I/O error). A failed copy is removed.
void copyFile(const fs::path& source, const fs::path& target)
{
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        throw platform::fileError(errno);
    }
    const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        throw platform::fileError(error);
    }
    struct stat info {};
    int error = ::fstat(in, &info) == 0 && ::fchmod(out, info.st_mode & 07777) == 0 ? 0 : errno;
    char buffer[65536];
    while (error == 0) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got <= 0) {
            error = got < 0 ? errno : 0;
            break;
        }
        for (ssize_t done = 0; done < got && error == 0;) {
            const ssize_t put = ::write(out, buffer + done, static_cast<size_t>(got - done));
            if (put < 0) {
                error = errno;
            } else {
                done += put;
            }
        }
    }
    if (error == 0 && ::fsync(out) != 0) {
        error = errno;
    }
    ::close(in);
    if (::close(out) != 0 && error == 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(target.c_str());
        throw platform::fileError(error);
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
            syncPath(target, O_RDONLY);
            return;
        }
        if (error.value() != EXDEV) {
            check(error);
        }
    }
    copyFile(source, target);
    if (move) {
        fs::remove(source, error);
    }
}

// rwxr-xr-x. Never through a link: chmod on a link's name changes the file it points to.
void makeExecutable(const fs::path& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    const int failure = fd < 0 || ::fchmod(fd, 0755) != 0 ? errno : 0;
    if (fd >= 0) {
        ::close(fd);
    }
    if (failure != 0) {
        throw platform::fileError(failure);
    }
}

} // namespace

void removeStagingLeftovers(const fs::path& program, const fs::path& previous)
{
    std::error_code error;
    fs::remove(staging(program), error);
    fs::remove(staging(previous), error);
}

void replaceProgram(const fs::path& downloaded, const fs::path& program, const fs::path& previous)
{
    std::error_code error;
    const fs::path newProgram = staging(program);
    const fs::path newPrevious = staging(previous);
    removeStagingLeftovers(program, previous);

    stage(downloaded, newProgram, true);
    try {
        makeExecutable(newProgram);
    } catch (...) {
        fs::remove(newProgram, error);
        throw;
    }

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
