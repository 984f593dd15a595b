#pragma once

#include <QWidget>

class QLabel;
class QTimer;

namespace tclink {
class Module1;
}
namespace tclink::rdp {
class RemoteDesktopControl;
class IMsTscNonScriptable;
} // namespace tclink::rdp

namespace tclink::session {

// The session window. When it becomes active, a hidden probe connection (MsTscAx2) tests
// whether the chosen server can be reached; once it has, the session (MsTscAx1) connects with
// the account and the start program, and is shown when the server reports the logon. Any end
// of the session ends the program. With the backup server, Timer1 watches the time limit.
class frmmain : public QWidget {
    Q_OBJECT
public:
    explicit frmmain(Module1& module);

    void Form_Activate();
    void ConnectSession();
    static QString AccountStem();

    void MsTscAx2_OnConnecting();
    void MsTscAx2_OnConnected();
    void MsTscAx2_OnDisconnected(qint32 discReason);
    void MsTscAx1_OnConnecting();
    void MsTscAx1_OnConnected();
    void MsTscAx1_OnLoginComplete();
    void MsTscAx1_OnDisconnected(qint32 discReason);
    void MsTscAx1_OnFatalError(qint32 errorCode);
    void Timer1_Timer();

    rdp::RemoteDesktopControl* MsTscAx1;
    rdp::RemoteDesktopControl* MsTscAx2;
    QLabel* Label4;
    QTimer* Timer1;

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeStatusLabel();
    // The session's place: the whole client area, less what a taskbar at the bottom of the
    // screen still covers of it.
    QRect sessionRect(const QRect& taskbar) const;
    void setStatus(const QString& text);
    // Writes the id, backup id and line files; the first failure as text, empty if none.
    QString saveWorkingConfiguration();
    void tell(const QString& prompt);

    void showWithoutLogon();

    Module1& module_;
    // Started when the session stands: a logon signal that never comes (a failed login on
    // the server's own screen, a server that sends none) must not hide the session for ever.
    QTimer* logonWait_;
    rdp::IMsTscNonScriptable* nonScriptable_ = nullptr;
    bool probeConnected_ = false;
    bool activatedBefore_ = false;
    bool anotherFormWasActive_ = false;
};

// Status texts of the connection.
inline const QString StatusStarting = QStringLiteral("正在启动程序，请稍等......");
inline const QString StatusConnecting = QStringLiteral("程序正在连接服务器中......");
inline const QString StatusVerifying =
    QStringLiteral("程序已成功连接服务器中，正在核对用户身份......");
inline const QString StatusLoggedIn = QStringLiteral("核对用户身份成功！系统即将启动......");

} // namespace tclink::session
