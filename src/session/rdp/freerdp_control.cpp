#include "session/rdp/freerdp_control.h"

#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstdio>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <freerdp/input.h>

#include "session/rdp/clipboard_bridge.h"
#include "session/rdp/config_folder.h"
#include "session/rdp/freerdp_compat.h"
#include "session/rdp/freerdp_loader.h"
#include "session/rdp/freerdp_log.h"
#include "session/rdp/freerdp_session.h"
#include "session/rdp/reconnect_notice.h"
#include "session/rdp/reconnect_plan.h"

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

// RDP's device scale factor nearest to the screen's scale: 100, 140 or 180 percent.
quint32 deviceScale(qreal ratio)
{
    return ratio >= 1.6 ? 180 : ratio >= 1.2 ? 140 : 100;
}

} // namespace

FreeRdpControl::FreeRdpControl(QWidget* parent)
    : RemoteDesktopControl(parent), horizontal_(new QScrollBar(Qt::Horizontal, this)),
      vertical_(new QScrollBar(Qt::Vertical, this)), notice_(new ReconnectNotice(this))
{
    // Giving up on the lost session ends it as any end of the session does.
    connect(notice_, &ReconnectNotice::quitRequested, this, &FreeRdpControl::Disconnect);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_InputMethodEnabled);
    for (QScrollBar* bar : {horizontal_, vertical_}) {
        bar->hide();
        bar->setFocusPolicy(Qt::NoFocus);
        bar->setCursor(Qt::ArrowCursor);
        connect(bar, &QScrollBar::valueChanged, this, [this] { update(); });
    }
}

FreeRdpControl::~FreeRdpControl() = default;

void FreeRdpControl::setClearTextPassword(const QString& password)
{
    password_ = password;
}

QString FreeRdpControl::Version() const
{
    if (!loadFreeRdp().empty())
        return {};
    return QString::fromUtf8(freerdp_get_version_string());
}

void FreeRdpControl::Connect()
{
    if (running_)
        return;
    session_.reset();
    // The libraries are loaded when first needed (or were preloaded): waits for them here.
    if (const std::string& failure = loadFreeRdp(); !failure.empty()) {
        std::fputs(freeRdpMissingLine(failure).c_str(), stderr);
        QMetaObject::invokeMethod(
            this, [this] { emit OnDisconnected(ReasonClientLibraryMissing); },
            Qt::QueuedConnection);
        return;
    }

    FreeRdpSession::Config config;
    config.host = Server.toStdString();
    config.port = static_cast<quint16>(std::clamp(AdvancedSettings2.RDPPort, 1, 0xFFFF));
    config.user = UserName.toStdString();
    config.password = password_.toStdString();
    config.shell = SecuredSettings2.StartProgram.toStdString();
    const qreal ratio = devicePixelRatioF();
    desktop_ = size().isEmpty() ? fallbackDesktop : (QSizeF(size()) * ratio).toSize();
    config.width = desktop_.width();
    config.height = desktop_.height();
    config.desktopScale =
        static_cast<quint32>(std::clamp(std::lround(ratio * 100), long{100}, long{500}));
    config.deviceScale = deviceScale(ratio);
    config.audioPlayback = true;
    config.redirectDrives = AdvancedSettings2.RedirectDrives;
    config.redirectPrinters = AdvancedSettings2.RedirectPrinters;
    config.redirectPorts = AdvancedSettings2.RedirectPorts;
    config.probe = ProbeOnly;
    if (config.redirectDrives && !ProbeOnly && driveFolders_) {
        DriveCheck check = checkDrives(driveFolders_(), protectedPlaces());
        if (!check.refusal.isEmpty())
            qCWarning(lcRdp).noquote() << check.refusal;
        config.drives = std::move(check.drives);
    }
    config.configDir = freerdpConfigFolder().toStdString();
    config.certificatePins = certificatePins_;

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
        s, &FreeRdpSession::screenUpdated, this,
        [this](const QRegion& region) {
            for (const QRect& r : region)
                update(localRect(r));
        },
        Qt::QueuedConnection);
    connect(s, &FreeRdpSession::pointerChanged, this, &FreeRdpControl::showPointer,
            Qt::QueuedConnection);
    connect(s, &FreeRdpSession::reconnecting, this, &FreeRdpControl::onReconnecting,
            Qt::QueuedConnection);
    connect(s, &FreeRdpSession::reconnected, this, &FreeRdpControl::onReconnected,
            Qt::QueuedConnection);
    connect(s, &FreeRdpSession::finished, this, &FreeRdpControl::onFinished, Qt::QueuedConnection);
    running_ = true;
    placeScrollBars();
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

void FreeRdpControl::onReconnecting(int attempt)
{
    reconnecting_ = true;
    pressed_.takeAll(); // the server forgets them with the connection
    notice_->showAttempt(attempt, ReconnectPlan::maxAttempts);
}

void FreeRdpControl::onReconnected()
{
    reconnecting_ = false;
    notice_->hide();
    synchronizeKeyboard();
    update();
}

void FreeRdpControl::onFinished(qint32 discReason, qint32 extendedReason)
{
    running_ = false;
    connected_ = false;
    reconnecting_ = false;
    notice_->hide();
    pressed_.takeAll();
    extendedReason_ = extendedReason;
    // The connection is over: its FreeRDP context (screen, codecs, compressors) goes with it.
    session_->join();
    session_.reset();
    // What the allocator keeps of it would otherwise stay with the process for good: a probe
    // ends while the session's connection is being set up on other threads and arenas.
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
    emit OnDisconnected(discReason);
}

QPoint FreeRdpControl::scrollOffset() const
{
    return {horizontal_->value(), vertical_->value()};
}

QPoint FreeRdpControl::remotePoint(QPointF local) const
{
    return ((local + scrollOffset()) * devicePixelRatioF()).toPoint();
}

QRect FreeRdpControl::localRect(const QRect& remote) const
{
    const QRectF logical(QPointF(remote.topLeft()) / devicePixelRatioF(),
                         QSizeF(remote.size()) / devicePixelRatioF());
    return logical.toAlignedRect().translated(-scrollOffset());
}

void FreeRdpControl::placeScrollBars()
{
    const qreal ratio = devicePixelRatioF();
    const QSize desktop = (QSizeF(desktop_) / ratio).toSize();
    const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    bool across = desktop.width() > width();
    bool down = desktop.height() > height();
    across = across || (down && desktop.width() > width() - extent);
    down = down || (across && desktop.height() > height() - extent);
    const int viewWidth = width() - (down ? extent : 0);
    const int viewHeight = height() - (across ? extent : 0);
    const auto place = [](QScrollBar* bar, bool shown, const QRect& where, int range, int page) {
        bar->setRange(0, shown ? std::max(range, 0) : 0);
        bar->setPageStep(std::max(page, 1));
        bar->setSingleStep(20);
        bar->setGeometry(where);
        bar->setVisible(shown);
    };
    place(horizontal_, across, QRect(0, height() - extent, viewWidth, extent),
          desktop.width() - viewWidth, viewWidth);
    place(vertical_, down, QRect(width() - extent, 0, extent, viewHeight),
          desktop.height() - viewHeight, viewHeight);
}

void FreeRdpControl::resizeEvent(QResizeEvent* event)
{
    RemoteDesktopControl::resizeEvent(event);
    placeScrollBars();
    notice_->setGeometry(rect());
}

void FreeRdpControl::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const qreal ratio = devicePixelRatioF();
    const QPoint offset = scrollOffset();
    for (const QRect& r : event->region()) {
        painter.fillRect(r, Qt::black);
        if (!session_)
            continue;
        const QRect source =
            QRectF(QPointF(r.topLeft() + offset) * ratio, QSizeF(r.size()) * ratio).toAlignedRect();
        session_->paint(painter,
                        QRectF(QPointF(source.topLeft()) / ratio - QPointF(offset),
                               QSizeF(source.size()) / ratio),
                        source);
    }
    if (!preedit_.isEmpty()) {
        // The text the input method is still composing, over the remote screen at its cursor.
        painter.fillRect(preeditBox(), Qt::white);
        painter.setPen(Qt::black);
        painter.drawText(lastPointer_ + QPoint(0, fontMetrics().ascent()), preedit_);
    }
}

void FreeRdpControl::showPointer(const RemotePointer& pointer)
{
    const qreal ratio = devicePixelRatioF();
    switch (pointer.kind) {
    case RemotePointer::Kind::Shape: {
        QPixmap picture = QPixmap::fromImage(pointer.image);
        picture.setDevicePixelRatio(ratio);
        const QPoint hotSpot = (QPointF(pointer.point) / ratio).toPoint();
        setCursor(QCursor(picture, hotSpot.x(), hotSpot.y()));
        break;
    }
    case RemotePointer::Kind::Hidden:
        setCursor(Qt::BlankCursor);
        break;
    case RemotePointer::Kind::Default:
        unsetCursor();
        break;
    case RemotePointer::Kind::Position:
        // The server moves the pointer only while the user works in the session.
        if (isActiveWindow() && underMouse())
            QCursor::setPos(
                mapToGlobal((QPointF(pointer.point) / ratio).toPoint() - scrollOffset()));
        break;
    }
}

void FreeRdpControl::sendKey(QKeyEvent* event, bool down)
{
    const DWORD code = compat::rdpScancode(event->nativeScanCode());
    if (!live() || code == 0 || (!down && event->isAutoRepeat()))
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
    if (connected_ && !reconnecting_)
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
    if (connected_ && !reconnecting_ && session_->unicodeInput()) {
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
    if (!live() || flag == 0)
        return;
    const QPoint p = remotePoint(event->position());
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
    if (!live())
        return;
    const QPoint p = remotePoint(event->position());
    session_->sendMouse(PTR_FLAGS_MOVE, p.x(), p.y());
}

void FreeRdpControl::wheelEvent(QWheelEvent* event)
{
    if (!live())
        return;
    const QPoint p = remotePoint(event->position());
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
