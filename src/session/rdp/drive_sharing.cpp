#include "session/rdp/drive_sharing.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdlib>
#include <optional>
#include <system_error>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace tclink::rdp {

namespace {

// FreeRDP's drive channel reads a drive's folder only up to this many bytes (MAX_PATH).
constexpr size_t channelPathLimit = 260;
// A drive with more entries than this is not looked through, and not shared.
constexpr int mostEntries = 20000;

fs::path fromEnvironment(const char* name, const fs::path& fallback)
{
    const char* value = std::getenv(name);
    return value && *value == '/' ? fs::path(value) : fallback;
}

// The place with the links in its existing part resolved, as FreeRDP's opening of it does.
fs::path resolved(const fs::path& place)
{
    std::error_code error;
    const fs::path path = fs::weakly_canonical(place, error);
    return error ? place.lexically_normal() : path;
}

// Whether `inner` is `outer` or lies inside it; both resolved.
bool within(const fs::path& inner, const fs::path& outer)
{
    auto i = inner.begin();
    for (auto o = outer.begin(); o != outer.end(); ++o, ++i) {
        if (o->empty())
            continue; // a trailing separator
        if (i == inner.end() || *i != *o)
            return false;
    }
    return true;
}

QString shown(const fs::path& path)
{
    return QString::fromStdString(path.string());
}

// Why the server must not have this folder (resolved), or nothing.
std::optional<QString> placeProblem(const fs::path& folder, const ProtectedPlaces& places)
{
    if (driveChannelPath(folder).size() >= channelPathLimit)
        return QStringLiteral("its path is too long for the drive channel");
    for (const fs::path& kept : places.kept) {
        if (within(resolved(kept), folder))
            return "it holds " + shown(kept);
    }
    for (const fs::path& tree : places.trees) {
        const fs::path place = resolved(tree);
        if (within(place, folder))
            return "it holds " + shown(tree);
        if (within(folder, place))
            return "it lies in " + shown(tree);
    }
    std::error_code error;
    for (fs::directory_iterator it(places.home, error), end; !error && it != end;
         it.increment(error)) {
        std::error_code linkError;
        if (it->path().filename().string().starts_with('.') && it->is_symlink(linkError) &&
            within(resolved(it->path()), folder))
            return shown(it->path()) + " leads into it";
    }
    return std::nullopt;
}

// Why what the folder holds must not be shared, or nothing.
std::optional<QString> contentProblem(const fs::path& folder)
{
    std::error_code error;
    int entries = 0;
    fs::recursive_directory_iterator it(folder, fs::directory_options::none, error);
    for (const fs::recursive_directory_iterator end; !error && it != end; it.increment(error)) {
        if (++entries > mostEntries)
            return QStringLiteral("it holds more than %1 entries").arg(mostEntries);
        struct stat info {};
        if (::lstat(it->path().c_str(), &info) != 0)
            return "cannot look at " + shown(it->path());
        if (S_ISDIR(info.st_mode))
            continue;
        if (S_ISLNK(info.st_mode))
            return shown(it->path()) + " is a link";
        if (!S_ISREG(info.st_mode))
            return shown(it->path()) + " is not a plain file";
        if (info.st_nlink > 1)
            return shown(it->path()) + " has another name";
        if (info.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH))
            return shown(it->path()) + " is executable";
    }
    if (error)
        return "cannot look through it: " + QString::fromStdString(error.message());
    return std::nullopt;
}

} // namespace

ProtectedPlaces protectedPlaces()
{
    ProtectedPlaces places;
    places.home = fs::path(QDir::homePath().toStdString());
    const fs::path& home = places.home;
    places.kept.push_back(home);
    if (QCoreApplication::instance())
        places.kept.emplace_back(QCoreApplication::applicationDirPath().toStdString());
    if (const char* path = std::getenv("PATH")) {
        for (const QString& folder : QString::fromLocal8Bit(path).split(':', Qt::SkipEmptyParts)) {
            if (folder.startsWith('/'))
                places.kept.emplace_back(folder.toStdString());
        }
    }
    const fs::path data = fromEnvironment("XDG_DATA_HOME", home / ".local" / "share");
    places.trees = {
        home / ".local" / "lib", // the per-user copy of the program; Python's user packages
        home / ".local" / "bin",
        home / "bin",
        fromEnvironment("XDG_CONFIG_HOME", home / ".config"), // autostart, user services
        data / "applications",
        data / "systemd",
        data / "dbus-1",
        home / ".ssh",
        home / ".gnupg",
    };
    return places;
}

DriveCheck checkDrives(const std::vector<SharedDrive>& wanted, const ProtectedPlaces& places)
{
    DriveCheck check;
    for (const SharedDrive& drive : wanted) {
        std::error_code error;
        const fs::path folder = fs::canonical(drive.folder, error);
        std::optional<QString> problem;
        if (error || !fs::is_directory(folder, error))
            problem = QStringLiteral("it is not a folder");
        if (!problem)
            problem = placeProblem(folder, places);
        if (!problem)
            problem = contentProblem(folder);
        if (problem) {
            check.drives.clear();
            check.refusal =
                QStringLiteral("drive %1 (%2) is not shared, nor any other: %3")
                    .arg(QString::fromStdString(drive.name), shown(drive.folder), *problem);
            return check;
        }
        check.drives.push_back({drive.name, folder});
    }
    return check;
}

std::string driveChannelPath(const fs::path& folder)
{
    return folder.string() + "//";
}

} // namespace tclink::rdp
