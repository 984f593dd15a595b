#include "keyboard.h"

#include <freerdp/input.h>

#include <array>
#include <cstdio>
#include <string_view>

namespace demo {

namespace {

constexpr qsizetype kFieldLength = 40;

// Main-block keys of a US layout by scan code: unshifted and shifted characters.
struct Printable {
    std::uint8_t scancode;
    char plain;
    char shifted;
};
constexpr std::array<Printable, 48> kPrintable{{
    {0x02, '1', '!'}, {0x03, '2', '@'},  {0x04, '3', '#'}, {0x05, '4', '$'}, {0x06, '5', '%'},
    {0x07, '6', '^'}, {0x08, '7', '&'},  {0x09, '8', '*'}, {0x0A, '9', '('}, {0x0B, '0', ')'},
    {0x0C, '-', '_'}, {0x0D, '=', '+'},  {0x10, 'q', 'Q'}, {0x11, 'w', 'W'}, {0x12, 'e', 'E'},
    {0x13, 'r', 'R'}, {0x14, 't', 'T'},  {0x15, 'y', 'Y'}, {0x16, 'u', 'U'}, {0x17, 'i', 'I'},
    {0x18, 'o', 'O'}, {0x19, 'p', 'P'},  {0x1A, '[', '{'}, {0x1B, ']', '}'}, {0x1E, 'a', 'A'},
    {0x1F, 's', 'S'}, {0x20, 'd', 'D'},  {0x21, 'f', 'F'}, {0x22, 'g', 'G'}, {0x23, 'h', 'H'},
    {0x24, 'j', 'J'}, {0x25, 'k', 'K'},  {0x26, 'l', 'L'}, {0x27, ';', ':'}, {0x28, '\'', '"'},
    {0x29, '`', '~'}, {0x2B, '\\', '|'}, {0x2C, 'z', 'Z'}, {0x2D, 'x', 'X'}, {0x2E, 'c', 'C'},
    {0x2F, 'v', 'V'}, {0x30, 'b', 'B'},  {0x31, 'n', 'N'}, {0x32, 'm', 'M'}, {0x33, ',', '<'},
    {0x34, '.', '>'}, {0x35, '/', '?'},  {0x39, ' ', ' '},
}};

// The numeric keypad: the digit with NumLock on, the navigation key without.
struct Keypad {
    std::uint8_t scancode;
    char digit;
    const char* navigation;
};
constexpr std::array<Keypad, 11> kKeypad{{
    {0x47, '7', "[Home]"},
    {0x48, '8', "[Up]"},
    {0x49, '9', "[PgUp]"},
    {0x4B, '4', "[Left]"},
    {0x4C, '5', ""},
    {0x4D, '6', "[Right]"},
    {0x4F, '1', "[End]"},
    {0x50, '2', "[Down]"},
    {0x51, '3', "[PgDn]"},
    {0x52, '0', "[Ins]"},
    {0x53, '.', "[Del]"},
}};

std::string join(std::initializer_list<std::pair<bool, std::string_view>> names)
{
    std::string result;
    for (const auto& [on, name] : names) {
        if (on) {
            result += (result.empty() ? "" : ",") + std::string(name);
        }
    }
    return result;
}

} // namespace

void Keyboard::synchronize(std::uint32_t flags)
{
    scrollLock_ = flags & KBD_SYNC_SCROLL_LOCK;
    numLock_ = flags & KBD_SYNC_NUM_LOCK;
    capsLock_ = flags & KBD_SYNC_CAPS_LOCK;
    kanaLock_ = flags & KBD_SYNC_KANA_LOCK;
    shift_[0] = shift_[1] = ctrl_[0] = ctrl_[1] = alt_[0] = alt_[1] = false;
    view_.locks = QString::fromStdString(locks());
}

std::string Keyboard::locks() const
{
    return join(
        {{numLock_, "num"}, {capsLock_, "caps"}, {scrollLock_, "scroll"}, {kanaLock_, "kana"}});
}

std::string Keyboard::modifiers() const
{
    return join({{shift_[0] || shift_[1], "shift"},
                 {ctrl_[0] || ctrl_[1], "ctrl"},
                 {alt_[0] || alt_[1], "alt"}});
}

KeyEvent Keyboard::key(std::uint16_t flags, std::uint8_t scancode)
{
    KeyEvent event;
    event.scancode = scancode;
    event.extended = flags & KBD_FLAGS_EXTENDED;
    event.down = !(flags & KBD_FLAGS_RELEASE);
    const int side = event.extended ? 1 : 0;
    const bool shift = shift_[0] || shift_[1];

    switch (scancode) {
    case 0x2A:
    case 0x36:
        shift_[scancode == 0x36 ? 1 : 0] = event.down;
        break;
    case 0x1D:
        ctrl_[side] = event.down;
        break;
    case 0x38:
        alt_[side] = event.down;
        break;
    case 0x3A:
        capsLock_ = capsLock_ != event.down;
        break;
    case 0x45:
        numLock_ = numLock_ != event.down;
        break;
    case 0x46:
        scrollLock_ = scrollLock_ != event.down;
        break;
    default:
        if (!event.down) {
            break;
        }
        if (event.extended) {
            event.text = scancode == 0x1C ? QStringLiteral("\n") : QString();
        } else if (scancode == 0x1C) {
            event.text = QStringLiteral("\n");
        } else if (scancode == 0x0E) {
            view_.typed.chop(1);
        } else {
            for (const Printable& p : kPrintable) {
                if (p.scancode == scancode) {
                    const bool letter = p.plain >= 'a' && p.plain <= 'z';
                    event.text = QChar((shift != (letter && capsLock_)) ? p.shifted : p.plain);
                }
            }
            for (const Keypad& k : kKeypad) {
                if (k.scancode == scancode) {
                    event.text = numLock_ && !shift ? QString(QChar(k.digit))
                                                    : QString::fromLatin1(k.navigation);
                }
            }
        }
    }
    event.locks = locks();
    event.modifiers = modifiers();
    view_.locks = QString::fromStdString(event.locks);
    if (!event.text.isEmpty()) {
        const bool chord = ctrl_[0] || ctrl_[1] || alt_[0] || alt_[1];
        type(chord ? QStringLiteral("[%1+%2]").arg(QString::fromStdString(event.modifiers),
                                                   event.text)
                   : event.text);
    }
    return event;
}

QString Keyboard::unicode(std::uint16_t flags, std::uint16_t codeUnit)
{
    if (flags & KBD_FLAGS_RELEASE) {
        return {};
    }
    const QChar c(codeUnit);
    QString text;
    if (c.isHighSurrogate()) {
        highSurrogate_ = codeUnit;
        return {};
    }
    if (c.isLowSurrogate()) {
        if (highSurrogate_) {
            text = QString(QChar(highSurrogate_)) + c;
        }
    } else {
        text = c;
    }
    highSurrogate_ = 0;
    type(text);
    return text;
}

void Keyboard::type(const QString& text)
{
    view_.typed = (view_.typed + QString(text).replace(u'\n', u'↵')).right(kFieldLength);
}

Fields keyFields(const KeyEvent& event)
{
    char code[8];
    std::snprintf(code, sizeof(code), "%02X", unsigned(event.scancode));
    return {{"scancode", code},
            {"ext", event.extended ? "1" : "0"},
            {"down", event.down ? "1" : "0"},
            {"locks", event.locks},
            {"mods", event.modifiers},
            {"text", event.text.toStdString()}};
}

} // namespace demo
