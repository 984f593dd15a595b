#include "session/rdp/freerdp_session.h"

#include "session/rdp/certificate_pins.h"
#include "session/rdp/clipboard_bridge.h"
#include "session/rdp/freerdp_compat.h"
#include "session/rdp/freerdp_log.h"
#include "session/rdp/logon_watch.h"
#include "session/rdp/reconnect_plan.h"
#include "session/rdp/remote_desktop_control.h"

#include <QPainter>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <freerdp/client/channels.h>
#include <freerdp/client/cmdline.h>
#include <freerdp/gdi/gdi.h>
#include <freerdp/primitives.h>

namespace tclink::rdp {

namespace {

// Save Session Info types that report a finished logon.
constexpr UINT32 infoTypeLogon = 0;
constexpr UINT32 infoTypeLogonLong = 1;
constexpr UINT32 infoTypePlainNotify = 2;

// A silent server counts as gone after this many heartbeat periods, within these bounds.
constexpr int missedHeartbeats = 3;
constexpr auto minSilence = std::chrono::seconds(2);
constexpr auto maxSilence = std::chrono::seconds(20);

// Process-wide set-up of the library; returns the local keyboard layout (detected once: the
// detection starts helper programs).
DWORD initialiseLibrary()
{
    static const DWORD keyboardLayout = [] {
        routeFreeRdpLog();
        registerLogonWatchingProvider(FreeRdpSession::onUserLoggedOn);
        compat::setConnectHooks({FreeRdpSession::onSocketOpened, FreeRdpSession::onTlsStarting});
        primitives_set_hints(PRIMITIVES_ONLY_CPU);
        return compat::initKeyboard();
    }();
    return keyboardLayout;
}

bool addDevice(rdpSettings* settings, std::vector<std::string> params)
{
    std::vector<char*> argv;
    for (auto& p : params)
        argv.push_back(p.data());
    return freerdp_client_add_device_channel(settings, argv.size(), argv.data());
}

bool redirectPorts(rdpSettings* settings)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    for (int i = 0; i < 4; ++i) {
        const auto path = "/dev/ttyS" + std::to_string(i);
        if (fs::exists(path, ec) &&
            !addDevice(settings, {"serial", "COM" + std::to_string(i + 1), path}))
            return false;
    }
    for (int i = 0; i < 3; ++i) {
        const auto path = "/dev/lp" + std::to_string(i);
        if (fs::exists(path, ec) &&
            !addDevice(settings, {"parallel", "LPT" + std::to_string(i + 1), path}))
            return false;
    }
    return freerdp_settings_set_bool(settings, FreeRDP_RedirectSerialPorts, TRUE) &&
           freerdp_settings_set_bool(settings, FreeRDP_RedirectParallelPorts, TRUE);
}

bool setString(rdpSettings* settings, compat::StringSetting id, const std::string& value)
{
    return value.empty() || freerdp_settings_set_string(settings, id, value.c_str());
}

bool configure(rdpSettings* s, const FreeRdpSession::Config& c)
{
    const auto u32 = [](int v) { return static_cast<UINT32>(v); };
    bool ok = freerdp_settings_set_string(s, FreeRDP_ServerHostname, c.host.c_str()) &&
              freerdp_settings_set_uint32(s, FreeRDP_ServerPort, c.port) &&
              setString(s, FreeRDP_Username, c.user) &&
              setString(s, FreeRDP_Password, c.password) &&
              setString(s, FreeRDP_AlternateShell, c.shell) &&
              freerdp_settings_set_string(s, FreeRDP_ConfigPath, c.configDir.c_str()) &&
              // Certificates are judged by onVerifyCertificate alone: no store, no file.
              freerdp_settings_set_bool(s, FreeRDP_ExternalCertificateManagement, TRUE) &&
              freerdp_settings_set_uint32(s, FreeRDP_DesktopWidth, u32(c.width)) &&
              freerdp_settings_set_uint32(s, FreeRDP_DesktopHeight, u32(c.height)) &&
              freerdp_settings_set_uint32(s, FreeRDP_DesktopScaleFactor, c.desktopScale) &&
              freerdp_settings_set_uint32(s, FreeRDP_DeviceScaleFactor, c.deviceScale) &&
              freerdp_settings_set_uint32(s, FreeRDP_ColorDepth, 32) &&
              freerdp_settings_set_bool(s, FreeRDP_SoftwareGdi, TRUE) &&
              freerdp_settings_set_bool(s, FreeRDP_RedirectClipboard, c.clipboard != nullptr) &&
              freerdp_settings_set_bool(s, FreeRDP_SupportHeartbeatPdu, TRUE) &&
              acceptReconnectCookie(s) &&
              // A link that stops acknowledging is given up after 20 s; an idle one is probed.
              freerdp_settings_set_bool(s, FreeRDP_TcpKeepAlive, TRUE) &&
              freerdp_settings_set_uint32(s, FreeRDP_TcpKeepAliveDelay, 5) &&
              freerdp_settings_set_uint32(s, FreeRDP_TcpKeepAliveInterval, 5) &&
              freerdp_settings_set_uint32(s, FreeRDP_TcpKeepAliveRetries, 3) &&
              freerdp_settings_set_uint32(s, FreeRDP_TcpAckTimeout, 20000) &&
              freerdp_settings_set_uint32(s, FreeRDP_KeyboardLayout, initialiseLibrary());
    if (ok && c.audioPlayback) {
        // Sound plays through PulseAudio, else ALSA; with neither, the session is silent. The
        // static channel only (FreeRDP then turns audio playback on by itself): the dynamic
        // one would cost one more channel join at every login.
        std::string name = "rdpsnd";
        char* params[] = {name.data()};
        ok = freerdp_client_add_static_channel(s, 1, params);
    }
    // RedirectDrives without a drive of its own makes FreeRDP share the whole file system.
    if (ok && c.redirectDrives && !c.drives.empty()) {
        for (const SharedDrive& drive : c.drives)
            ok = ok && addDevice(s, {"drive", drive.name, driveChannelPath(drive.folder)});
        ok = ok && freerdp_settings_set_bool(s, FreeRDP_RedirectDrives, TRUE);
    }
    if (ok && c.redirectPrinters)
        ok = addDevice(s, {"printer"});
    if (ok && c.redirectPorts)
        ok = redirectPorts(s);
    if (ok && (c.redirectDrives || c.redirectPrinters || c.redirectPorts))
        ok = freerdp_settings_set_bool(s, FreeRDP_DeviceRedirection, TRUE);
    return ok;
}

} // namespace

struct FreeRdpSession::Context {
    rdpContext base; // first: FreeRDP allocates and frees the whole structure
    FreeRdpSession* session;
};

FreeRdpSession::Context* FreeRdpSession::contextOf(rdpContext* context)
{
    return reinterpret_cast<Context*>(context);
}

FreeRdpSession::Context* FreeRdpSession::contextOf(freerdp* instance)
{
    return contextOf(instance->context);
}

FreeRdpSession::FreeRdpSession(const Config& config)
{
    initialiseLibrary(); // before the first context: FreeRDP 3 logs while making one
    freerdp* instance = freerdp_new();
    if (!instance)
        return;
    instance->ContextSize = sizeof(Context);
    instance->ContextNew = onContextNew;
    instance->PreConnect = onPreConnect;
    compat::setChannelLoader(instance, onLoadChannels);
    instance->PostConnect = onPostConnect;
    instance->PostDisconnect = onPostDisconnect;
    instance->VerifyX509Certificate = onVerifyCertificate;
    if (!freerdp_context_new(instance)) {
        freerdp_free(instance);
        return;
    }
    contextOf(instance)->session = this;
    clipboard_ = config.clipboard;
    wakeEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!wakeEvent_ || !configure(instance->context->settings, config) ||
        !compat::hookConnection(instance->context)) {
        freerdp_context_free(instance);
        freerdp_free(instance);
        return;
    }
    probe_ = config.probe;
    certificatePins_ = config.certificatePins;
    instance_ = instance;
}

FreeRdpSession::~FreeRdpSession()
{
    close();
    join();
    if (instance_) {
        forgetLogonWatch(instance_->context);
        freerdp_context_free(instance_);
        freerdp_free(instance_);
    }
    if (wakeEvent_)
        CloseHandle(wakeEvent_);
}

void FreeRdpSession::start()
{
    thread_ = std::thread([this] { run(); });
}

void FreeRdpSession::close()
{
    if (!instance_ || closing_.exchange(true))
        return;
    compat::abortConnect(instance_->context);
    SetEvent(wakeEvent_);
}

void FreeRdpSession::join()
{
    if (thread_.joinable())
        thread_.join();
}

BOOL FreeRdpSession::onContextNew(freerdp*, rdpContext* context)
{
    contextOf(context)->session = nullptr;
    return TRUE;
}

BOOL FreeRdpSession::onPreConnect(freerdp* instance)
{
    FreeRdpSession* self = contextOf(instance)->session;
    // freerdp_connect clears the abort flag first: a close that came before is honoured here.
    if (self->closing_) {
        compat::abortConnect(instance->context);
        return FALSE;
    }
    rdpUpdate* update = instance->context->update;
    update->BeginPaint = onBeginPaint;
    update->EndPaint = onEndPaint;
    update->DesktopResize = onDesktopResize;
    update->SaveSessionInfo = onSaveSessionInfo;
    instance->heartbeat->ServerHeartbeat = onServerHeartbeat;
    return !compat::channelsLoadedInPreConnect || onLoadChannels(instance);
}

BOOL FreeRdpSession::onLoadChannels(freerdp* instance)
{
    FreeRdpSession* self = contextOf(instance)->session;
    // The one switch between the two kinds of connection: a probe joins no channel.
    if (self->probe_)
        return TRUE;
    if (self->clipboard_) {
        PubSub_SubscribeChannelConnected(instance->context->pubSub, onChannelConnected);
        PubSub_SubscribeChannelDisconnected(instance->context->pubSub, onChannelDisconnected);
    }
    return compat::loadChannels(instance);
}

BOOL FreeRdpSession::onPostConnect(freerdp* instance)
{
    FreeRdpSession* self = contextOf(instance)->session;
    const rdpSettings* settings = instance->context->settings;
    {
        std::lock_guard lock(self->screenMutex_);
        if (!self->attachScreen(
                static_cast<int>(freerdp_settings_get_uint32(settings, FreeRDP_DesktopWidth)),
                static_cast<int>(freerdp_settings_get_uint32(settings, FreeRDP_DesktopHeight))) ||
            !gdi_init_ex(instance, PIXEL_FORMAT_BGRX32,
                         static_cast<UINT32>(self->screen_.bytesPerLine()), self->screen_.bits(),
                         nullptr))
            return FALSE;
    }
    registerPointer(instance->context, onPointer);
    self->unicodeInput_ = freerdp_settings_get_bool(settings, FreeRDP_UnicodeInput);
    return self->reportConnected();
}

bool FreeRdpSession::reportConnected()
{
    connectDeadline_->met();
    releaseConnectSocket();
    // The deadline's expiry, if it came first, is complete once met() returns.
    if (connectTimedOut_)
        return false;
    connected_ = true;
    lastActivity_ = Clock::now();
    emit connected();
    if (probe_)
        close(); // it knows what it came for
    return true;
}

void FreeRdpSession::expireConnect()
{
    if (closing_)
        return;
    connectTimedOut_ = true;
    compat::abortConnect(instance_->context);
    // FreeRDP's TLS handshake waits for data without looking at the abort: shutting the
    // socket down ends it.
    {
        std::lock_guard lock(socketMutex_);
        if (connectSocket_ >= 0)
            shutdown(connectSocket_, SHUT_RDWR);
    }
    SetEvent(wakeEvent_);
}

void FreeRdpSession::onSocketOpened(rdpContext* context, int fd)
{
    // A copy of the descriptor, taken on the connecting thread: the deadline's thread shuts down
    // this connection's socket and no other, even after FreeRDP has closed its own descriptor.
    FreeRdpSession* self = contextOf(context)->session;
    std::lock_guard lock(self->socketMutex_);
    if (self->connectSocket_ >= 0)
        ::close(self->connectSocket_);
    self->connectSocket_ = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (self->connectTimedOut_ && self->connectSocket_ >= 0)
        shutdown(self->connectSocket_, SHUT_RDWR);
}

void FreeRdpSession::releaseConnectSocket()
{
    std::lock_guard lock(socketMutex_);
    if (connectSocket_ >= 0)
        ::close(connectSocket_);
    connectSocket_ = -1;
}

bool FreeRdpSession::onTlsStarting(rdpContext* context)
{
    FreeRdpSession* self = contextOf(context)->session;
    // With pinned certificates the probe is answered only by a server whose certificate is one
    // of them: it goes on to the TLS handshake, and onVerifyCertificate reports.
    if (!self->probe_ || !self->certificatePins_.empty())
        return true;
    // The server has confirmed the connection request as an RDP server: the probe knows what
    // it came for, one round trip before the end of the TLS handshake.
    self->reportConnected();
    return false;
}

void FreeRdpSession::onPostDisconnect(freerdp* instance)
{
    FreeRdpSession* self = contextOf(instance)->session;
    if (self->paintLock_.owns_lock())
        self->paintLock_.unlock();
    std::lock_guard lock(self->screenMutex_);
    gdi_free(instance);
}

bool FreeRdpSession::attachScreen(int width, int height)
{
    // The picture the UI shows is FreeRDP's own drawing buffer. It starts black (zeroed) and
    // costs no memory until drawn on: a connection that never paints (the probe) touches none.
    const auto stride = static_cast<qsizetype>(width) * 4;
    void* pixels = std::calloc(static_cast<size_t>(stride) * static_cast<size_t>(height), 1);
    if (!pixels)
        return false;
    screen_ = QImage(
        static_cast<uchar*>(pixels), width, height, stride, QImage::Format_RGB32,
        [](void* p) { std::free(p); }, pixels);
    return !screen_.isNull();
}

int FreeRdpSession::onVerifyCertificate(freerdp* instance, const BYTE* pem, size_t length,
                                        const char* host, UINT16 port, DWORD)
{
    FreeRdpSession* self = contextOf(instance)->session;
    const std::vector<QByteArray>& pins = self->certificatePins_;
    if (!pins.empty()) {
        const QByteArray fingerprint = certificateFingerprint(
            QByteArray(reinterpret_cast<const char*>(pem), static_cast<qsizetype>(length)));
        if (std::find(pins.begin(), pins.end(), fingerprint) == pins.end()) {
            qCWarning(lcRdp).noquote()
                << QStringLiteral("the certificate of %1:%2 (SHA-256 %3) is none of the build's")
                       .arg(host)
                       .arg(port)
                       .arg(fingerprintText(fingerprint));
            self->certificateRefused_ = true;
            return 0;
        }
    }
    if (self->probe_) {
        // The server has answered as an RDP server and finished the security handshake.
        self->reportConnected();
        return 0;
    }
    return 2; // accept for this session only: nothing is stored
}

BOOL FreeRdpSession::onBeginPaint(rdpContext* context)
{
    // FreeRDP 2 leaves resetting the invalid region to the client.
    FreeRdpSession* self = contextOf(context)->session;
    if (!self->paintLock_.owns_lock())
        self->paintLock_.lock();
    HGDI_WND hwnd = context->gdi->primary->hdc->hwnd;
    hwnd->invalid->null = TRUE;
    hwnd->ninvalid = 0;
    return TRUE;
}

BOOL FreeRdpSession::onEndPaint(rdpContext* context)
{
    FreeRdpSession* self = contextOf(context)->session;
    const rdpGdi* gdi = context->gdi;
    const HGDI_WND hwnd = gdi->primary->hdc->hwnd;
    self->lastActivity_ = Clock::now();
    if (self->paintLock_.owns_lock())
        self->paintLock_.unlock();
    if (hwnd->invalid->null || hwnd->ninvalid <= 0)
        return TRUE;

    QRegion region;
    for (INT32 i = 0; i < hwnd->ninvalid; ++i) {
        const GDI_RGN& r = hwnd->cinvalid[i];
        region += QRect(r.x, r.y, r.w, r.h);
    }
    region &= QRect(0, 0, static_cast<int>(gdi->width), static_cast<int>(gdi->height));
    if (!region.isEmpty())
        emit self->screenUpdated(region);
    return TRUE;
}

BOOL FreeRdpSession::onDesktopResize(rdpContext* context)
{
    FreeRdpSession* self = contextOf(context)->session;
    const rdpSettings* settings = context->settings;
    const UINT32 width = freerdp_settings_get_uint32(settings, FreeRDP_DesktopWidth);
    const UINT32 height = freerdp_settings_get_uint32(settings, FreeRDP_DesktopHeight);
    std::unique_lock lock(self->screenMutex_, std::defer_lock);
    if (!self->paintLock_.owns_lock()) // not already held for an update in progress
        lock.lock();
    return self->attachScreen(static_cast<int>(width), static_cast<int>(height)) &&
           gdi_resize_ex(context->gdi, width, height,
                         static_cast<UINT32>(self->screen_.bytesPerLine()), context->gdi->dstFormat,
                         self->screen_.bits(), nullptr);
}

void FreeRdpSession::onPointer(rdpContext* context, const RemotePointer& pointer)
{
    emit contextOf(context)->session->pointerChanged(pointer);
}

BOOL FreeRdpSession::onSaveSessionInfo(rdpContext* context, UINT32 type, void*)
{
    if (type == infoTypeLogon || type == infoTypeLogonLong || type == infoTypePlainNotify)
        contextOf(context)->session->reportLogin();
    return TRUE;
}

void FreeRdpSession::onUserLoggedOn(rdpContext* context)
{
    qCDebug(lcRdp) << "device channel: user logged on";
    contextOf(context)->session->reportLogin();
}

void FreeRdpSession::reportLogin()
{
    // The logon notice and the device channel's "user logged on": whichever comes first.
    if (!loginReported_.exchange(true))
        emit loginComplete();
}

BOOL FreeRdpSession::onServerHeartbeat(freerdp* instance, BYTE period, BYTE, BYTE count2)
{
    contextOf(instance)->session->noteHeartbeat(period, count2);
    return TRUE;
}

void FreeRdpSession::onChannelConnected(void* context, compat::ChannelConnectedArgs* e)
{
    if (std::strcmp(e->name, CLIPRDR_SVC_CHANNEL_NAME) == 0)
        contextOf(static_cast<rdpContext*>(context))
            ->session->clipboard_->attach(static_cast<CliprdrClientContext*>(e->pInterface));
}

void FreeRdpSession::onChannelDisconnected(void* context, compat::ChannelDisconnectedArgs* e)
{
    if (std::strcmp(e->name, CLIPRDR_SVC_CHANNEL_NAME) == 0)
        contextOf(static_cast<rdpContext*>(context))->session->clipboard_->detach();
}

void FreeRdpSession::noteHeartbeat(BYTE period, BYTE count2)
{
    lastActivity_ = Clock::now();
    if (period == 0)
        return;
    const int periods = std::max<int>(missedHeartbeats, count2);
    silenceLimit_ =
        std::clamp<Clock::duration>(std::chrono::seconds(period * periods), minSilence, maxSilence);
}

void FreeRdpSession::queueInput(const Input& input)
{
    {
        std::lock_guard lock(inputMutex_);
        input_.push_back(input);
    }
    SetEvent(wakeEvent_);
}

void FreeRdpSession::sendKeyboard(bool down, quint32 rdpScancode)
{
    queueInput({Input::Kind::Key, down, rdpScancode, 0, 0, 0});
}

void FreeRdpSession::sendSynchronize(quint32 flags)
{
    queueInput({Input::Kind::Sync, false, flags, 0, 0, 0});
}

void FreeRdpSession::sendUnicode(quint16 codeUnit)
{
    queueInput({Input::Kind::Unicode, true, codeUnit, 0, 0, 0});
    queueInput({Input::Kind::Unicode, false, codeUnit, 0, 0, 0});
}

void FreeRdpSession::sendMouse(quint16 flags, int x, int y)
{
    const auto coordinate = [](int v) { return static_cast<quint16>(std::clamp(v, 0, 0xFFFF)); };
    queueInput({Input::Kind::Mouse, false, 0, flags, coordinate(x), coordinate(y)});
}

void FreeRdpSession::sendPendingInput()
{
    std::vector<Input> pending;
    {
        std::lock_guard lock(inputMutex_);
        ResetEvent(wakeEvent_);
        pending.swap(input_);
    }
    rdpInput* input = instance_->context->input;
    for (const Input& e : pending) {
        switch (e.kind) {
        case Input::Kind::Key:
            compat::sendKeyboard(input, e.down, e.code);
            break;
        case Input::Kind::Unicode:
            freerdp_input_send_unicode_keyboard_event(input, e.down ? 0 : KBD_FLAGS_RELEASE,
                                                      static_cast<UINT16>(e.code));
            break;
        case Input::Kind::Sync:
            freerdp_input_send_synchronize_event(input, e.code);
            break;
        case Input::Kind::Mouse:
            freerdp_input_send_mouse_event(input, e.flags, e.x, e.y);
            break;
        }
    }
}

void FreeRdpSession::paint(QPainter& painter, const QRectF& target, const QRect& source) const
{
    std::lock_guard lock(screenMutex_);
    if (!screen_.isNull())
        painter.drawImage(target, screen_, source);
}

QSize FreeRdpSession::screenSize() const
{
    std::lock_guard lock(screenMutex_);
    return screen_.size();
}

void FreeRdpSession::run()
{
    emit connecting();
    rdpContext* context = instance_->context;
    bool ok = false;
    if (!closing_)
        ok = connectWithin(connectBound(), freerdp_connect);
    DisconnectFacts facts;
    facts.linkTimedOut = connectTimedOut_;
    if (ok)
        eventLoop(facts);
    noteEnd(facts);
    // Once the login is over, a session lost to the network is logged on again.
    while (ok && !probe_ && loginReported_ && isNetworkLoss(facts) &&
           getChannelError(context) == CHANNEL_RC_OK && reconnect(facts)) {
        facts = {};
        eventLoop(facts);
        noteEnd(facts);
    }
    facts.localClose = facts.localClose || closing_; // given up on while away
    const UINT channelError = getChannelError(context);
    // After a channel error FreeRDP tells nobody that the channels go away, yet disconnecting
    // frees the clipboard channel: the bridge lets go of it first, or the next local copy would
    // be announced through the freed channel.
    if (clipboard_)
        clipboard_->detach();
    freerdp_disconnect(instance_);
    connected_ = false;

    if (certificateRefused_) {
        emit finished(ReasonServerCertificateRefused, 0);
        return;
    }
    if (const qint32 fatal = fatalErrorCode(channelError, facts.lastError); fatal && !closing_)
        emit fatalError(fatal);
    emit finished(disconnectReason(facts), static_cast<qint32>(facts.errorInfo));
}

bool FreeRdpSession::connectWithin(std::chrono::milliseconds bound, BOOL (*connectOnce)(freerdp*))
{
    Deadline deadline(bound, [this] { expireConnect(); });
    connectDeadline_ = &deadline;
    bool ok = false;
    {
        compat::ConnectingScope connecting(instance_->context);
        ok = connectOnce(instance_);
    }
    connectDeadline_ = nullptr;
    deadline.met();
    releaseConnectSocket();
    return ok;
}

void FreeRdpSession::noteEnd(DisconnectFacts& facts)
{
    // freerdp_disconnect and freerdp_reconnect clear the error state: read it first.
    facts.lastError = freerdp_get_last_error(instance_->context);
    facts.errorInfo = freerdp_error_info(instance_);
    facts.connected = connected_;
    facts.localClose = closing_;
}

void FreeRdpSession::eventLoop(DisconnectFacts& facts)
{
    rdpContext* context = instance_->context;
    while (!compat::shallDisconnect(context)) {
        HANDLE handles[MAXIMUM_WAIT_OBJECTS];
        DWORD count = freerdp_get_event_handles(context, handles, MAXIMUM_WAIT_OBJECTS - 1);
        if (count == 0)
            break;
        handles[count++] = wakeEvent_;
        if (WaitForMultipleObjects(count, handles, FALSE, 1000) == WAIT_FAILED)
            break;
        sendPendingInput();
        if (closing_ || !freerdp_check_event_handles(context))
            break;
        if (silenceLimit_ != Clock::duration{} && Clock::now() - lastActivity_ > silenceLimit_) {
            facts.linkTimedOut = true;
            break;
        }
    }
}

} // namespace tclink::rdp
