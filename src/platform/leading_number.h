#pragma once

#include <QString>

namespace tclink::platform {

// The value of the number a text begins with, read leniently: spaces, tabs and line feeds are
// skipped wherever they stand; then an optional sign, digits with at most one decimal point,
// and an optional exponent (E or D, optional sign, digits). Reading stops at the first
// character that cannot continue the number; a text without a leading number is 0.
// "&H" and "&O" start a hexadecimal or octal integer; four hex digits (six octal) or fewer
// are a 16-bit value, more a 32-bit one, both signed ("&HFFFF" is -1).
double leadingNumber(const QString& text);

} // namespace tclink::platform
