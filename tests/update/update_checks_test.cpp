#include "update/update_checks.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace fs = std::filesystem;
using tclink::update::isStartableProgram;
using tclink::update::Release;
using tclink::update::signatureProblem;

namespace {

void write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST(StartableProgram, OnlyARegularFileInThePlatformsFormat)
{
    QTemporaryDir dir;
    const auto at = [&](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
    const QByteArray self = read(QStringLiteral("/proc/self/exe"));
    write(at("elf"), self);
    QByteArray otherMachine = self;
    otherMachine[18] = static_cast<char>(otherMachine[18] ^ 0x55); // e_machine
    write(at("other machine"), otherMachine);
    write(at("elf header only"), self.left(8));
    write(at("script"), "#!/bin/sh\nexit 0\n");
    write(at("empty"), "");
    write(at("random"), QByteArray("\x12\x7F"
                                   "ELF not at the start"));
    write(at("short"), "#");
    QDir().mkpath(at("folder"));
    ASSERT_EQ(::symlink(at("elf").toLocal8Bit().constData(), at("link").toLocal8Bit().constData()),
              0);
    const auto path = [&](const char* name) { return fs::path(at(name).toStdString()); };
    EXPECT_TRUE(isStartableProgram(path("elf")));
    EXPECT_TRUE(isStartableProgram(path("script")));
    for (const char* name : {"empty", "random", "short", "folder", "link", "missing",
                             "other machine", "elf header only"}) {
        EXPECT_FALSE(isStartableProgram(path(name))) << name;
    }
}

// Keys and signatures made by minisign itself, as the release tooling makes them.
class Signature : public testing::Test {
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("minisign")).isEmpty()) {
            GTEST_SKIP() << "minisign is not installed (tools/deps)";
        }
        key = makeKey(QStringLiteral("release"));
        write(file(), "#!/bin/sh\necho new\n");
    }

    // A new key pair under `name`; returns the public key's base64 line.
    QString makeKey(const QString& name)
    {
        run({"-G", "-W", "-p", dir.filePath(name + ".pub"), "-s", dir.filePath(name + ".key")});
        return QString::fromLatin1(read(dir.filePath(name + ".pub")).split('\n').value(1));
    }
    void run(const QStringList& arguments)
    {
        QProcess minisign;
        minisign.start(QStringLiteral("minisign"), arguments);
        ASSERT_TRUE(minisign.waitForFinished(10000));
        ASSERT_EQ(minisign.exitCode(), 0) << minisign.readAllStandardError().toStdString();
    }
    // The signature of the file by key `name` with that trusted comment.
    QByteArray sign(const QString& comment, const QString& name = QStringLiteral("release"),
                    const QStringList& options = {})
    {
        const QString signature = dir.filePath(QStringLiteral("sig"));
        QFile::remove(signature);
        run(QStringList{"-S", "-s", dir.filePath(name + ".key"), "-m", file(), "-x", signature,
                        "-t", comment} +
            options);
        return read(signature);
    }
    QString file() const { return dir.filePath(QStringLiteral("tclink.exe")); }
    QString check(const QByteArray& signature, const QByteArray& data = {}) const
    {
        return signatureProblem(data.isEmpty() ? read(file()) : data, signature, key,
                                Release{QStringLiteral("qtm演示版"), QStringLiteral("7\r\n")});
    }

    QTemporaryDir dir;
    QString key;
};

TEST_F(Signature, AcceptsTheHashedAndTheLegacySignatureForTheOfferedRevision)
{
    const QString comment = QStringLiteral("edition=qtm演示版 revision=7");
    EXPECT_EQ(check(sign(comment)), QString());
    EXPECT_EQ(check(sign(comment, QStringLiteral("release"), {"-l"})), QString());
    EXPECT_EQ(check(sign(QStringLiteral("timestamp:1\trevision=7\tedition=qtm演示版"))), QString());
}

TEST_F(Signature, RefusesWhatTheKeyDidNotSignForThisRelease)
{
    const QString comment = QStringLiteral("edition=qtm演示版 revision=7");
    const QByteArray good = sign(comment);

    makeKey(QStringLiteral("other"));
    EXPECT_NE(check(sign(comment, QStringLiteral("other"))), QString()) << "another key";
    EXPECT_NE(check(good, "#!/bin/sh\necho evil\n"), QString()) << "another file";
    EXPECT_NE(check(sign(QStringLiteral("edition=qtm演示版 revision=6"))), QString())
        << "an older revision";
    EXPECT_NE(check(sign(QStringLiteral("edition=qtm演示版 revision=7x"))), QString());
    EXPECT_NE(check(sign(QStringLiteral("edition=other revision=7"))), QString());
    EXPECT_NE(check(sign(QStringLiteral("revision=7"))), QString()) << "no edition";

    QByteArray changedComment = good;
    changedComment.replace("revision=7", "revision=8");
    EXPECT_NE(check(changedComment), QString()) << "trusted comment changed after signing";
    EXPECT_NE(check(""), QString()) << "empty";
    EXPECT_NE(check("untrusted comment: x\nnot base64\n"), QString()) << "garbage";
    EXPECT_NE(check(good.left(good.size() / 2)), QString()) << "cut short";

    const QString revision8 =
        signatureProblem(read(file()), sign(QStringLiteral("edition=qtm演示版 revision=8")), key,
                         Release{QStringLiteral("qtm演示版"), QStringLiteral("8")});
    EXPECT_EQ(revision8, QString());
    EXPECT_NE(signatureProblem(read(file()), good, QStringLiteral("RWQnotakey"),
                               Release{QStringLiteral("qtm演示版"), QStringLiteral("7")}),
              QString())
        << "a broken built-in key";
}
