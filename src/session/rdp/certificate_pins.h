#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace tclink::rdp {

// The SHA-256 fingerprints (32 bytes each) that the terminal servers' certificates must have,
// from the build setting TCLINK_SERVER_CERTIFICATES; none: any certificate is accepted.
std::vector<QByteArray> builtInCertificatePins();

// Fingerprints as text: 64 hexadecimal digits each, colons allowed among them, separated by
// commas, semicolons or white space. Nothing when one of them is not a fingerprint.
std::optional<std::vector<QByteArray>> parseCertificatePins(const QString& text);

// The SHA-256 fingerprint of a certificate in PEM form (of its DER bytes); empty when the text
// holds no certificate.
QByteArray certificateFingerprint(const QByteArray& pem);

// A fingerprint as it is written: upper-case hexadecimal digits in pairs, with colons.
QString fingerprintText(const QByteArray& fingerprint);

} // namespace tclink::rdp
