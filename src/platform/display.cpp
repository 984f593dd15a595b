#include "platform/display.h"

#include <QByteArray>
#include <QtGlobal>
#include <xcb/xcb.h>

namespace tclink::platform {

DisplayCheck prepareDisplay()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb") && !platform.startsWith("wayland")) {
        return DisplayCheck::Available;
    }
    const bool waylandSession =
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qgetenv("XDG_SESSION_TYPE") == "wayland";
    if (!platform.startsWith("xcb")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool reachable = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    if (reachable) {
        return DisplayCheck::Available;
    }
    return waylandSession ? DisplayCheck::NoXwayland : DisplayCheck::NoDisplay;
}

} // namespace tclink::platform
