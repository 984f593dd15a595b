#pragma once

#include <QWidget>
#include <functional>

namespace tclink::rdp {
class RemoteDesktopControl;
}
namespace tclink::inet {
class InternetTransferControl;
}

namespace tclink::platform {

class Clock;
class Desktop;
class DriveMap;
class MessageBoxes;

// The platform pieces the windows use, handed to them in one bundle: the real ones in the
// program, doubles in tests.
struct Services {
    DriveMap& drives;
    MessageBoxes& boxes;
    Clock& clock;
    Desktop& desktop;
    // Creates a remote-desktop control hosted in `parent`.
    std::function<rdp::RemoteDesktopControl*(QWidget* parent)> makeRemoteDesktop;
    // Creates an Internet transfer control owned by `parent`.
    std::function<inet::InternetTransferControl*(QObject* parent)> makeTransfer;
    // Readies in the background what the remote-desktop controls need (their library), so that
    // the session's start does not wait for it; empty when nothing needs it.
    std::function<void()> prepareRemoteDesktop;
};

} // namespace tclink::platform
