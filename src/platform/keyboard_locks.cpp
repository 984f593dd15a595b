#include "platform/keyboard_locks.h"

#include <QGuiApplication>

#include <X11/XKBlib.h>

namespace tclink::platform {
namespace {

class XkbKeyboardLocks final : public KeyboardLocks {
public:
    ToggleKeys toggleKeys() const override
    {
        auto* x11 =
            qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        Display* display = x11 && QGuiApplication::platformName() == QLatin1String("xcb")
                               ? x11->display()
                               : nullptr;
        if (!display)
            return {};
        const auto on = [display](const char* name) {
            Bool state = False;
            const Atom atom = XInternAtom(display, name, False);
            return XkbGetNamedIndicator(display, atom, nullptr, &state, nullptr, nullptr) && state;
        };
        return {on("Scroll Lock"), on("Num Lock"), on("Caps Lock"), on("Kana")};
    }
};

} // namespace

const KeyboardLocks& systemKeyboardLocks()
{
    static const XkbKeyboardLocks locks;
    return locks;
}

} // namespace tclink::platform
