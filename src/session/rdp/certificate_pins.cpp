#include "session/rdp/certificate_pins.h"

#include <QCryptographicHash>
#include <QRegularExpression>

namespace tclink::rdp {

std::vector<QByteArray> builtInCertificatePins()
{
    // CMake refuses a setting that is not a list of fingerprints.
    return parseCertificatePins(QStringLiteral(TCLINK_SERVER_CERTIFICATES))
        .value_or(std::vector<QByteArray>{});
}

std::optional<std::vector<QByteArray>> parseCertificatePins(const QString& text)
{
    static const QRegularExpression separators(QStringLiteral("[,;\\s]+"));
    static const QRegularExpression digits(QStringLiteral("^[0-9A-Fa-f]{64}$"));
    std::vector<QByteArray> pins;
    for (QString item : text.split(separators, Qt::SkipEmptyParts)) {
        item.remove(':');
        if (!digits.match(item).hasMatch())
            return std::nullopt;
        pins.push_back(QByteArray::fromHex(item.toLatin1()));
    }
    return pins;
}

QByteArray certificateFingerprint(const QByteArray& pem)
{
    static const QByteArray begin = "-----BEGIN CERTIFICATE-----";
    static const QByteArray end = "-----END CERTIFICATE-----";
    const qsizetype from = pem.indexOf(begin);
    const qsizetype to = from < 0 ? -1 : pem.indexOf(end, from);
    if (to < 0)
        return {};
    const auto der = QByteArray::fromBase64Encoding(
        pem.mid(from + begin.size(), to - from - begin.size()).simplified().replace(' ', ""),
        QByteArray::AbortOnBase64DecodingErrors);
    if (!der || der.decoded.isEmpty())
        return {};
    return QCryptographicHash::hash(der.decoded, QCryptographicHash::Sha256);
}

QString fingerprintText(const QByteArray& fingerprint)
{
    return QString::fromLatin1(fingerprint.toHex(':').toUpper());
}

} // namespace tclink::rdp
