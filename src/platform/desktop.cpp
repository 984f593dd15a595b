#include "platform/desktop.h"

#include "platform/drive_map.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace tclink::platform {
namespace {

bool isDrivePath(const QString& text)
{
    return text.size() >= 3 && text[0].isLetter() && text[1] == QChar(':') &&
           (text[2] == QChar('\\') || text[2] == QChar('/'));
}

// A drive path as the host path it stands for; a trailing separator is kept, since programs
// such as unpackers read it as "into this folder".
QString translate(const DriveMap& drives, const QString& argument)
{
    if (!isDrivePath(argument)) {
        return argument;
    }
    const auto path = drives.resolve(argument);
    if (!path) {
        return argument;
    }
    QString host = hostString(*path);
    if ((argument.endsWith(QChar('\\')) || argument.endsWith(QChar('/'))) &&
        !host.endsWith(QChar('/'))) {
        host += QChar('/');
    }
    return host;
}

QStringList translateAll(const DriveMap& drives, const QStringList& arguments)
{
    QStringList host;
    for (const QString& argument : arguments) {
        host << translate(drives, argument);
    }
    return host;
}

} // namespace

QRect HostDesktop::taskbarRect() const
{
    // X11 has no taskbar window to ask for; a panel docked at the bottom shows as the part of
    // the screen that the available geometry leaves out there.
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        return QRect(0, 0, 0, 0);
    }
    const QRect full = screen->geometry();
    const QRect available = screen->availableGeometry();
    if (available.bottom() >= full.bottom()) {
        return QRect(0, 0, 0, 0);
    }
    return QRect(full.left(), available.bottom() + 1, full.width(),
                 full.bottom() - available.bottom());
}

QString HostDesktop::programFilePath() const
{
    return QCoreApplication::applicationFilePath();
}

bool HostDesktop::startProcess(const QString& program, const QStringList& arguments)
{
    return QProcess::startDetached(translate(drives_, program), translateAll(drives_, arguments));
}

std::optional<int> HostDesktop::runProcess(const QString& program, const QStringList& arguments,
                                           int timeoutMs)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
#ifdef Q_OS_UNIX
    // A process group of its own, so that what it started ends with it.
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
#endif
    process.start(translate(drives_, program), translateAll(drives_, arguments));
    if (!process.waitForStarted()) {
        return std::nullopt;
    }
    if (!process.waitForFinished(timeoutMs)) {
#ifdef Q_OS_UNIX
        ::kill(-static_cast<pid_t>(process.processId()), SIGKILL);
#endif
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit) {
        return std::nullopt;
    }
    return process.exitCode();
}

void HostDesktop::sleep(int milliseconds)
{
    QThread::msleep(static_cast<unsigned long>(milliseconds));
}

void HostDesktop::endProgram()
{
    std::fflush(nullptr);
    ::_exit(0);
}

QString programName(const QString& programFilePath)
{
    const QString name = QFileInfo(programFilePath).fileName();
    const qsizetype dot = name.lastIndexOf(QChar('.'));
    return dot > 0 ? name.left(dot) : name;
}

} // namespace tclink::platform
