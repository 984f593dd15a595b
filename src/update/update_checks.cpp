#include "update/update_checks.h"

#include "platform/leading_number.h"

#include <QFile>
#include <QList>
#include <QRegularExpression>
#include <array>
#include <sodium.h>
#include <sys/stat.h>
#ifndef Q_OS_WIN
#include <elf.h>
#include <unistd.h>
#endif

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

// Whether `count` entries of `entrySize` bytes from `offset` lie inside a file of `size`
// bytes.
bool inside(quint64 offset, quint64 count, quint64 entrySize, quint64 size)
{
    return offset <= size && (entrySize == 0 || count <= (size - offset) / entrySize);
}

template <typename Header> bool readStruct(QFile& file, quint64 offset, Header& header)
{
    return file.seek(static_cast<qint64>(offset)) &&
           file.read(reinterpret_cast<char*>(&header), sizeof header) == qint64(sizeof header);
}

// An ELF program for this machine whose program headers, the file parts of its segments and
// its section headers all lie inside the file: what the loader needs is there (a program cut
// short in its upload is not). The word size and byte order are this machine's, so the
// headers read as its own structures.
template <typename Ehdr, typename Phdr, typename Shdr> bool elfComplete(QFile& file)
{
    const auto size = static_cast<quint64>(file.size());
    Ehdr header{};
    if (!readStruct(file, 0, header) || header.e_ident[EI_VERSION] != EV_CURRENT ||
        (header.e_type != ET_EXEC && header.e_type != ET_DYN) || header.e_phnum == 0 ||
        header.e_phentsize != sizeof(Phdr) ||
        !inside(header.e_phoff, header.e_phnum, sizeof(Phdr), size)) {
        return false;
    }
    for (quint64 index = 0; index < header.e_phnum; ++index) {
        Phdr segment{};
        if (!readStruct(file, header.e_phoff + index * sizeof(Phdr), segment) ||
            !inside(segment.p_offset, segment.p_filesz, 1, size)) {
            return false;
        }
    }
    if (header.e_shoff == 0) {
        return header.e_shnum == 0; // no section headers at all
    }
    quint64 sections = header.e_shnum;
    if (header.e_shentsize != sizeof(Shdr) || !inside(header.e_shoff, 1, sizeof(Shdr), size)) {
        return false;
    }
    if (sections == 0) { // too many for the header: the first section header holds the count
        Shdr first{};
        if (!readStruct(file, header.e_shoff, first)) {
            return false;
        }
        sections = first.sh_size;
    }
    return inside(header.e_shoff, sections, sizeof(Shdr), size);
}

// A "#!" script whose interpreter the system can run: the first line ends in a line feed
// within what the kernel reads of it, holds no carriage return (which would become part of
// the interpreter's name or argument), and names an absolute path to an executable file.
bool scriptRuns(QFile& file)
{
    constexpr qint64 KernelLineLimit = 256;
    file.seek(0);
    const QByteArray start = file.read(KernelLineLimit);
    const qsizetype end = start.indexOf('\n');
    const QByteArray line = end < 0 ? start : start.left(end);
    if ((end < 0 && start.size() == KernelLineLimit) || line.contains('\r')) {
        return false;
    }
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    qsizetype from = 2;
    while (from < line.size() && blank(line[from])) {
        ++from;
    }
    qsizetype to = from;
    while (to < line.size() && !blank(line[to])) {
        ++to;
    }
    const QByteArray interpreter = line.mid(from, to - from);
    struct stat info {};
    return interpreter.startsWith('/') && ::stat(interpreter.constData(), &info) == 0 &&
           S_ISREG(info.st_mode) && ::access(interpreter.constData(), X_OK) == 0;
}
#endif

bool canRun(QFile& file)
{
    const QByteArray start = file.read(20);
#ifdef Q_OS_WIN
    return start.startsWith("MZ");
#else
    if (start.startsWith("#!")) {
        return scriptRuns(file);
    }
    if (start.size() < 20 || !start.startsWith(ELFMAG) || ownMachine().size() != 4 ||
        elfMachine(start) != ownMachine()) {
        return false;
    }
    return start[EI_CLASS] == ELFCLASS64 ? elfComplete<Elf64_Ehdr, Elf64_Phdr, Elf64_Shdr>(file)
                                         : elfComplete<Elf32_Ehdr, Elf32_Phdr, Elf32_Shdr>(file);
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

// The BLAKE2b-512 hash of what is left to read of `data`, read in pieces; empty when reading
// fails.
QByteArray blake2b(QIODevice& data)
{
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, crypto_generichash_BYTES_MAX);
    QByteArray piece(64 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 got = data.read(piece.data(), piece.size());
        if (got < 0) {
            return {};
        }
        if (got == 0) {
            break;
        }
        crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(piece.constData()),
                                  static_cast<unsigned long long>(got));
    }
    QByteArray hash(crypto_generichash_BYTES_MAX, Qt::Uninitialized);
    crypto_generichash_final(&state, reinterpret_cast<unsigned char*>(hash.data()),
                             static_cast<size_t>(hash.size()));
    return hash;
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
    return file.open(QIODevice::ReadOnly) && canRun(file);
}

QString signatureProblem(QIODevice& data, const QByteArray& signature, const QString& publicKey,
                         const Release& release)
{
    if (signature.size() > MaximumSignatureSize) {
        return QStringLiteral("the signature file is larger than %1 bytes")
            .arg(MaximumSignatureSize);
    }
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
    if (algorithm != "ED") {
        // The legacy kind ("Ed", minisign -l) signs the whole file, which would have to be
        // read whole into memory; tools/sign-update makes the hashed kind.
        return QStringLiteral("not a hashed signature (minisign -l?)");
    }
    const QByteArray message = blake2b(data);
    if (message.isEmpty()) {
        return QStringLiteral("the file cannot be read");
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
