#include "platform/desktop.h"

#include <QGuiApplication>
#include <QWidget>
#include <array>
#include <cstdint>
#include <cstring>
#include <xcb/xcb.h>

namespace tclink::platform {
namespace {

// The Motif window-manager hints, which X11 window managers read to decide which functions
// and decorations a window gets.
constexpr uint32_t HintsFunctions = 1u << 0;
constexpr uint32_t HintsDecorations = 1u << 1;
constexpr uint32_t FunctionResize = 1u << 1;
constexpr uint32_t FunctionMove = 1u << 2;
constexpr uint32_t DecorBorder = 1u << 1;
constexpr uint32_t DecorResizeHandle = 1u << 2;
constexpr uint32_t DecorTitle = 1u << 3;

// The X connection, or null on other window systems (which take the window flags as they are).
xcb_connection_t* x11Connection()
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 && QGuiApplication::platformName() == QLatin1String("xcb") ? x11->connection()
                                                                          : nullptr;
}

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name)
{
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
        nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

} // namespace

void leaveOffTaskbar(QWidget* window)
{
    xcb_connection_t* connection = x11Connection();
    if (!connection) {
        return;
    }
    // The window manager reads the state when the window is mapped; Qt keeps the entries it
    // does not manage itself.
    const std::array<xcb_atom_t, 2> states{internAtom(connection, "_NET_WM_STATE_SKIP_TASKBAR"),
                                           internAtom(connection, "_NET_WM_STATE_SKIP_PAGER")};
    xcb_change_property(connection, XCB_PROP_MODE_APPEND,
                        static_cast<xcb_window_t>(window->winId()),
                        internAtom(connection, "_NET_WM_STATE"), XCB_ATOM_ATOM, 32,
                        static_cast<uint32_t>(states.size()), states.data());
    xcb_flush(connection);
}

void clearWindowTitle(QWidget* window)
{
    xcb_connection_t* connection = x11Connection();
    if (!connection) {
        return;
    }
    const auto id = static_cast<xcb_window_t>(window->winId());
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id,
                        internAtom(connection, "_NET_WM_NAME"),
                        internAtom(connection, "UTF8_STRING"), 8, 0, nullptr);
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        0, nullptr);
    xcb_flush(connection);
}

void removeWindowMenu(QWidget* window)
{
    xcb_connection_t* connection = x11Connection();
    if (!connection) {
        return;
    }
    const xcb_atom_t hintsAtom = internAtom(connection, "_MOTIF_WM_HINTS");
    if (hintsAtom == XCB_ATOM_NONE) {
        return;
    }
    const std::array<uint32_t, 5> hints{HintsFunctions | HintsDecorations,
                                        FunctionMove | FunctionResize,
                                        DecorBorder | DecorResizeHandle | DecorTitle, 0, 0};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE,
                        static_cast<xcb_window_t>(window->winId()), hintsAtom, hintsAtom, 32,
                        static_cast<uint32_t>(hints.size()), hints.data());
    xcb_flush(connection);
}

} // namespace tclink::platform
