#pragma once

#include <QString>
#include <QWidget>

namespace tclink::rdp {

// Settings reached through the control's AdvancedSettings2 object.
struct AdvancedSettings {
    qint32 RDPPort = 3389;
    bool RedirectPrinters = false;
    bool RedirectDrives = false;
    bool RedirectPorts = false;
};

// Settings reached through the control's SecuredSettings object.
struct SecuredSettings {
    QString StartProgram;
};

// The non-scriptable side of the control: the password can be written, never read.
class IMsTscNonScriptable {
public:
    virtual void setClearTextPassword(const QString& password) = 0;

protected:
    ~IMsTscNonScriptable() = default;
};

// OnDisconnected's reason when the server's certificate is none of those the program was built
// to accept (TCLINK_SERVER_CERTIFICATES); not one of the platform control's codes.
constexpr qint32 ReasonServerCertificateRefused = 0x10001;
// OnDisconnected's reason when the client library cannot be loaded (it is not installed, or
// not whole); nothing was sent. Not one of the platform control's codes.
constexpr qint32 ReasonClientLibraryMissing = 0x10002;

// A remote-desktop client control hosted in a window. The host places it (geometry,
// visibility), sets its properties, calls Connect and reacts to its events. Connect returns
// at once; the events arrive later on the UI thread, in the order they happened:
// OnConnecting, OnConnected (the connection to the server stands), OnLoginComplete (the
// server reported the logon), and OnDisconnected with a reason code when a connection fails
// or a session ends. OnFatalError reports what the client library cannot recover from.
class RemoteDesktopControl : public QWidget, public IMsTscNonScriptable {
    Q_OBJECT
public:
    using QWidget::QWidget;

    QString Server;
    QString UserName;
    // Not the platform control's: the connection only finds out whether the server answers as
    // a remote-desktop server. OnConnected comes as soon as it has; there is no login and no
    // channel, and the connection then ends by itself (OnDisconnected with reason 1).
    bool ProbeOnly = false;
    AdvancedSettings AdvancedSettings2;
    SecuredSettings SecuredSettings2;

    // The client library's version text.
    virtual QString Version() const = 0;

    virtual void Connect() = 0;
    // Asks the session to close; the returned status of the platform control is not used.
    virtual void RequestClose() = 0;
    virtual void Disconnect() = 0;

    // The server's own reason for the last disconnection (its error info), 0 when none.
    virtual qint32 ExtendedDisconnectReason() const = 0;

signals:
    void OnConnecting();
    void OnConnected();
    void OnLoginComplete();
    void OnDisconnected(qint32 discReason);
    void OnFatalError(qint32 errorCode);
};

} // namespace tclink::rdp
