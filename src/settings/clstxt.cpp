#include "settings/clstxt.h"

#include "platform/ansi_text.h"
#include "platform/drive_map.h"
#include "platform/file_errors.h"
#include "platform/runtime_error.h"
#include "settings/settings_paths.h"

#include <QStringList>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tclink::settings {
namespace {

[[noreturn]] void fail(int errorNumber)
{
    throw platform::fileError(errorNumber);
}

// A file without any write permission is read-only, as a file with the read-only attribute
// is on Windows: it is neither replaced nor deleted, whoever asks (even the superuser).
bool isReadOnly(const fs::file_status& status)
{
    constexpr auto writable =
        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    return fs::is_regular_file(status) && (status.permissions() & writable) == fs::perms::none;
}

// Writes all of `bytes` to a new file beside `target` and renames it over `target`. The new
// file keeps the permissions of the one it replaces; a read-only target fails as access denied.
void replaceFile(const fs::path& target, const QByteArray& bytes)
{
    std::error_code statusError;
    const fs::file_status old = fs::status(target, statusError);
    if (isReadOnly(old)) {
        fail(EACCES);
    }
    const auto mode = static_cast<mode_t>(
        fs::is_regular_file(old) ? static_cast<unsigned>(old.permissions() & fs::perms::mask)
                                 : 0644u);
    std::string temporary = (target.parent_path() / ("." + target.filename().string())).string();
    temporary += ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        fail(errno);
    }
    const auto discard = [&](int error) {
        ::close(fd);
        ::unlink(temporary.c_str());
        fail(error);
    };
    ::fchmod(fd, mode);
    const char* data = bytes.constData();
    size_t left = static_cast<size_t>(bytes.size());
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            discard(errno);
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
    if (::fsync(fd) != 0) {
        discard(errno);
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        fail(error);
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        fail(error);
    }
    // Make the rename itself durable.
    if (const int dir = ::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

} // namespace

void clstxt::txtwrite(const QString& dpath, const QString& writetxt) const
{
    std::error_code error;
    if (!fs::is_directory(drives_.require(dpath), error)) {
        // Folder pass: each folder on the way, outermost first, is created when missing.
        for (qsizetype at = dpath.indexOf(QChar('\\')); at >= 0;
             at = dpath.indexOf(QChar('\\'), at + 1)) {
            const fs::path folder = drives_.require(dpath.left(at + 1));
            if (!fs::is_directory(folder, error)) {
                if (!fs::create_directory(folder, error) && error) {
                    fail(error.value());
                }
            }
        }
    }
    replaceFile(drives_.require(dpath), platform::toAnsi(writetxt));
}

QString clstxt::txtread(const QString& dpath) const
{
    const auto path = drives_.resolve(dpath);
    std::error_code error;
    if (!path || !fs::is_regular_file(*path, error)) {
        return {};
    }
    std::FILE* file = std::fopen(path->c_str(), "rb");
    if (!file) {
        return {};
    }
    QByteArray bytes(MaxLineBytes, Qt::Uninitialized);
    const size_t got = std::fread(bytes.data(), 1, static_cast<size_t>(bytes.size()), file);
    std::fclose(file);
    bytes.truncate(static_cast<qsizetype>(got));
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' || bytes[i] == '\n') {
            bytes.truncate(i);
            break;
        }
    }
    return platform::fromAnsi(bytes);
}

void clstxt::txtdel(const QString& dpath) const
{
    const fs::path path = drives_.require(dpath);
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (isReadOnly(status)) {
        fail(EACCES);
    }
    if (fs::is_regular_file(status) && !fs::remove(path, error)) {
        fail(error.value());
    }
}

QString trimSpaces(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == QChar(' ')) {
        ++begin;
    }
    while (end > begin && text[end - 1] == QChar(' ')) {
        --end;
    }
    return text.mid(begin, end - begin);
}

} // namespace tclink::settings
