#include "platform/desktop.h"
#include "platform/drive_map.h"

#include <QDeadlineTimer>
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
