#include "platform/font_pages.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace tclink::platform {
namespace {

constexpr size_t mappedBytes = 1024 * 1024;

// Resident kB of this process's mapping of a file, as the kernel reports it.
long residentKb(const QString& path)
{
    QFile smaps(QStringLiteral("/proc/self/smaps"));
    if (!smaps.open(QIODevice::ReadOnly)) {
        return -1;
    }
    static const QRegularExpression header(QStringLiteral("^[0-9a-f]+-[0-9a-f]+ "));
    bool inMapping = false;
    for (const QByteArray& line : smaps.readAll().split('\n')) {
        if (header.match(QString::fromUtf8(line)).hasMatch()) {
            inMapping = line.endsWith(path.toUtf8());
        } else if (inMapping && line.startsWith("Rss:")) {
            return line.mid(4).trimmed().split(' ').value(0).toLong();
        }
    }
    return -1;
}

// A file of a known pattern, mapped privately; unmapped at the end.
class MappedFile {
public:
    MappedFile(const QString& path, int protection)
    {
        QFile file(path);
        QByteArray content(mappedBytes, '\0');
        for (size_t i = 0; i < mappedBytes; ++i) {
            content[static_cast<qsizetype>(i)] = static_cast<char>(i * 7 + i / 4096);
        }
        if (file.open(QIODevice::WriteOnly) && file.write(content) == content.size()) {
            file.close();
            const int fd = ::open(path.toLocal8Bit().constData(), O_RDONLY);
            void* address = mmap(nullptr, mappedBytes, protection, MAP_PRIVATE, fd, 0);
            ::close(fd);
            if (address != MAP_FAILED) {
                bytes = static_cast<unsigned char*>(address);
            }
        }
        expected = content;
    }
    ~MappedFile()
    {
        if (bytes) {
            munmap(bytes, mappedBytes);
        }
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    bool matchesFile() const { return std::memcmp(bytes, expected.constData(), mappedBytes) == 0; }

    unsigned char* bytes = nullptr;
    QByteArray expected;
};

TEST(FontPages, AreGivenBackAndReadAgainFromTheFileWhileOtherMappingsKeepTheirs)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString font = dir.filePath(QStringLiteral("Some Face.TTC")); // spaces, any case
    const QString data = dir.filePath(QStringLiteral("table.dat"));
    const QString written = dir.filePath(QStringLiteral("patched.ttf"));
    MappedFile fontMap(font, PROT_READ);
    MappedFile dataMap(data, PROT_READ);
    MappedFile writtenMap(written, PROT_READ | PROT_WRITE);
    ASSERT_TRUE(fontMap.bytes && dataMap.bytes && writtenMap.bytes);
    ASSERT_TRUE(fontMap.matchesFile());
    ASSERT_TRUE(dataMap.matchesFile());
    writtenMap.bytes[4096] = static_cast<unsigned char>(~writtenMap.bytes[4096]);
    ASSERT_GE(residentKb(font), 1000);
    ASSERT_GE(residentKb(data), 1000);

    EXPECT_GE(releaseFontPages(), 1);

    EXPECT_EQ(residentKb(font), 0);
    EXPECT_GE(residentKb(data), 1000);
    // A writable mapping's written page is its only copy of that data.
    EXPECT_EQ(writtenMap.bytes[4096], static_cast<unsigned char>(~writtenMap.expected[4096]));
    EXPECT_TRUE(fontMap.matchesFile());
    EXPECT_TRUE(dataMap.matchesFile());
}

} // namespace
} // namespace tclink::platform
