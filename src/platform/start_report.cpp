#include "platform/start_report.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWindow>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tclink::platform {
namespace {

// Waits for the first window that is exposed, then writes the report once it has been
// painted.
class FirstWindow : public QObject {
public:
    FirstWindow(QCoreApplication& application, int descriptor)
        : QObject(&application), descriptor_(descriptor)
    {
        application.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Expose && watched->isWindowType() &&
            static_cast<QWindow*>(watched)->isExposed()) {
            QCoreApplication::instance()->removeEventFilter(this);
            // The exposure is painted in its handler; report after that.
            QTimer::singleShot(0, this, [this] {
                const char up = 1;
                [[maybe_unused]] const auto written = ::write(descriptor_, &up, 1);
                ::close(descriptor_);
                deleteLater();
            });
        }
        return false;
    }

private:
    int descriptor_;
};

} // namespace

void reportFirstWindow(QCoreApplication& application)
{
    if (!qEnvironmentVariableIsSet("TCLINK_STARTED_FD")) {
        return;
    }
    bool ok = false;
    const int descriptor = qEnvironmentVariableIntValue("TCLINK_STARTED_FD", &ok);
    qunsetenv("TCLINK_STARTED_FD");
    struct stat info {};
    if (!ok || descriptor <= STDERR_FILENO || ::fstat(descriptor, &info) != 0 ||
        !S_ISFIFO(info.st_mode)) {
        return;
    }
    ::fcntl(descriptor, F_SETFD, FD_CLOEXEC);
    new FirstWindow(application, descriptor);
}

} // namespace tclink::platform
