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

} // namespace

void removeWindowMenu(QWidget* window)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 && QGuiApplication::platformName() == QLatin1String("xcb")
                                       ? x11->connection()
                                       : nullptr;
    if (!connection) {
        return; // other window systems take the window flags as they are
    }
    const char name[] = "_MOTIF_WM_HINTS";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr);
    if (!atom) {
        return;
    }
    const std::array<uint32_t, 5> hints{HintsFunctions | HintsDecorations,
                                        FunctionMove | FunctionResize,
                                        DecorBorder | DecorResizeHandle | DecorTitle, 0, 0};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE,
                        static_cast<xcb_window_t>(window->winId()), atom->atom, atom->atom, 32,
                        static_cast<uint32_t>(hints.size()), hints.data());
    xcb_flush(connection);
    std::free(atom);
}

} // namespace tclink::platform
