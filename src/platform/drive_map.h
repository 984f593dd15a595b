#pragma once

#include <QChar>
#include <QString>
#include <filesystem>
#include <map>
#include <optional>

namespace tclink::platform {

// Maps Windows drive letters to host folders and resolves Windows paths such as
// "C:\WINDOWS\system\id.txt" to host paths. Each component is matched without regard to letter
// case, as Windows does; a component that does not exist keeps the case written, so what is created
// takes it.
class DriveMap {
public:
    struct Drive {
        std::filesystem::path folder;
        bool createWhenNeeded = false; // the folder is made on first use (the system drive)
    };

    explicit DriveMap(std::map<QChar, Drive> drives);

    // C: and D: from TCLINK_DRIVE_C / TCLINK_DRIVE_D, else from the user's data folder:
    // C: is created when first needed, D: exists only when its folder does.
    static DriveMap fromEnvironment();

    // The host folder of a drive, or nothing when the drive does not exist.
    std::optional<std::filesystem::path> root(QChar letter) const;

    // The host path of a Windows path, or nothing when it names no existing drive or is not
    // an absolute drive path ("X:\..." or "X:").
    std::optional<std::filesystem::path> resolve(const QString& windowsPath) const;
    // As resolve, but a path on no existing drive throws the "disk not ready" RuntimeError.
    std::filesystem::path require(const QString& windowsPath) const;

    // Name of the first entry (file or folder, hidden ones left out) of a drive's current
    // directory, its root here; empty when the drive does not exist, cannot be read or is empty.
    QString firstEntry(QChar letter) const;

private:
    std::map<QChar, Drive> drives_;
};

// Host path from a resolved path, for Qt and for starting processes.
QString hostString(const std::filesystem::path& path);

} // namespace tclink::platform
