#include "peer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gmock/gmock.h>

namespace tclink::inet {
namespace {

using ::testing::UnorderedElementsAre;

// Runs a tool of tools/servers with Debian's python; returns its exit code.
int runTool(const QString& tool, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(QStringLiteral("/usr/bin/python3"),
                  QStringList{testing::sourcePath(QStringLiteral("tools/servers/") + tool)} +
                      arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit) {
        return -1;
    }
    return process.exitCode();
}

class RarToolsTest : public ::testing::Test {
protected:
    QString write(const QString& name, const QByteArray& content)
    {
        const QString path = dir_.filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return path;
    }
    QByteArray read(const QString& name) const
    {
        QFile file(dir_.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    QTemporaryDir dir_;
};

// The update's round trip: an archive without extension, unpacked flat into a folder given
// with a trailing backslash, over an older file of the same name.
TEST_F(RarToolsTest, ArchiveUnpacksFlatOverExistingFiles)
{
    QByteArray program(70000, Qt::Uninitialized);
    for (qsizetype i = 0; i < program.size(); ++i) {
        program[i] = static_cast<char>(i % 253);
    }
    const QString exe = write(QStringLiteral("in/tclink.exe"), program);
    const QString readme = write(QStringLiteral("in/readme"), "说明");
    ASSERT_EQ(runTool(QStringLiteral("rar4.py"),
                      {dir_.filePath("tclink"), exe, readme + QStringLiteral("=新版本\\说明.txt")}),
              0);
    write(QStringLiteral("out/tclink.exe"), "old program");

    ASSERT_EQ(runTool(QStringLiteral("winrar"),
                      {"e", "-o+", dir_.filePath("tclink"), dir_.filePath("out") + u'\\'}),
              0);
    EXPECT_THAT(QDir(dir_.filePath("out"))
                    .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                UnorderedElementsAre("tclink.exe", "说明.txt"));
    EXPECT_TRUE(read(QStringLiteral("out/tclink.exe")) == program);
    EXPECT_EQ(read(QStringLiteral("out/说明.txt")), QByteArray("说明"));
}

TEST_F(RarToolsTest, UnpackerFailsOnMissingOrBrokenArchive)
{
    QDir().mkpath(dir_.filePath("out"));
    const QString out = dir_.filePath("out") + u'/';
    EXPECT_NE(runTool(QStringLiteral("winrar"), {"e", "-o+", dir_.filePath("none"), out}), 0);
    const QString junk = write(QStringLiteral("junk"), "this is not an archive");
    EXPECT_NE(runTool(QStringLiteral("winrar"), {"e", "-o+", junk, out}), 0);
    EXPECT_TRUE(
        QDir(dir_.filePath("out")).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
}

} // namespace
} // namespace tclink::inet
