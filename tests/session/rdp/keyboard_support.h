#pragma once

#include <QtGlobal>

#include "platform/keyboard_locks.h"

namespace tclink::rdp::test {

// X11 key codes (evdev) of the keys the keyboard tests press.
constexpr quint32 keyA = 38;
constexpr quint32 keyAltLeft = 64;
constexpr quint32 keyCtrlLeft = 37;
constexpr quint32 keypad1 = 87;
constexpr quint32 keypad7 = 79;

// The local toggle keys as a test sets them.
class FakeLocks final : public platform::KeyboardLocks {
public:
    platform::ToggleKeys toggleKeys() const override { return keys; }
    platform::ToggleKeys keys;
};

} // namespace tclink::rdp::test
