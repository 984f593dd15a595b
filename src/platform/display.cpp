#include "platform/display.h"

#include <QByteArray>
#include <QtGlobal>
#include <xcb/xcb.h>

namespace tclink::platform {

bool displayAvailable()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb")) {
        return true;
    }
    if (platform.isEmpty() && !qgetenv("WAYLAND_DISPLAY").isEmpty()) {
        return true;
    }
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool reachable = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return reachable;
}

} // namespace tclink::platform
