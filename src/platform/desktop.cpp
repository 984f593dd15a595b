#include "platform/desktop.h"

#include "platform/drive_map.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

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

Startup HostDesktop::startWatched(const QString& program, int timeoutMs)
{
    const QByteArray file = QFile::encodeName(translate(drives_, program));
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        return Startup::NotStarted;
    }
    // Everything the child needs is made before the fork: after it, only exec.
    const QByteArray variable = "TCLINK_STARTED_FD=" + QByteArray::number(report[1]);
    std::vector<char*> environment;
    for (char** entry = environ; *entry; ++entry) {
        if (qstrncmp(*entry, "TCLINK_STARTED_FD=", 18) != 0) {
            environment.push_back(*entry);
        }
    }
    environment.push_back(const_cast<char*>(variable.constData()));
    environment.push_back(nullptr);
    char* const arguments[] = {const_cast<char*>(file.constData()), nullptr};

    const pid_t child = ::fork();
    if (child == 0) {
        ::setsid(); // as a detached start: it outlives this program's session
        ::fcntl(report[1], F_SETFD, 0); // the report's end stays open across exec
        ::execve(file.constData(), arguments, environment.data());
        ::_exit(127);
    }
    ::close(report[1]);
    if (child < 0) {
        ::close(report[0]);
        return Startup::NotStarted;
    }
    Startup result = Startup::Up; // still running at the end of the wait
    const QDeadlineTimer deadline(timeoutMs);
    bool reportOpen = true;
    for (;;) {
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child) {
            result = WIFEXITED(status) && WEXITSTATUS(status) == 0 ? Startup::Up : Startup::Died;
            break;
        }
        if (deadline.hasExpired()) {
            break;
        }
        pollfd wait{report[0], POLLIN, 0};
        if (reportOpen && ::poll(&wait, 1, 50) > 0) {
            char byte = 0;
            const ssize_t got = ::read(report[0], &byte, 1);
            if (got > 0) {
                break; // its first window is on screen
            }
            reportOpen = got < 0; // at its end the child (or what it ran) has closed it
        } else if (!reportOpen) {
            QThread::msleep(50);
        }
        QCoreApplication::processEvents();
    }
    ::close(report[0]);
    return result;
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
