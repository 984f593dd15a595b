#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

namespace tclink::rdp {

// Clipboard formats of the remote-desktop clipboard channel (Windows' standard formats).
inline constexpr quint32 formatText = 1;         // CF_TEXT: ANSI code page
inline constexpr quint32 formatDib = 8;          // CF_DIB: BITMAPINFO and the pixels
inline constexpr quint32 formatOemText = 7;      // CF_OEMTEXT: OEM code page
inline constexpr quint32 formatUnicodeText = 13; // CF_UNICODETEXT: UTF-16LE
inline constexpr quint32 formatDibV5 = 17;       // CF_DIBV5: BITMAPV5HEADER and the pixels

// The formats of the server's list this clipboard takes: the best text form and the best image
// form; 0 where the server offers none.
struct ServerFormats {
    quint32 text = 0;
    quint32 image = 0;
};
ServerFormats pickServerFormats(const QList<quint32>& offered);

// The formats announced for local contents: Unicode and ANSI text, and a device-independent
// bitmap.
QList<quint32> localFormats(bool hasText, bool hasImage);

// Text in one of the three text formats, as Windows keeps it: CRLF line ends and a terminating
// NUL. Decoding stops at the first NUL and gives LF line ends.
QByteArray encodeText(quint32 format, const QString& text);
QString decodeText(quint32 format, const QByteArray& data);

// A device-independent bitmap (CF_DIB or CF_DIBV5 data: header, colour masks or table, pixels)
// to an image; a null image when the data is not a bitmap Qt can read.
QImage decodeDib(const QByteArray& data);
// An image as CF_DIB data: a 40-byte header and 24-bit bottom-up rows.
QByteArray encodeDib(const QImage& image);

} // namespace tclink::rdp
