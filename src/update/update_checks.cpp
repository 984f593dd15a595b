#include "update/update_checks.h"

#include "platform/leading_number.h"

#include <QFile>
#include <QList>
#include <QRegularExpression>
#include <array>
#include <sodium.h>
#include <sys/stat.h>

namespace tclink::update {
namespace {

constexpr qsizetype KeyIdSize = 8;
constexpr qsizetype AlgorithmSize = 2;

#ifndef Q_OS_WIN
// The bytes of an ELF header that say which machines run the file: the word size and byte
// order (bytes 4 and 5) and the machine (bytes 18 and 19).
QByteArray elfMachine(const QByteArray& header)
{
    return header.mid(4, 2) + header.mid(18, 2);
}

// What this machine runs: the running program's own ELF header says it.
QByteArray ownMachine()
{
    static const QByteArray machine = [] {
        QFile self(QStringLiteral("/proc/self/exe"));
        return self.open(QIODevice::ReadOnly) ? elfMachine(self.read(20)) : QByteArray();
    }();
    return machine;
}
#endif

bool hasExecutableFormat(const QByteArray& start)
{
#ifdef Q_OS_WIN
    return start.startsWith("MZ");
#else
    if (start.startsWith("#!")) {
        return true;
    }
    return start.size() >= 20 &&
           start.startsWith("\x7F"
                            "ELF") &&
           (ownMachine().size() != 4 || elfMachine(start) == ownMachine());
#endif
}

// The line that follows `prefix` at the start of a line, without its line break.
std::optional<QByteArray> lineAfter(const QList<QByteArray>& lines, qsizetype index,
                                    const QByteArray& prefix)
{
    if (index >= lines.size() || !lines[index].startsWith(prefix)) {
        return std::nullopt;
    }
    return lines[index].mid(prefix.size());
}

QByteArray decode(const QByteArray& base64)
{
    const auto result =
        QByteArray::fromBase64Encoding(base64.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    return result ? *result : QByteArray();
}

bool verify(const QByteArray& signature, const QByteArray& message, const QByteArray& key)
{
    return crypto_sign_verify_detached(
               reinterpret_cast<const unsigned char*>(signature.constData()),
               reinterpret_cast<const unsigned char*>(message.constData()),
               static_cast<unsigned long long>(message.size()),
               reinterpret_cast<const unsigned char*>(key.constData())) == 0;
}

// The value of the word "name=value" in a trusted comment, if there is one.
std::optional<QString> word(const QString& comment, const QString& name)
{
    static const QRegularExpression space(QStringLiteral("\\s+"));
    for (const QString& item : comment.split(space, Qt::SkipEmptyParts)) {
        if (item.startsWith(name + u'=')) {
            return item.mid(name.size() + 1);
        }
    }
    return std::nullopt;
}

bool isPlainNumber(const QString& text)
{
    static const QRegularExpression number(QStringLiteral("^[0-9]+(\\.[0-9]+)?$"));
    return number.match(text).hasMatch();
}

} // namespace

bool isStartableProgram(const std::filesystem::path& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size == 0) {
        return false;
    }
    QFile file(QString::fromStdString(path.string()));
    return file.open(QIODevice::ReadOnly) && hasExecutableFormat(file.read(20));
}

QString signatureProblem(const QByteArray& data, const QByteArray& signature,
                         const QString& publicKey, const Release& release)
{
    if (sodium_init() < 0) {
        return QStringLiteral("libsodium cannot be initialised");
    }
    const QByteArray keyBytes = decode(publicKey.toLatin1());
    if (keyBytes.size() != AlgorithmSize + KeyIdSize + crypto_sign_PUBLICKEYBYTES ||
        !keyBytes.startsWith("Ed")) {
        return QStringLiteral("the built-in public key is not a minisign key");
    }
    const QByteArray keyId = keyBytes.mid(AlgorithmSize, KeyIdSize);
    const QByteArray key = keyBytes.mid(AlgorithmSize + KeyIdSize);

    QByteArray text = signature;
    text.replace("\r\n", "\n");
    const QList<QByteArray> lines = text.split('\n');
    const auto untrusted = lineAfter(lines, 0, "untrusted comment: ");
    const QByteArray signatureBytes = lines.size() > 1 ? decode(lines[1]) : QByteArray();
    const auto trusted = lineAfter(lines, 2, "trusted comment: ");
    const QByteArray globalSignature = lines.size() > 3 ? decode(lines[3]) : QByteArray();
    if (!untrusted || !trusted ||
        signatureBytes.size() != AlgorithmSize + KeyIdSize + crypto_sign_BYTES ||
        globalSignature.size() != crypto_sign_BYTES) {
        return QStringLiteral("the signature file is not in minisign's format");
    }
    const QByteArray algorithm = signatureBytes.left(AlgorithmSize);
    if (signatureBytes.mid(AlgorithmSize, KeyIdSize) != keyId) {
        return QStringLiteral("the signature was made with another key");
    }
    const QByteArray fileSignature = signatureBytes.mid(AlgorithmSize + KeyIdSize);
    QByteArray message;
    if (algorithm == "ED") {
        message.resize(crypto_generichash_BYTES_MAX);
        crypto_generichash(reinterpret_cast<unsigned char*>(message.data()),
                           static_cast<size_t>(message.size()),
                           reinterpret_cast<const unsigned char*>(data.constData()),
                           static_cast<unsigned long long>(data.size()), nullptr, 0);
    } else if (algorithm == "Ed") {
        message = data;
    } else {
        return QStringLiteral("unknown signature algorithm");
    }
    if (!verify(fileSignature, message, key)) {
        return QStringLiteral("the signature does not match the file");
    }
    if (!verify(globalSignature, fileSignature + *trusted, key)) {
        return QStringLiteral("the trusted comment is not signed by the key");
    }
    const QString comment = QString::fromUtf8(*trusted);
    if (word(comment, QStringLiteral("edition")) != release.edition) {
        return QStringLiteral("the signature is for another edition: %1").arg(comment);
    }
    const auto revision = word(comment, QStringLiteral("revision"));
    if (!revision || !isPlainNumber(*revision) ||
        platform::leadingNumber(*revision) != platform::leadingNumber(release.revision)) {
        return QStringLiteral("the signature is for another revision: %1").arg(comment);
    }
    return {};
}

} // namespace tclink::update
