#pragma once

#include <QRect>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QWidget;

namespace tclink::platform {

class DriveMap;

// How a started program came up (Desktop::startWatched).
enum class Startup {
    NotStarted, // no process could be made for it
    Up,         // it reported its first window, ended with exit code 0, or still runs
    Died,       // it ended otherwise (could not be run, a signal, another exit code) first
};

// What the program asks of the desktop it runs on.
class Desktop {
public:
    virtual ~Desktop() = default;

    // The taskbar's rectangle in screen pixels; all zeros when there is none.
    virtual QRect taskbarRect() const = 0;
    // Full path of the program's own file.
    virtual QString programFilePath() const = 0;
    // Starts a program and does not wait for it; false when it could not be started.
    // Arguments that are drive paths ("C:\...") are passed as the host paths they stand for.
    virtual bool startProcess(const QString& program, const QStringList& arguments) = 0;
    // Starts a program as startProcess does, without arguments, and watches it come up for
    // `timeoutMs` at most, processing window events meanwhile: the program reports its first
    // window through the descriptor named in TCLINK_STARTED_FD (see start_report.h). It is
    // never ended here; after the wait it runs on.
    virtual Startup startWatched(const QString& program, int timeoutMs) = 0;
    // Runs a program and waits for it, at most `timeoutMs`; its exit code, or nothing when it
    // could not be started or did not finish in time (it is then ended). Arguments as above.
    virtual std::optional<int> runProcess(const QString& program, const QStringList& arguments,
                                          int timeoutMs) = 0;
    // Blocks the calling thread.
    virtual void sleep(int milliseconds) = 0;
    // Ends the program at once: no window's close handling runs, nothing more is written.
    // A double records the call and returns, so callers return right after it.
    virtual void endProgram() = 0;
};

// The real desktop.
class HostDesktop : public Desktop {
public:
    explicit HostDesktop(const DriveMap& drives) : drives_(drives) {}

    QRect taskbarRect() const override;
    QString programFilePath() const override;
    bool startProcess(const QString& program, const QStringList& arguments) override;
    Startup startWatched(const QString& program, int timeoutMs) override;
    std::optional<int> runProcess(const QString& program, const QStringList& arguments,
                                  int timeoutMs) override;
    void sleep(int milliseconds) override;
    [[noreturn]] void endProgram() override;

private:
    const DriveMap& drives_;
};

// Takes the window menu, and with it the close button, away from a top-level window and
// gives it a sizing frame, so that the window system offers no way to close it.
void removeWindowMenu(QWidget* window);

// Keeps a top-level window that is not yet shown off the taskbar and the pager.
void leaveOffTaskbar(QWidget* window);

// Shows an empty title bar on a shown window whose title is empty (the window system would
// otherwise show the program's name there).
void clearWindowTitle(QWidget* window);

// Calls requested whenever some program asks the window manager to minimise the window (the
// iconify request that goes to the root window, which every X client may watch), as long as
// the window exists. Some compositors' X window managers (weston's) minimise an X window
// without changing its state, so the window itself cannot see that it went.
void watchMinimiseRequests(QWidget* window, std::function<void()> requested);

// The suffix of executable files on this platform.
#ifdef Q_OS_WIN
inline const QString ExecutableSuffix = QStringLiteral(".exe");
#else
inline const QString ExecutableSuffix;
#endif

// The program's file name without its extension ("tclink" for ".../tclink.exe").
QString programName(const QString& programFilePath);

} // namespace tclink::platform
