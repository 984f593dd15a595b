#include "platform/leading_number.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace tclink::platform {
namespace {

bool skipped(QChar c)
{
    return c == QChar(' ') || c == QChar('\t') || c == QChar('\n');
}

double radixNumber(const QString& text, qsizetype at, int radix)
{
    uint64_t value = 0;
    int digits = 0;
    for (; at < text.size(); ++at) {
        if (skipped(text[at])) {
            continue;
        }
        const char16_t c = text[at].toLower().unicode();
        const int digit = c >= u'0' && c <= u'9'   ? c - u'0'
                          : c >= u'a' && c <= u'f' ? c - u'a' + 10
                                                   : 99;
        if (digit >= radix) {
            break;
        }
        value = value * static_cast<uint64_t>(radix) + static_cast<uint64_t>(digit);
        ++digits;
        if (value > 0xFFFFFFFFu) {
            return 0; // does not fit a 32-bit integer
        }
    }
    if (value <= 0xFFFFu && digits <= (radix == 16 ? 4 : 6)) {
        return static_cast<int16_t>(static_cast<uint16_t>(value));
    }
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

} // namespace

double leadingNumber(const QString& text)
{
    QString compact;
    for (QChar c : text) {
        if (!skipped(c)) {
            compact += c;
        }
    }
    if (compact.size() >= 2 && compact[0] == QChar('&')) {
        const QChar kind = compact[1].toUpper();
        if (kind == QChar('H')) {
            return radixNumber(compact, 2, 16);
        }
        if (kind == QChar('O')) {
            return radixNumber(compact, 2, 8);
        }
        return 0;
    }
    std::string number;
    qsizetype i = 0;
    const auto digitsAt = [&](qsizetype at) {
        qsizetype n = 0;
        while (at + n < compact.size() && compact[at + n].unicode() < 0x80 &&
               compact[at + n].isDigit()) {
            ++n;
        }
        return n;
    };
    if (i < compact.size() && (compact[i] == QChar('+') || compact[i] == QChar('-'))) {
        number += char(compact[i].unicode());
        ++i;
    }
    qsizetype whole = digitsAt(i);
    number += compact.mid(i, whole).toStdString();
    i += whole;
    qsizetype fraction = 0;
    if (i < compact.size() && compact[i] == QChar('.')) {
        fraction = digitsAt(i + 1);
        number += "." + compact.mid(i + 1, fraction).toStdString();
        i += 1 + fraction;
    }
    if (whole == 0 && fraction == 0) {
        return 0;
    }
    if (i < compact.size() && QString("eEdD").contains(compact[i])) {
        qsizetype at = i + 1;
        std::string exponent = "e";
        if (at < compact.size() && (compact[at] == QChar('+') || compact[at] == QChar('-'))) {
            exponent += char(compact[at].unicode());
            ++at;
        }
        const qsizetype digits = digitsAt(at);
        if (digits > 0) {
            number += exponent + compact.mid(at, digits).toStdString();
        }
    }
    return std::strtod(number.c_str(), nullptr);
}

} // namespace tclink::platform
