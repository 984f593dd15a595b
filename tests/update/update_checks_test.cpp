#include "update/update_checks.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gmock/gmock.h>
#include <sys/stat.h>

namespace fs = std::filesystem;
using tclink::update::isStartableProgram;
using tclink::update::Release;
using tclink::update::signatureProblem;
using ::testing::HasSubstr;

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

TEST(StartableProgram, OnlyACompleteRegularFileInThePlatformsFormat)
{
    QTemporaryDir dir;
    const auto at = [&](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
    const QByteArray self = read(QStringLiteral("/proc/self/exe"));
    ASSERT_GT(self.size(), 128 * 1024);
    write(at("elf"), self);
    QByteArray otherMachine = self;
    otherMachine[18] = static_cast<char>(otherMachine[18] ^ 0x55); // e_machine
    write(at("other machine"), otherMachine);
    write(at("elf header only"), self.left(64));
    write(at("first 64 KiB"), self.left(64 * 1024));            // an upload cut short
    write(at("last byte missing"), self.left(self.size() - 1)); // the section headers end there
    write(at("script"), "#!/bin/sh\nexit 0\n");
    write(at("script with argument"), "#! /bin/sh -e\nexit 0\n");
    write(at("crlf script"), "#!/bin/sh\r\nexit 0\r\n");
    write(at("missing interpreter"), "#!/nonexistent/sh\nexit 0\n");
    write(at("plain file"), "not a program");
    write(at("interpreter not executable"), "#!" + at("plain file").toLocal8Bit() + "\nexit 0\n");
    write(at("relative interpreter"), "#!sh\nexit 0\n");
    write(at("no interpreter"), "#!\nexit 0\n");
    write(at("endless first line"), "#!/bin/sh " + QByteArray(300, 'x'));
    write(at("empty"), "");
    write(at("random"), QByteArray("\x12\x7F"
                                   "ELF not at the start"));
    write(at("short"), "#");
    QDir().mkpath(at("folder"));
    ASSERT_EQ(::symlink(at("elf").toLocal8Bit().constData(), at("link").toLocal8Bit().constData()),
              0);
    const auto path = [&](const char* name) { return fs::path(at(name).toStdString()); };
    for (const char* name : {"elf", "script", "script with argument"}) {
        EXPECT_TRUE(isStartableProgram(path(name))) << name;
    }
    for (const char* name :
         {"empty", "random", "short", "folder", "link", "missing", "other machine",
          "elf header only", "first 64 KiB", "last byte missing", "crlf script",
          "missing interpreter", "interpreter not executable", "relative interpreter",
          "no interpreter", "endless first line"}) {
        EXPECT_FALSE(isStartableProgram(path(name))) << name;
    }
}

// Signatures made by minisign 0.11 over signatures/tclink.exe with the test key pair in
// signatures/ (test.key, unencrypted: for tests only), and one with another key; each file is
// named after what it is.
class Signature : public testing::Test {
protected:
    static QString vector(const QString& name)
    {
        return qEnvironmentVariable("TCLINK_SOURCE_DIR") +
               QStringLiteral("/tests/update/signatures/") + name;
    }
    static QByteArray signature(const char* name)
    {
        return read(vector(QString::fromLatin1(name) + QStringLiteral(".minisig")));
    }
    QString check(const QByteArray& signature, const QString& revision = QStringLiteral("7\r\n"),
                  const QByteArray& data = read(vector(QStringLiteral("tclink.exe")))) const
    {
        QBuffer buffer;
        buffer.setData(data);
        buffer.open(QIODevice::ReadOnly);
        return signatureProblem(buffer, signature, key,
                                Release{QStringLiteral("qtm演示版"), revision});
    }

    QString key =
        QString::fromLatin1(read(vector(QStringLiteral("test.pub"))).split('\n').value(1));
};

TEST_F(Signature, AcceptsWhatTheKeySignedForTheOfferedRevision)
{
    EXPECT_EQ(check(signature("good")), QString());
    EXPECT_EQ(check(signature("tabs")), QString()); // the words in any order, with other words
    EXPECT_EQ(check(signature("revision8"), QStringLiteral("8")), QString());
    // A file larger than the pieces it is read in.
    QFile large(vector(QStringLiteral("large.txt")));
    ASSERT_TRUE(large.open(QIODevice::ReadOnly));
    EXPECT_EQ(signatureProblem(large, signature("large.txt"), key, Release{"qtm演示版", "7"}),
              QString());
}

TEST_F(Signature, RefusesWhatTheKeyDidNotSignForThisRelease)
{
    const QByteArray good = signature("good");
    EXPECT_NE(check(signature("other-key")), QString()) << "another key";
    EXPECT_NE(check(good, "7", "#!/bin/sh\necho evil\n"), QString()) << "another file";
    EXPECT_NE(check(signature("revision6")), QString()) << "an older revision";
    EXPECT_NE(check(signature("revision7x")), QString());
    EXPECT_NE(check(signature("other-edition")), QString());
    EXPECT_NE(check(signature("no-edition")), QString());
    EXPECT_NE(check(signature("revision8")), QString()) << "signed for another revision";
    EXPECT_NE(check(signature("legacy")), QString()) << "the unhashed kind";

    // The trusted comment changed after signing, the revision kept: only the global
    // signature over the comment tells.
    EXPECT_THAT(check(signature("comment-changed")).toStdString(), HasSubstr("trusted comment"));
    QByteArray changedRevision = good;
    changedRevision.replace("revision=7", "revision=8");
    EXPECT_NE(check(changedRevision, "8"), QString()) << "revision changed after signing";

    EXPECT_NE(check(""), QString()) << "empty";
    EXPECT_NE(check("untrusted comment: x\nnot base64\n"), QString()) << "garbage";
    EXPECT_NE(check(good.left(good.size() / 2)), QString()) << "cut short";
    // A good signature padded beyond what a signature file may hold is not read.
    EXPECT_THAT(check(good + QByteArray(4096, '\n')).toStdString(), HasSubstr("larger"));

    QBuffer data;
    data.open(QIODevice::ReadOnly);
    EXPECT_NE(signatureProblem(data, good, QStringLiteral("RWQnotakey"), Release{"qtm演示版", "7"}),
              QString())
        << "a broken built-in key";
}
