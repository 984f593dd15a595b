// Downloads one file over FTP with the transfer control, as the update does:
//     tclink_bench_download HOST PORT USER PASSWORD REMOTE LOCAL
// REMOTE is the server's backslash path, LOCAL a host path. Exits 0 when the file arrived.
#include "update/inet/curl_transfer_control.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 7) {
        std::fputs("usage: tclink_bench_download HOST PORT USER PASSWORD REMOTE LOCAL\n", stderr);
        return 2;
    }
    const std::filesystem::path local = args[6].toStdString();
    tclink::inet::CurlTransferControl inet([&](const QString&) { return local; });
    inet.Protocol = tclink::inet::icFTP;
    inet.RemoteHost = args[1];
    inet.RemotePort = args[2].toInt();
    inet.UserName = args[3];
    inet.Password = args[4];
    QObject::connect(&inet, &tclink::inet::InternetTransferControl::StateChanged, [&](int state) {
        if (state == tclink::inet::icError || state == tclink::inet::icResponseCompleted) {
            app.exit(state == tclink::inet::icError ? 1 : 0);
        }
    });
    inet.Execute(QString(), QStringLiteral("get  %1  c:\\bench").arg(args[5]));
    const int status = app.exec();
    if (status != 0) {
        std::fprintf(stderr, "%s\n", qPrintable(inet.ResponseInfo()));
    }
    return status;
}
