#pragma once

#include "platform/services.h"

#include <QDateTime>
#include <QPointer>
#include <QString>

namespace tclink::launcher {
class frmbegin;
}
namespace tclink::update {
class frmupdate;
}
namespace tclink::session {
class frmmain;
class FrmExitMsg;
} // namespace tclink::session

namespace tclink {

// The program-wide state that every window shares, the start-up procedure, and the one
// reference to each window. Every window exists at most once; it is created on first use.
class Module1 {
public:
    explicit Module1(platform::Services& services);
    ~Module1();
    Module1(const Module1&) = delete;
    Module1& operator=(const Module1&) = delete;

    platform::Services& services;

    QString ServerAddress; // server of the chosen line
    QString MachineNumber; // the stored id line: prefix and the machine number as typed
    QString LineCode;      // "1" telecom line, "3" netcom line
    bool UseMainServer = false;
    QDateTime BackupLoginTime; // whole seconds; set only for a backup-server login
    bool SessionClosing = false;
    bool HasDriveD = false;

    // Start-up: the drive test, the remembered line, then the first window.
    void Main();

    // Each window, created if it does not exist yet and shown modeless without an owner.
    update::frmupdate& showFrmupdate();
    launcher::frmbegin& showFrmbegin();
    session::frmmain& showFrmmain();
    session::FrmExitMsg& showFrmExitMsg();

    // The windows that exist now (null otherwise).
    update::frmupdate* frmupdate() const;
    launcher::frmbegin* frmbegin() const;
    session::frmmain* frmmain() const;
    session::FrmExitMsg* FrmExitMsg() const;

private:
    QPointer<update::frmupdate> frmupdate_;
    QPointer<launcher::frmbegin> frmbegin_;
    QPointer<session::frmmain> frmmain_;
    QPointer<session::FrmExitMsg> frmExitMsg_;
};

// Server addresses of the two lines; each is also the update server of its line.
inline const QString TelecomServer = QStringLiteral(TCLINK_TELECOM_SERVER);
inline const QString NetcomServer = QStringLiteral(TCLINK_NETCOM_SERVER);
// The edition; the update server keeps its files in a folder of this name.
inline const QString EditionName = QStringLiteral("qtm演示版");
inline constexpr int VersionMajor = TCLINK_VERSION_MAJOR;
inline constexpr int VersionMinor = TCLINK_VERSION_MINOR;
inline constexpr int VersionRevision = TCLINK_VERSION_REVISION;
inline const QString VendorWebsite = QStringLiteral(TCLINK_VENDOR_WEBSITE);
inline const QString SupportPhone = QStringLiteral(TCLINK_SUPPORT_PHONE);

} // namespace tclink
