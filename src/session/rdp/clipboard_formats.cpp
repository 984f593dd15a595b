#include "session/rdp/clipboard_formats.h"

#include <QtEndian>

#include <cstdlib>

#include "platform/ansi_text.h"

namespace tclink::rdp {

namespace {

constexpr int fileHeaderSize = 14;
constexpr quint32 infoHeaderSize = 40;
constexpr quint32 compressionBitfields = 3;

quint32 readU32(const QByteArray& data, qsizetype at)
{
    return qFromLittleEndian<quint32>(data.constData() + at);
}

quint16 readU16(const QByteArray& data, qsizetype at)
{
    return qFromLittleEndian<quint16>(data.constData() + at);
}

QString unixLineEnds(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

QString windowsLineEnds(const QString& text)
{
    return unixLineEnds(text).replace(u'\n', QStringLiteral("\r\n"));
}

} // namespace

ServerFormats pickServerFormats(const QList<quint32>& offered)
{
    ServerFormats picked;
    for (const quint32 format : {formatUnicodeText, formatText, formatOemText}) {
        if (!picked.text && offered.contains(format))
            picked.text = format;
    }
    for (const quint32 format : {formatDib, formatDibV5}) {
        if (!picked.image && offered.contains(format))
            picked.image = format;
    }
    return picked;
}

QList<quint32> localFormats(bool hasText, bool hasImage)
{
    QList<quint32> formats;
    if (hasText)
        formats << formatUnicodeText << formatText << formatOemText;
    if (hasImage)
        formats << formatDib;
    return formats;
}

QByteArray encodeText(quint32 format, const QString& text)
{
    const QString windows = windowsLineEnds(text);
    if (format == formatUnicodeText) {
        QByteArray data(windows.size() * 2 + 2, '\0');
        qToLittleEndian<quint16>(windows.utf16(), windows.size(), data.data());
        return data;
    }
    return platform::toAnsi(windows) + '\0';
}

QString decodeText(quint32 format, const QByteArray& data)
{
    if (format == formatUnicodeText) {
        QString text(data.size() / 2, Qt::Uninitialized);
        qFromLittleEndian<quint16>(data.constData(), text.size(), text.data());
        const qsizetype end = text.indexOf(QChar(0));
        return unixLineEnds(end < 0 ? text : text.left(end));
    }
    const qsizetype end = data.indexOf('\0');
    return unixLineEnds(platform::fromAnsi(end < 0 ? data : data.left(end)));
}

QImage decodeDib(const QByteArray& data)
{
    if (data.size() < qsizetype(infoHeaderSize))
        return {};
    const quint32 headerSize = readU32(data, 0);
    if (headerSize < infoHeaderSize || headerSize >= quint32(data.size()))
        return {};
    const quint16 bitCount = readU16(data, 14);
    const quint32 compression = readU32(data, 16);
    const quint32 coloursUsed = readU32(data, 32);
    // Where the pixels start: after the header, the colour masks that follow a plain header
    // with bit fields, and the colour table.
    quint64 offset = headerSize;
    if (headerSize == infoHeaderSize && compression == compressionBitfields)
        offset += 12;
    const quint64 colours = coloursUsed ? coloursUsed : (bitCount <= 8 ? 1u << bitCount : 0u);
    offset += colours * 4;
    if (offset >= quint64(data.size()))
        return {};
    // Uncompressed pixels must all be there: a cut-off bitmap is no picture.
    if (compression == 0 || compression == compressionBitfields) {
        const qint64 width = qint32(readU32(data, 4));
        const qint64 height = qint32(readU32(data, 8));
        const quint64 stride = quint64((std::abs(width) * bitCount + 31) / 32) * 4;
        if (offset + stride * quint64(std::abs(height)) > quint64(data.size()))
            return {};
    }

    QByteArray file(fileHeaderSize, '\0');
    file[0] = 'B';
    file[1] = 'M';
    qToLittleEndian<quint32>(quint32(fileHeaderSize + data.size()), file.data() + 2);
    qToLittleEndian<quint32>(quint32(fileHeaderSize + offset), file.data() + 10);
    return QImage::fromData(file + data, "BMP");
}

QByteArray encodeDib(const QImage& image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    const int width = rgb.width();
    const int height = rgb.height();
    const qsizetype stride = (qsizetype(width) * 3 + 3) & ~qsizetype(3);
    QByteArray data(infoHeaderSize + stride * height, '\0');
    char* header = data.data();
    qToLittleEndian<quint32>(infoHeaderSize, header);
    qToLittleEndian<qint32>(width, header + 4);
    qToLittleEndian<qint32>(height, header + 8); // positive: bottom-up
    qToLittleEndian<quint16>(1, header + 12);    // planes
    qToLittleEndian<quint16>(24, header + 14);   // bits per pixel
    qToLittleEndian<quint32>(quint32(stride * height), header + 20);
    for (int y = 0; y < height; ++y) {
        const uchar* from = rgb.constScanLine(y);
        char* to = header + infoHeaderSize + stride * (height - 1 - y);
        for (int x = 0; x < width; ++x) { // RGB to the bitmap's BGR
            to[x * 3] = char(from[x * 3 + 2]);
            to[x * 3 + 1] = char(from[x * 3 + 1]);
            to[x * 3 + 2] = char(from[x * 3]);
        }
    }
    return data;
}

} // namespace tclink::rdp
