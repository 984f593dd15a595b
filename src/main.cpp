#include "platform/application.h"
#include "platform/clock.h"
#include "platform/desktop.h"
#include "platform/display.h"
#include "platform/drive_map.h"
#include "platform/message_boxes.h"
#include "platform/services.h"
#include "platform/start_report.h"
#include "session/rdp/freerdp_control.h"
#include "session/rdp/freerdp_loader.h"
#include "startup/Module1.h"
#include "update/inet/curl_transfer_control.h"

#include <QApplication>
#include <cstdio>

namespace {

// The session shares the program's own drives with the server: C:, and D: when the program
// counts it as there (it holds something).
std::vector<tclink::rdp::SharedDrive> programDrives(const tclink::platform::DriveMap& drives)
{
    std::vector<tclink::rdp::SharedDrive> shared;
    if (const auto c = drives.root(QChar('C')))
        shared.push_back({"C", *c});
    if (!drives.firstEntry(QChar('D')).isEmpty())
        shared.push_back({"D", *drives.root(QChar('D'))});
    return shared;
}

} // namespace

int main(int argc, char** argv)
{
    switch (tclink::platform::prepareDisplay()) {
    case tclink::platform::DisplayCheck::Available:
        break;
    case tclink::platform::DisplayCheck::NoDisplay:
        std::fputs(tclink::platform::NoDisplayMessage, stderr);
        return 1;
    case tclink::platform::DisplayCheck::NoXwayland:
        std::fputs(tclink::platform::NoXwaylandMessage, stderr);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tclink"));
    tclink::platform::setUpApplication(app);
    tclink::platform::reportFirstWindow(app);
    // Desktops match the windows to tclink.desktop (its StartupWMClass is this name, too).
    QApplication::setDesktopFileName(QStringLiteral("tclink"));

    tclink::platform::DriveMap drives = tclink::platform::DriveMap::fromEnvironment();
    tclink::platform::QtMessageBoxes boxes;
    tclink::platform::SystemClock clock;
    tclink::platform::HostDesktop desktop(drives);
    const auto makeRemoteDesktop = [&drives](QWidget* parent) {
        auto* control = new tclink::rdp::FreeRdpControl(parent);
        control->setDriveFolders([&drives] { return programDrives(drives); });
        return control;
    };
    const auto makeTransfer = [&drives](QObject* parent) {
        return new tclink::inet::CurlTransferControl(
            [&drives](const QString& windowsPath) { return drives.require(windowsPath); }, parent);
    };
    tclink::platform::Services services{drives,
                                        boxes,
                                        clock,
                                        desktop,
                                        makeRemoteDesktop,
                                        makeTransfer,
                                        tclink::rdp::preloadFreeRdp};

    tclink::Module1 module(services);
    module.Main();
    // When start-up could not open its first window, nothing keeps the program running.
    for (const QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible()) {
            return QApplication::exec();
        }
    }
    return 0;
}
