// Connects once and prints the milliseconds from Connect to OnConnected, OnLoginComplete and
// the first painted frame, then leaves; with --window, in a window named
// "tclink-connect-bench", starting the program's business application as the session does, and
// staying connected after the print until it is ended; with --probe, as the hidden probe
// connection: the milliseconds to OnConnected and to OnDisconnected. Driven by
// tools/bench/connect and tools/bench/trips.
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>

#include <cstdio>
#include <functional>

#include "session/rdp/freerdp_control.h"

namespace {

// Notes the first paint after the connection stands.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(std::function<void()> onPaint) : onPaint_(std::move(onPaint)) {}
    bool armed = false;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (armed && event->type() == QEvent::Paint) {
            armed = false;
            onPaint_();
        }
        return false;
    }

private:
    std::function<void()> onPaint_;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const bool probe = argc == 4 && QString(argv[3]) == "--probe";
    const bool window = argc == 6 && QString(argv[5]) == "--window";
    if (argc != 5 && !probe && !window) {
        std::fprintf(stderr,
                     "usage: %s HOST PORT USER PASSWORD [--window] | %s HOST PORT --probe\n",
                     argv[0], argv[0]);
        return 2;
    }
    tclink::rdp::FreeRdpControl control;
    QElapsedTimer clock;
    if (probe) {
        control.Server = argv[1];
        control.AdvancedSettings2.RDPPort = QString(argv[2]).toInt();
        control.ProbeOnly = true;
        qint64 connected = -1;
        QObject::connect(&control, &tclink::rdp::RemoteDesktopControl::OnConnected,
                         [&] { connected = clock.elapsed(); });
        QObject::connect(&control, &tclink::rdp::RemoteDesktopControl::OnDisconnected,
                         [&](qint32 reason) {
                             std::printf("connected_ms=%lld ended_ms=%lld reason=%d\n", connected,
                                         clock.elapsed(), reason);
                             app.exit(connected >= 0 ? 0 : 1);
                         });
        clock.start();
        control.Connect();
        return app.exec();
    }
    control.setWindowTitle(QStringLiteral("tclink-connect-bench"));
    if (window)
        control.SecuredSettings2.StartProgram =
            QStringLiteral("E:\\khprogram\\V2011演示版\\bizdesk.exe");
    control.resize(1024, 768);
    control.show();
    control.Server = argv[1];
    control.AdvancedSettings2.RDPPort = QString(argv[2]).toInt();
    control.UserName = argv[3];
    control.setClearTextPassword(argv[4]);

    qint64 connected = -1, login = -1, frame = -1;
    const auto finish = [&] {
        if (login < 0 || frame < 0)
            return;
        if (!window) {
            control.RequestClose();
            return;
        }
        std::printf("connected_ms=%lld login_ms=%lld frame_ms=%lld\n", connected, login, frame);
        std::fflush(stdout);
    };
    FirstPaint firstPaint([&] {
        frame = clock.elapsed();
        finish();
    });
    control.installEventFilter(&firstPaint);
    QObject::connect(&control, &tclink::rdp::RemoteDesktopControl::OnConnected, [&] {
        connected = clock.elapsed();
        firstPaint.armed = true;
    });
    QObject::connect(&control, &tclink::rdp::RemoteDesktopControl::OnLoginComplete, [&] {
        login = clock.elapsed();
        finish();
    });
    QObject::connect(&control, &tclink::rdp::RemoteDesktopControl::OnDisconnected,
                     [&](qint32 reason) {
                         std::printf("connected_ms=%lld login_ms=%lld frame_ms=%lld reason=%d\n",
                                     connected, login, frame, reason);
                         app.exit(frame >= 0 ? 0 : 1);
                     });
    if (!window)
        QTimer::singleShot(20000, &control, [&] { control.Disconnect(); });
    clock.start();
    control.Connect();
    return app.exec();
}
