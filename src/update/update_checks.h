#pragma once

#include <QByteArray>
#include <QString>
#include <filesystem>

namespace tclink::update {

// Whether `path` holds a program this platform can start: a regular file (never a symbolic
// link, whose target would be what is installed), not empty, and in the platform's executable
// format (ELF for this machine's processor, or a script starting with "#!"; PE on Windows).
// False when it cannot be read.
bool isStartableProgram(const std::filesystem::path& path);

// What a signed update must show: the edition it is for and the revision the update server
// offered (so that an older signed file cannot be offered again as a newer one).
struct Release {
    QString edition;
    QString revision;
};

// Checks a minisign signature (the text of a ".minisig" file) of `data` against the base64
// public-key line of a minisign key: the signature ("ED", over the BLAKE2b-512 hash of the
// data, or the legacy "Ed", over the data itself) and the global signature over the trusted
// comment must verify for that key, and the trusted comment must hold the words
// "edition=E" and "revision=N" of `release` (N compared as a number). Returns an empty text
// when all holds, else why not (for diagnostics).
QString signatureProblem(const QByteArray& data, const QByteArray& signature,
                         const QString& publicKey, const Release& release);

} // namespace tclink::update
