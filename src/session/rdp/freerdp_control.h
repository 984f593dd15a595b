#pragma once

#include <memory>

#include "platform/keyboard_locks.h"
#include "session/rdp/certificate_pins.h"
#include "session/rdp/drive_sharing.h"
#include "session/rdp/keyboard_state.h"
#include "session/rdp/remote_desktop_control.h"

class QScrollBar;

namespace tclink::rdp {

class ClipboardBridge;
class FreeRdpSession;
class ReconnectNotice;
struct RemotePointer;

// The remote-desktop control on the FreeRDP 2 client library. The widget itself shows the
// remote screen and passes keyboard and mouse input to it; the remote desktop takes the
// widget's size at Connect, in the screen's device pixels (painted 1:1), and the server's
// pointer is the widget's cursor. A widget smaller than the remote desktop has scroll bars.
class FreeRdpControl final : public RemoteDesktopControl {
    Q_OBJECT
public:
    explicit FreeRdpControl(QWidget* parent = nullptr);
    ~FreeRdpControl() override;

    void setClearTextPassword(const QString& password) override;
    QString Version() const override;
    void Connect() override;
    void RequestClose() override;
    void Disconnect() override;
    qint32 ExtendedDisconnectReason() const override;

    // Where the local toggle keys are read (the window system's unless replaced); the locks
    // must outlive the control.
    void setKeyboardLocks(const platform::KeyboardLocks& locks) { locks_ = &locks; }
    // The drives RedirectDrives shares, once they pass checkDrives; none unless set.
    void setDriveFolders(DriveFolders folders) { driveFolders_ = std::move(folders); }
    // The fingerprints the servers' certificates must have (the build's unless replaced).
    void setCertificatePins(std::vector<QByteArray> pins) { certificatePins_ = std::move(pins); }

    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void onFinished(qint32 discReason, qint32 extendedReason);
    void onReconnecting(int attempt);
    void onReconnected();
    // Whether input goes to the server: a session that stands and is not away.
    bool live() const { return running_ && !reconnecting_; }
    void sendKey(QKeyEvent* event, bool down);
    void sendButton(QMouseEvent* event, bool down);
    void synchronizeKeyboard();
    QRect inputCursor() const;
    QRect preeditBox() const;
    void showPointer(const RemotePointer& pointer);
    void placeScrollBars();
    // The widget's point on the remote desktop, in device pixels.
    QPoint remotePoint(QPointF local) const;
    // The widget's area that a region of the remote desktop (device pixels) covers.
    QRect localRect(const QRect& remote) const;
    QPoint scrollOffset() const;

    QScrollBar* horizontal_;
    QScrollBar* vertical_;
    QSize desktop_; // device pixels; empty before the first Connect

    QString password_;
    DriveFolders driveFolders_;
    std::vector<QByteArray> certificatePins_ = builtInCertificatePins();
    std::unique_ptr<ClipboardBridge> clipboard_; // outlives the session that uses it
    std::unique_ptr<FreeRdpSession> session_;
    bool running_ = false;
    bool connected_ = false;
    bool reconnecting_ = false;
    ReconnectNotice* notice_;
    const platform::KeyboardLocks* locks_ = &platform::systemKeyboardLocks();
    PressedKeys pressed_;
    QPoint lastPointer_;
    QString preedit_;
    qint32 extendedReason_ = 0;
};

std::unique_ptr<RemoteDesktopControl> makeFreeRdpControl(QWidget* parent = nullptr);

} // namespace tclink::rdp
