#pragma once

#include <QString>

#include "report.h"

#include <cstdint>
#include <string>

namespace demo {

// What the application's input field shows.
struct InputView {
    QString typed; // the last characters typed, as the application took them
    QString locks; // the toggle keys that are on
};

// One key event as the server understood it.
struct KeyEvent {
    std::uint8_t scancode = 0;
    bool extended = false;
    bool down = false;
    std::string locks;     // toggle keys on after the event: "num,caps,scroll,kana" (those on)
    std::string modifiers; // modifiers held after the event: "shift,ctrl,alt" (those held)
    QString text;          // what the key typed on a US keyboard; empty for none
};

// The server's keyboard state: the toggle keys (set by the client's synchronize event and by the
// lock keys), the modifiers held, and what the keys type on a US layout, as an application on a
// Windows server would see it. Unicode keyboard events type their character.
class Keyboard {
public:
    // The client's synchronize event (KBD_SYNC_* flags): sets the toggle keys, releases all keys.
    void synchronize(std::uint32_t flags);
    // A scan-code event (KBD_FLAGS_* flags).
    KeyEvent key(std::uint16_t flags, std::uint8_t scancode);
    // A Unicode keyboard event; returns the character typed (empty for a release or for the first
    // half of a surrogate pair).
    QString unicode(std::uint16_t flags, std::uint16_t codeUnit);

    std::string locks() const;
    std::string modifiers() const;
    const InputView& view() const { return view_; }

private:
    void type(const QString& text);

    bool numLock_ = false;
    bool capsLock_ = false;
    bool scrollLock_ = false;
    bool kanaLock_ = false;
    bool shift_[2] = {false, false}; // left, right
    bool ctrl_[2] = {false, false};
    bool alt_[2] = {false, false};
    char16_t highSurrogate_ = 0;
    InputView view_;
};

// The report's fields of a key event: scancode (two hex digits), ext, down, locks, mods, text.
Fields keyFields(const KeyEvent& event);

} // namespace demo
