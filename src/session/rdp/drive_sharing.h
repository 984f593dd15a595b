#pragma once

#include <QString>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tclink::rdp {

// A folder offered to the server as a drive, under the name the server sees.
struct SharedDrive {
    std::string name;
    std::filesystem::path folder;
};

// The drives the session would share, asked for when it connects.
using DriveFolders = std::function<std::vector<SharedDrive>()>;

// What the server must never reach through a shared drive.
struct ProtectedPlaces {
    // Never inside a shared drive: the home folder, the program's folder, the command search
    // path's folders.
    std::vector<std::filesystem::path> kept;
    // Neither inside a shared drive nor holding one: where the per-user copy of the program
    // lives, and what a login shell or the desktop starts programs from.
    std::vector<std::filesystem::path> trees;
    // Its hidden entries that are links must not lead into a shared drive.
    std::filesystem::path home;
};

// This user's and this program's protected places, from the environment.
ProtectedPlaces protectedPlaces();

struct DriveCheck {
    std::vector<SharedDrive> drives; // as they may be shared: canonical folders
    QString refusal;                 // why nothing may be shared; empty when all may be
};

// Checks the drives against the protected places and looks through each folder: only plain
// files and folders, none executable and none with a second name (a hard link), since the
// server may overwrite whatever is in a drive and FreeRDP follows links. When one drive may
// not be shared, none is.
DriveCheck checkDrives(const std::vector<SharedDrive>& wanted, const ProtectedPlaces& places);

// The folder as FreeRDP's drive channel is to be given it: FreeRDP joins the server's path to
// it as text, and a path without a leading separator would otherwise name a neighbour of the
// folder ("/x/C" + "D" = "/x/CD"). The channel drops one trailing separator and keeps the other.
std::string driveChannelPath(const std::filesystem::path& folder);

} // namespace tclink::rdp
