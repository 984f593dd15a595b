// tclink-control-window HOST PORT: the session control alone in a window titled
// "tclink-control", connected with the test account; prints "login" when the logon completed
// and ends when the session does. For tests on a real X display (input methods).

#include <QApplication>

#include <cstdio>

#include "rdp_test_support.h"
#include "session/rdp/freerdp_control.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 3)
        return 2;
    tclink::rdp::FreeRdpControl control;
    control.setWindowTitle(QStringLiteral("tclink-control"));
    tclink::rdp::test::logInTo(control, QString::fromLocal8Bit(argv[1]),
                               QString::fromLocal8Bit(argv[2]).toInt());
    QObject::connect(&control, &tclink::rdp::RemoteDesktopControl::OnLoginComplete, [] {
        std::printf("login\n");
        std::fflush(stdout);
    });
    QObject::connect(&control, &tclink::rdp::RemoteDesktopControl::OnDisconnected,
                     [](qint32 reason) { QCoreApplication::exit(reason == 1 ? 0 : 1); });
    control.show();
    control.Connect();
    return QApplication::exec();
}
