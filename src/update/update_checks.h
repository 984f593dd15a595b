#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <filesystem>

namespace tclink::update {

// Whether `path` holds a program this platform can start: a regular file (never a symbolic
// link, whose target would be what is installed), not empty, and complete in the platform's
// executable format: an ELF program for this machine's word size, byte order and processor
// whose program headers, segments and section headers lie inside the file, or a script whose
// "#!" line (without a carriage return) names an interpreter that exists and may be run
// (PE on Windows). False when it cannot be read.
bool isStartableProgram(const std::filesystem::path& path);

// What a signed update must show: the edition it is for and the revision the update server
// offered (so that an older signed file cannot be offered again as a newer one).
struct Release {
    QString edition;
    QString revision;
};

// The largest signature file (".minisig") that is read; minisign's are about 300 bytes.
inline constexpr qsizetype MaximumSignatureSize = 4096;

// Checks a minisign signature (the text of a ".minisig" file, at most MaximumSignatureSize
// bytes) of what is left to read of `data` against the base64 public-key line of a minisign
// key: the signature ("ED", over the BLAKE2b-512 hash of the data, which is read in pieces)
// and the global signature over the trusted comment must verify for that key, and the
// trusted comment must hold the words "edition=E" and "revision=N" of `release` (N compared
// as a number). Returns an empty text when all holds, else why not (for diagnostics).
QString signatureProblem(QIODevice& data, const QByteArray& signature, const QString& publicKey,
                         const Release& release);

} // namespace tclink::update
