#include "platform/drive_map.h"

#include "platform/file_errors.h"

#include <QDir>
#include <QStandardPaths>
#include <QStringList>
#include <cstdlib>
#include <system_error>

namespace fs = std::filesystem;

namespace tclink::platform {
namespace {

fs::path toPath(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.constData()),
                                  static_cast<size_t>(utf8.size())));
}

QString fromPath(const fs::path& path)
{
    const std::u8string text = path.u8string();
    return QString::fromUtf8(reinterpret_cast<const char*>(text.data()),
                             static_cast<qsizetype>(text.size()));
}

// The existing entry of `folder` whose name equals `name` but for letter case; the name as
// written when there is none.
fs::path matchComponent(const fs::path& folder, const QString& name)
{
    std::error_code error;
    const fs::path exact = folder / toPath(name);
    if (fs::symlink_status(exact, error).type() != fs::file_type::not_found && !error) {
        return exact;
    }
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const fs::path candidate = it->path();
        if (fromPath(candidate.filename()).compare(name, Qt::CaseInsensitive) == 0) {
            return candidate;
        }
    }
    return exact;
}

fs::path dataFolder()
{
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
        return fs::path(xdg) / "tclink";
    }
    return toPath(QDir::homePath()) / ".local" / "share" / "tclink";
}

} // namespace

DriveMap::DriveMap(std::map<QChar, Drive> drives) : drives_(std::move(drives)) {}

DriveMap DriveMap::fromEnvironment()
{
    const auto fromEnv = [](const char* name) -> std::optional<fs::path> {
        const char* value = std::getenv(name);
        if (value && *value) {
            return fs::path(value);
        }
        return std::nullopt;
    };
    std::map<QChar, Drive> drives;
    const auto c = fromEnv("TCLINK_DRIVE_C");
    drives[QChar('C')] = Drive{c.value_or(dataFolder() / "drive_c"), !c.has_value()};
    drives[QChar('D')] = Drive{fromEnv("TCLINK_DRIVE_D").value_or(dataFolder() / "drive_d"), false};
    return DriveMap(std::move(drives));
}

std::optional<fs::path> DriveMap::root(QChar letter) const
{
    const auto it = drives_.find(letter.toUpper());
    if (it == drives_.end()) {
        return std::nullopt;
    }
    std::error_code error;
    if (it->second.createWhenNeeded) {
        fs::create_directories(it->second.folder, error);
    }
    if (!fs::is_directory(it->second.folder, error)) {
        return std::nullopt;
    }
    return it->second.folder;
}

std::optional<fs::path> DriveMap::resolve(const QString& windowsPath) const
{
    if (windowsPath.size() < 2 || windowsPath[1] != QChar(':') || !windowsPath[0].isLetter()) {
        return std::nullopt;
    }
    const QString rest = windowsPath.mid(2);
    if (!rest.isEmpty() && rest[0] != QChar('\\') && rest[0] != QChar('/')) {
        return std::nullopt; // drive-relative paths other than the bare drive are not served
    }
    std::optional<fs::path> path = root(windowsPath[0]);
    if (!path) {
        return std::nullopt;
    }
    const QStringList parts = QString(rest).replace(QChar('/'), QChar('\\')).split(QChar('\\'));
    for (const QString& part : parts) {
        if (part.isEmpty() || part == QLatin1String(".")) {
            continue;
        }
        if (part == QLatin1String("..")) {
            if (*path != *root(windowsPath[0])) {
                *path = path->parent_path();
            }
            continue;
        }
        *path = matchComponent(*path, part);
    }
    return path;
}

fs::path DriveMap::require(const QString& windowsPath) const
{
    if (auto path = resolve(windowsPath)) {
        return *path;
    }
    throw driveNotReady();
}

QString DriveMap::firstEntry(QChar letter) const
{
    const auto folder = root(letter);
    if (!folder) {
        return {};
    }
    // Hidden entries do not count, as a plain directory query on Windows leaves them out.
    std::error_code error;
    for (fs::directory_iterator it(*folder, error), end; !error && it != end; it.increment(error)) {
        const QString name = fromPath(it->path().filename());
        if (!name.startsWith(QChar('.'))) {
            return name;
        }
    }
    return {};
}

QString hostString(const fs::path& path)
{
    return fromPath(path);
}

} // namespace tclink::platform
