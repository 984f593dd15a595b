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
    control.resize(640, 480);
    control.Server = QString::fromLocal8Bit(argv[1]);
    control.AdvancedSettings2.RDPPort = QString::fromLocal8Bit(argv[2]).toInt();
    control.UserName = tclink::rdp::test::account;
    control.setClearTextPassword(tclink::rdp::test::password);
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
