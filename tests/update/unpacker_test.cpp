#include "platform/desktop.h"
#include "platform/drive_map.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

using tclink::platform::DriveMap;
using tclink::platform::HostDesktop;

namespace {

// Whether the process runs (a zombie has ended).
bool running(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray text = stat.readAll();
    return !text.mid(text.lastIndexOf(')') + 2).startsWith('Z');
}

} // namespace

// An unpacker that overruns its time is ended together with the programs it started.
TEST(Unpacker, ATimedOutProgramEndsWithEverythingItStarted)
{
    QTemporaryDir dir;
    const QString pidFile = dir.filePath(QStringLiteral("child"));
    const DriveMap drives({});
    HostDesktop desktop(drives);
    const auto result = desktop.runProcess(
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"), QStringLiteral("sleep 60 & echo $! > '%1'; wait").arg(pidFile)},
        500);
    EXPECT_FALSE(result.has_value());
    QFile file(pidFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const pid_t child = file.readAll().trimmed().toInt();
    ASSERT_GT(child, 0);
    const QDeadlineTimer deadline(5000);
    while (running(child) && !deadline.hasExpired()) {
        QThread::msleep(20);
    }
    EXPECT_FALSE(running(child));
    ::kill(child, SIGKILL); // in case it did not end

    EXPECT_EQ(desktop.runProcess(QStringLiteral("/bin/sh"), {"-c", "exit 3"}, 5000), 3);
}

// The new program after an update: started, and watched until it reports its first window or
// ends; it is never ended here.
TEST(NewProgram, IsWatchedUntilItReportsItsWindowOrEnds)
{
    QTemporaryDir dir;
    const DriveMap drives({});
    HostDesktop desktop(drives);
    const QString pidFile = dir.filePath(QStringLiteral("pid"));
    const auto script = [&](const char* name, const QString& body) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(("#!/bin/sh\necho $$ > '" + pidFile + "'\n" + body + "\n").toUtf8());
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
        return path;
    };
    using tclink::platform::Startup;
    EXPECT_EQ(desktop.startWatched(script("ends", "exit 0"), 10000), Startup::Up);
    EXPECT_EQ(desktop.startWatched(script("fails", "exit 3"), 10000), Startup::Died);
    EXPECT_EQ(desktop.startWatched(script("crashes", "kill -SEGV $$"), 10000), Startup::Died);
    EXPECT_EQ(desktop.startWatched(dir.filePath("missing"), 10000), Startup::Died);

    const auto runsOn = [&](const char* name, const QString& body, int waitMs) {
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(desktop.startWatched(script(name, body), waitMs), Startup::Up) << name;
        const qint64 took = clock.elapsed();
        QFile file(pidFile);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        const pid_t child = file.readAll().trimmed().toInt();
        EXPECT_TRUE(child > 0 && running(child)) << name;
        ::kill(child, SIGKILL);
        return took;
    };
    // Its report ends the wait at once; without one, the wait runs out and it runs on.
    EXPECT_LT(runsOn("reports", "printf x >&$TCLINK_STARTED_FD; exec sleep 30", 20000), 5000);
    EXPECT_GE(runsOn("silent", "exec sleep 30", 500), 500);
}
