#include "session/rdp/freerdp_control.h"

#include <QDir>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStandardPaths>
#include <QWheelEvent>

#include <algorithm>

#include <freerdp/input.h>
#include <freerdp/locale/keyboard.h>

#include "session/rdp/clipboard_bridge.h"
#include "session/rdp/freerdp_session.h"

namespace tclink::rdp {

namespace {

// OnFatalError's code when the client library cannot even be set up.
constexpr qint32 fatalOutOfMemory = 2;
constexpr qint32 reasonOutOfMemory = 262;

// The remote desktop when the control has no usable size yet.
constexpr QSize fallbackDesktop(1024, 768);

quint16 buttonFlag(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton:
        return PTR_FLAGS_BUTTON1;
    case Qt::RightButton:
        return PTR_FLAGS_BUTTON2;
    case Qt::MiddleButton:
        return PTR_FLAGS_BUTTON3;
    default:
        return 0;
    }
}

// A wheel turn as RDP's 9-bit signed rotation; 0 when there is nothing to send.
quint16 wheelFlags(int delta, quint16 wheel)
{
    const int rotation = std::clamp(delta, -0xFF, 0xFF);
    if (rotation == 0)
        return 0;
    if (rotation > 0)
        return static_cast<quint16>(wheel | rotation);
    return static_cast<quint16>(wheel | PTR_FLAGS_WHEEL_NEGATIVE | ((0x100 + rotation) & 0xFF));
}

} // namespace

FreeRdpControl::FreeRdpControl(QWidget* parent) : RemoteDesktopControl(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_InputMethodEnabled);
}

FreeRdpControl::~FreeRdpControl() = default;

void FreeRdpControl::setClearTextPassword(const QString& password)
{
    password_ = password;
}

QString FreeRdpControl::Version() const
{
    return QString::fromUtf8(freerdp_get_version_string());
}

void FreeRdpControl::Connect()
{
    if (running_)
        return;
    session_.reset();

    FreeRdpSession::Config config;
    config.host = Server.toStdString();
    config.port = static_cast<quint16>(std::clamp(AdvancedSettings2.RDPPort, 1, 0xFFFF));
    config.user = UserName.toStdString();
    config.password = password_.toStdString();
    config.shell = SecuredSettings2.StartProgram.toStdString();
    const QSize desktop = size().isEmpty() ? fallbackDesktop : size();
    config.width = desktop.width();
    config.height = desktop.height();
    config.redirectDrives = AdvancedSettings2.RedirectDrives;
    config.redirectPrinters = AdvancedSettings2.RedirectPrinters;
    config.redirectPorts = AdvancedSettings2.RedirectPorts;
    config.probe = ProbeOnly;
    config.driveRoot = QDir::homePath().toStdString();
    config.configDir =
        (QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) + "/freerdp")
            .toStdString();

    // A probe shares nothing: it ends before any channel would be joined.
    clipboard_ = ProbeOnly ? nullptr : std::make_unique<ClipboardBridge>();
    config.clipboard = clipboard_.get();

    extendedReason_ = 0;
    session_ = std::make_unique<FreeRdpSession>(config);
    session_->setParent(this); // owned by session_; a child so that it can be found

    if (!session_->isValid()) {
        session_.reset();
        QMetaObject::invokeMethod(
            this,
            [this] {
                emit OnFatalError(fatalOutOfMemory);
                emit OnDisconnected(reasonOutOfMemory);
            },
            Qt::QueuedConnection);
        return;
    }
    const FreeRdpSession* s = session_.get();
    connect(s, &FreeRdpSession::connecting, this, &FreeRdpControl::OnConnecting,
            Qt::QueuedConnection);
    connect(
        s, &FreeRdpSession::connected, this,
        [this] {
            connected_ = true;
            synchronizeKeyboard();
            emit OnConnected();
        },
        Qt::QueuedConnection);
    connect(s, &FreeRdpSession::loginComplete, this, &FreeRdpControl::OnLoginComplete,
            Qt::QueuedConnection);
    connect(s, &FreeRdpSession::fatalError, this, &FreeRdpControl::OnFatalError,
            Qt::QueuedConnection);
    connect(
        s, &FreeRdpSession::screenUpdated, this, [this](const QRegion& r) { update(r); },
        Qt::QueuedConnection);
    connect(s, &FreeRdpSession::finished, this, &FreeRdpControl::onFinished, Qt::QueuedConnection);
    running_ = true;
    session_->start();
}

void FreeRdpControl::RequestClose()
{
    Disconnect();
}

void FreeRdpControl::Disconnect()
{
    if (running_)
        session_->close();
}

qint32 FreeRdpControl::ExtendedDisconnectReason() const
{
    return extendedReason_;
}

void FreeRdpControl::onFinished(qint32 discReason, qint32 extendedReason)
{
    running_ = false;
    connected_ = false;
    pressed_.takeAll();
    extendedReason_ = extendedReason;
    // The connection is over: its FreeRDP context (screen, codecs, compressors) goes with it.
    session_->join();
    session_.reset();
    emit OnDisconnected(discReason);
}

void FreeRdpControl::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    for (const QRect& r : event->region())
        painter.fillRect(r, Qt::black);
    if (session_)
        session_->paint(painter, event->region());
    if (!preedit_.isEmpty()) {
        // The text the input method is still composing, over the remote screen at its cursor.
        painter.fillRect(preeditBox(), Qt::white);
        painter.setPen(Qt::black);
        painter.drawText(lastPointer_ + QPoint(0, fontMetrics().ascent()), preedit_);
    }
}

void FreeRdpControl::sendKey(QKeyEvent* event, bool down)
{
    const DWORD code = freerdp_keyboard_get_rdp_scancode_from_x11_keycode(event->nativeScanCode());
    if (!running_ || code == 0 || (!down && event->isAutoRepeat()))
        return;
    pressed_.note(down, code);
    session_->sendKeyboard(down, code);
}

// The server takes the local toggle keys and forgets every key it held down.
void FreeRdpControl::synchronizeKeyboard()
{
    pressed_.takeAll();
    session_->sendSynchronize(syncFlags(locks_->toggleKeys()));
}

void FreeRdpControl::focusInEvent(QFocusEvent* event)
{
    if (connected_)
        synchronizeKeyboard();
    RemoteDesktopControl::focusInEvent(event);
}

// Keys held while the focus leaves (Alt of Alt+Tab, Ctrl of a shortcut that opens a window) never
// see their release here: the server gets it now.
void FreeRdpControl::focusOutEvent(QFocusEvent* event)
{
    for (const quint32 code : pressed_.takeAll())
        session_->sendKeyboard(false, code);
    RemoteDesktopControl::focusOutEvent(event);
}

// Shown means ready for typing: the keyboard goes to the session without a first click.
void FreeRdpControl::showEvent(QShowEvent* event)
{
    RemoteDesktopControl::showEvent(event);
    setFocus(Qt::OtherFocusReason);
}

// Text an input method commits goes to the server as Unicode characters; servers without
// Unicode keyboard events cannot take it.
void FreeRdpControl::inputMethodEvent(QInputMethodEvent* event)
{
    if (connected_ && session_->unicodeInput()) {
        for (const QChar c : event->commitString())
            session_->sendUnicode(c.unicode());
    }
    if (preedit_ != event->preeditString()) {
        update(preeditBox());
        preedit_ = event->preeditString();
        update(preeditBox());
    }
    event->accept();
}

// The remote caret is unknown here; the input method's window goes where the pointer last was,
// which is where the user clicked to type.
QRect FreeRdpControl::inputCursor() const
{
    return QRect(lastPointer_, QSize(1, fontMetrics().height()));
}

QRect FreeRdpControl::preeditBox() const
{
    return QRect(lastPointer_, QSize(fontMetrics().horizontalAdvance(preedit_), 0))
        .united(inputCursor())
        .adjusted(-2, 0, 2, 0);
}

QVariant FreeRdpControl::inputMethodQuery(Qt::InputMethodQuery query) const
{
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImCursorRectangle:
        return inputCursor();
    default:
        return RemoteDesktopControl::inputMethodQuery(query);
    }
}

void FreeRdpControl::keyPressEvent(QKeyEvent* event)
{
    sendKey(event, true);
}

void FreeRdpControl::keyReleaseEvent(QKeyEvent* event)
{
    sendKey(event, false);
}

void FreeRdpControl::sendButton(QMouseEvent* event, bool down)
{
    const quint16 flag = buttonFlag(event->button());
    if (!running_ || flag == 0)
        return;
    const QPoint p = event->position().toPoint();
    session_->sendMouse(static_cast<quint16>(flag | (down ? PTR_FLAGS_DOWN : 0)), p.x(), p.y());
}

void FreeRdpControl::mousePressEvent(QMouseEvent* event)
{
    lastPointer_ = event->position().toPoint();
    sendButton(event, true);
}

void FreeRdpControl::mouseReleaseEvent(QMouseEvent* event)
{
    sendButton(event, false);
}

void FreeRdpControl::mouseMoveEvent(QMouseEvent* event)
{
    if (!running_)
        return;
    const QPoint p = event->position().toPoint();
    session_->sendMouse(PTR_FLAGS_MOVE, p.x(), p.y());
}

void FreeRdpControl::wheelEvent(QWheelEvent* event)
{
    if (!running_)
        return;
    const QPoint p = event->position().toPoint();
    if (const quint16 flags = wheelFlags(event->angleDelta().y(), PTR_FLAGS_WHEEL))
        session_->sendMouse(flags, p.x(), p.y());
    if (const quint16 flags = wheelFlags(-event->angleDelta().x(), PTR_FLAGS_HWHEEL))
        session_->sendMouse(flags, p.x(), p.y());
}

bool FreeRdpControl::focusNextPrevChild(bool)
{
    return false; // Tab belongs to the remote desktop
}

std::unique_ptr<RemoteDesktopControl> makeFreeRdpControl(QWidget* parent)
{
    return std::make_unique<FreeRdpControl>(parent);
}

} // namespace tclink::rdp
