#pragma once

namespace tclink::platform {

// The state of the keyboard's toggle keys.
struct ToggleKeys {
    bool scrollLock = false;
    bool numLock = false;
    bool capsLock = false;
    bool kanaLock = false;

    bool operator==(const ToggleKeys&) const = default;
};

// Where the local toggle-key state comes from: the window system in the program, a double in
// tests.
class KeyboardLocks {
public:
    virtual ToggleKeys toggleKeys() const = 0;

protected:
    ~KeyboardLocks() = default;
};

// The window system's toggle keys: XKB's indicators on X11; all off where there are none
// (Qt's offscreen platform).
const KeyboardLocks& systemKeyboardLocks();

} // namespace tclink::platform
