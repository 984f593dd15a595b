#include "session.h"

#include "clipboard.h"
#include "devices.h"
#include "freerdp_compat.h"
#include "keyboard.h"
#include "pointers.h"
#include "screen.h"
#include "tone.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <freerdp/channels/wtsvc.h>
#include <freerdp/error.h>
#include <freerdp/freerdp.h>
#include <freerdp/heartbeat.h>
#include <freerdp/session.h>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>
#include <winpr/crypto.h>

namespace demo {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kHeartbeatInterval = 2s;
// The time between activation and the logon (first paint, logon notice). FreeRDP 2 clients
// install their painting in PostConnect, which runs only after the activation's last PDU has
// been handled: updates in the same read as that PDU would fail their connection.
constexpr auto kLogonDelay = 300ms;
// How long to wait for the client's device list before the login is reported without it.
constexpr auto kDeviceListWait = 3s;
constexpr int kTile = 64;
constexpr auto kToneLength = 1500ms;

class Session;

// A session whose client went away while logged on: it waits for the client to come back with
// the auto-reconnect cookie it was given, as a Windows server keeps a disconnected session.
struct ParkedSession {
    int id;
    std::array<BYTE, 16> arcRandom;
    Keyboard keyboard;         // the application's input field with it
    std::string clipboardText; // the last text the client put on the session's clipboard
};

std::mutex parkedMutex;
std::map<UINT32, ParkedSession> parkedSessions; // by logon id (the session number)

// FreeRDP allocates the context; this is its layout, with a way back to the session.
struct PeerContext {
    rdpContext base;
    Session* session;
};

std::string text(const char* s)
{
    return s ? std::string(s) : std::string();
}
QString qtext(const std::string& s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}
std::string flag(bool value)
{
    return value ? "1" : "0";
}

class Session {
public:
    Session(freerdp_peer* peer, int id, const ServerConfig& config)
        : peer_(peer), id_(id), config_(config)
    {
    }
    ~Session();

    void run();

private:
    enum class End { Client, Logoff, Drop, Shutdown, FrozenShutdown };

    static Session& of(rdpContext* context)
    {
        return *reinterpret_cast<PeerContext*>(context)->session;
    }
    static Session& of(freerdp_peer* peer) { return of(peer->context); }

    bool setUp();
    bool postConnect();
    bool activate();
    void logOn();
    void mouse(UINT16 flags, UINT16 x, UINT16 y);
    void typed(std::string_view event, Fields fields);
    void pumpChannels();
    void handleTimers();
    void paint();
    bool sendImage(const QImage& image);
    void reportLogin();
    // Takes over the parked session that the client's auto-reconnect cookie names, if the
    // cookie is right.
    void resume();
    void sendReconnectCookie();
    // Reports a clipboard event and keeps the text the client copied.
    void clipboardEvent(std::string_view event, Fields fields);
    void logoff(const char* reason);
    void drop();
    void freeze();
    void finish();
    void write(std::string_view event, Fields fields);
    std::optional<Clock::time_point> nextDeadline() const;

    freerdp_peer* peer_;
    int id_;
    const ServerConfig& config_;
    HANDLE vcm_ = nullptr;
    HANDLE rdpdr_ = nullptr;
    std::vector<HANDLE> ignoredChannels_;
    std::optional<DeviceRedirection> devices_;
    bool clipboardJoined_ = false;
    std::optional<Clipboard> clipboard_;
    std::unique_ptr<TonePlayer> tone_;
    PointerFollower pointer_;

    std::string address_;
    std::uint16_t port_ = 0;
    std::string user_;
    std::vector<std::string> channels_;
    SessionView view_;
    Keyboard keyboard_;
    QSize size_;
    bool loginOk_ = false;
    bool activated_ = false;
    bool loggedOn_ = false; // the logon after activation happened (good login or not)
    bool loginReported_ = false;
    bool repaint_ = false;
    bool pressedOnExit_ = false;
    bool exitClicked_ = false;
    bool resumed_ = false;
    std::optional<std::array<BYTE, 16>> arcRandom_; // the cookie's secret, once sent
    // The session's clipboard text, written on the clipboard channel's thread.
    std::mutex clipboardMutex_;
    std::string clipboardText_;
    std::optional<End> end_;

    std::optional<Clock::time_point> logonAt_;
    std::optional<Clock::time_point> loginReportAt_;
    std::optional<Clock::time_point> nextHeartbeat_;
    std::optional<Clock::time_point> sessionEnd_;
    std::optional<Clock::time_point> dropAt_;
    std::optional<Clock::time_point> freezeAt_;
};

Session::~Session()
{
    clipboard_.reset();
    tone_.reset();
    if (rdpdr_) {
        WTSVirtualChannelClose(rdpdr_);
    }
    for (HANDLE channel : ignoredChannels_) {
        WTSVirtualChannelClose(channel);
    }
    if (vcm_) {
        WTSCloseServer(vcm_);
    }
    freerdp_peer_context_free(peer_);
    freerdp_peer_free(peer_);
}

void Session::write(std::string_view event, Fields fields)
{
    fields.emplace_back("session", std::to_string(id_));
    config_.report.write(event, fields);
}

bool Session::setUp()
{
    sockaddr_in local{};
    socklen_t length = sizeof(local);
    if (getsockname(peer_->sockfd, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
        char buffer[INET_ADDRSTRLEN] = {};
        address_ = inet_ntop(AF_INET, &local.sin_addr, buffer, sizeof(buffer)) ? buffer : "";
        port_ = ntohs(local.sin_port);
    }

    peer_->ContextSize = sizeof(PeerContext);
    if (!freerdp_peer_context_new(peer_)) {
        return false;
    }
    reinterpret_cast<PeerContext*>(peer_->context)->session = this;

    rdpSettings* settings = peer_->context->settings;
    if (!compat::setCertificate(settings, config_.certificate.certificatePem,
                                config_.certificate.privateKeyPem)) {
        return false;
    }
    freerdp_settings_set_bool(settings, FreeRDP_RdpSecurity, FALSE);
    freerdp_settings_set_bool(settings, FreeRDP_TlsSecurity, TRUE);
    freerdp_settings_set_bool(settings, FreeRDP_NlaSecurity, FALSE);
    freerdp_settings_set_bool(settings, FreeRDP_SupportHeartbeatPdu, TRUE);
    freerdp_settings_set_bool(settings, FreeRDP_RefreshRect, TRUE);
    freerdp_settings_set_bool(settings, FreeRDP_SuppressOutput, TRUE);
    freerdp_settings_set_bool(settings, FreeRDP_UnicodeInput, TRUE);

    peer_->PostConnect = [](freerdp_peer* peer) -> BOOL { return of(peer).postConnect(); };
    peer_->Logon = [](freerdp_peer* peer, compat::LogonIdentity*, BOOL) -> BOOL {
        Session& session = of(peer);
        if (session.config_.options.freezeAtLicensing) {
            // The client's logon information stays unanswered: no licence, no activation.
            session.freeze();
            return FALSE;
        }
        return TRUE;
    };
    peer_->Activate = [](freerdp_peer* peer) -> BOOL { return of(peer).activate(); };
    peer_->context->input->MouseEvent = [](rdpInput* input, UINT16 flags, UINT16 x,
                                           UINT16 y) -> BOOL {
        of(input->context).mouse(flags, x, y);
        return TRUE;
    };
    peer_->context->input->SynchronizeEvent = [](rdpInput* input, UINT32 flags) -> BOOL {
        Session& self = of(input->context);
        self.keyboard_.synchronize(flags);
        self.typed("sync", {{"locks", self.keyboard_.locks()}});
        return TRUE;
    };
    peer_->context->input->KeyboardEvent = [](rdpInput* input, UINT16 flags,
                                              compat::KeyCode code) -> BOOL {
        Session& self = of(input->context);
        self.typed("key", keyFields(self.keyboard_.key(flags, UINT8(code))));
        return TRUE;
    };
    peer_->context->input->UnicodeKeyboardEvent = [](rdpInput* input, UINT16 flags,
                                                     UINT16 code) -> BOOL {
        Session& self = of(input->context);
        if (const QString text = self.keyboard_.unicode(flags, code); !text.isEmpty()) {
            self.typed("unicode", {{"text", text.toStdString()}});
        }
        return TRUE;
    };
    peer_->context->update->RefreshRect = [](rdpContext* context, BYTE,
                                             const RECTANGLE_16*) -> BOOL {
        of(context).repaint_ = true;
        return TRUE;
    };
    peer_->context->update->SuppressOutput = [](rdpContext*, BYTE, const RECTANGLE_16*) -> BOOL {
        return TRUE;
    };

    if (!peer_->Initialize(peer_)) {
        return false;
    }
    vcm_ = WTSOpenServerA(reinterpret_cast<LPSTR>(peer_->context));
    return vcm_ && vcm_ != INVALID_HANDLE_VALUE;
}

bool Session::postConnect()
{
    const rdpSettings* settings = peer_->context->settings;
    user_ = text(freerdp_settings_get_string(settings, FreeRDP_Username));
    loginOk_ =
        user_ == config_.options.user &&
        text(freerdp_settings_get_string(settings, FreeRDP_Password)) == config_.options.password;
    size_ = QSize(int(freerdp_settings_get_uint32(settings, FreeRDP_DesktopWidth)),
                  int(freerdp_settings_get_uint32(settings, FreeRDP_DesktopHeight)));

    view_.user = qtext(user_);
    view_.shell = QString::fromUtf8(freerdp_settings_get_string(settings, FreeRDP_AlternateShell));
    view_.workdir =
        QString::fromUtf8(freerdp_settings_get_string(settings, FreeRDP_ShellWorkingDirectory));
    view_.port = port_;
    view_.heartbeat = freerdp_settings_get_bool(settings, FreeRDP_SupportHeartbeatPdu);
    if (loginOk_) {
        resume();
    }

    // Every static channel the client announced; the ones joined are opened so that their
    // traffic is accepted (and ignored), except drdynvc, which the channel manager runs.
    std::size_t count = 0;
    char** names = WTSGetAcceptedChannelNames(peer_, &count);
    for (std::size_t i = 0; names && i < count; ++i) {
        const std::string name = names[i];
        channels_.push_back(name);
        view_.channels.append(qtext(name));
        // The sound channel belongs to the tone's player when there is a tone.
        const bool sound = name == "rdpsnd" && config_.options.toneHz > 0;
        if (name == "drdynvc" || sound ||
            !WTSVirtualChannelManagerIsChannelJoined(vcm_, name.c_str())) {
            continue;
        }
        if (name == "cliprdr") {
            clipboardJoined_ = true; // served from the logon on
            continue;
        }
        HANDLE channel = WTSVirtualChannelOpen(vcm_, WTS_CURRENT_SESSION, names[i]);
        if (!channel) {
            continue;
        }
        (name == "rdpdr" ? rdpdr_ : ignoredChannels_.emplace_back()) = channel;
    }
    free(static_cast<void*>(names));
    return true;
}

bool Session::activate()
{
    if (activated_) {
        repaint_ = loggedOn_; // a reactivation: paint again
        return true;
    }
    activated_ = true;
    logonAt_ = Clock::now() + kLogonDelay;
    return true;
}

void Session::logOn()
{
    logonAt_.reset();
    loggedOn_ = true;
    paint();

    const auto now = Clock::now();
    if (view_.heartbeat) {
        nextHeartbeat_ = now + kHeartbeatInterval;
    }
    if (rdpdr_) {
        devices_.emplace(loginOk_ && config_.options.userLoggedOn);
        Pdu announce = devices_->serverAnnounce();
        ULONG written = 0;
        WTSVirtualChannelWrite(rdpdr_, reinterpret_cast<PCHAR>(announce.data()),
                               ULONG(announce.size()), &written);
        loginReportAt_ = now + kDeviceListWait;
    } else {
        reportLogin();
    }
    if (!loginOk_) {
        return;
    }
    if (clipboardJoined_) {
        clipboard_.emplace(
            vcm_,
            Clipboard::Settings{
                config_.options.offerClipboard, config_.options.silentClipboard,
                config_.options.clipboardDelay.value_or(std::chrono::milliseconds(0))},
            [this](std::string_view event, Fields fields) { clipboardEvent(event, fields); });
        clipboard_->start();
    }
    if (config_.options.toneHz > 0 && WTSVirtualChannelManagerIsChannelJoined(vcm_, "rdpsnd")) {
        tone_ = std::make_unique<TonePlayer>(
            vcm_, peer_->context, config_.options.toneHz, kToneLength, [this](int format) {
                write("tone", {{"format", std::to_string(format)}});
            });
        if (!tone_->start()) {
            tone_.reset();
        }
    }

    if (config_.options.logonNotice) {
        // The long (version 2) form with a domain: the only one that FreeRDP 3's server writes
        // so that FreeRDP 2 and 3 clients both accept it.
        std::string domain = "TCLINK-DEMO";
        logon_info info{};
        info.sessionId = UINT32(id_);
        info.username = user_.data();
        info.domain = domain.data();
        if (peer_->context->update->SaveSessionInfo(peer_->context, INFO_TYPE_LOGON_LONG, &info)) {
            write("notice", {{"type", "logon"}});
        }
        sendReconnectCookie();
    }
    const auto after = [&](const std::optional<std::chrono::milliseconds>& delay) {
        return delay ? std::optional(now + *delay) : std::nullopt;
    };
    sessionEnd_ = after(config_.options.sessionLength);
    // The link fails once: a resumed session is not dropped again.
    dropAt_ = resumed_ ? std::nullopt : after(config_.options.dropAfter);
    freezeAt_ = after(config_.options.freezeAfter);
}

void Session::sendReconnectCookie()
{
    logon_info_ex info{};
    info.haveCookie = TRUE;
    info.LogonId = UINT32(id_);
    std::array<BYTE, 16> random{};
    winpr_RAND(random.data(), random.size());
    std::memcpy(info.ArcRandomBits, random.data(), random.size());
    if (peer_->context->update->SaveSessionInfo(peer_->context, INFO_TYPE_LOGON_EXTENDED_INF,
                                                &info)) {
        arcRandom_ = random;
        write("cookie", {{"logonid", std::to_string(id_)}});
    }
}

void Session::resume()
{
    const auto* cookie = static_cast<const ARC_CS_PRIVATE_PACKET*>(
        freerdp_settings_get_pointer(peer_->context->settings, FreeRDP_ClientAutoReconnectCookie));
    if (!cookie || cookie->cbLen != 28) {
        return;
    }
    std::lock_guard lock(parkedMutex);
    const auto parked = parkedSessions.find(cookie->logonId);
    bool ok = false;
    if (parked != parkedSessions.end()) {
        // The client proves the cookie: HMAC-MD5 over its client random (all zeros under TLS)
        // keyed with the cookie's random bits.
        const BYTE clientRandom[32] = {};
        BYTE verifier[16] = {};
        ok = winpr_HMAC(WINPR_MD_MD5, parked->second.arcRandom.data(), 16, clientRandom,
                        sizeof(clientRandom), verifier, sizeof(verifier)) &&
             std::memcmp(verifier, cookie->securityVerifier, sizeof(verifier)) == 0;
    }
    const int connection = id_;
    if (ok) {
        id_ = parked->second.id;
        keyboard_ = parked->second.keyboard;
        view_.input = keyboard_.view();
        clipboardText_ = parked->second.clipboardText;
        arcRandom_ = parked->second.arcRandom; // the session's cookie holds until a new one
        resumed_ = true;
        parkedSessions.erase(parked);
    }
    write("resume", {{"ok", flag(ok)},
                     {"logonid", std::to_string(cookie->logonId)},
                     {"connection", std::to_string(connection)},
                     {"clipboard", clipboardText_}});
}

void Session::clipboardEvent(std::string_view event, Fields fields)
{
    const auto field = [&](std::string_view key) {
        const auto it = std::find_if(fields.begin(), fields.end(),
                                     [&](const auto& f) { return f.first == key; });
        return it == fields.end() ? std::string() : it->second;
    };
    if (event == "clipboard-in" && field("format") == "unicode" && field("ok") == "1") {
        std::lock_guard lock(clipboardMutex_);
        clipboardText_ = field("text");
    }
    write(event, std::move(fields));
}

void Session::mouse(UINT16 flags, UINT16 x, UINT16 y)
{
    if (!loggedOn_ || !loginOk_) {
        return;
    }
    pointer_.follow(peer_->context, size_, QPoint(x, y));
    if (!(flags & PTR_FLAGS_BUTTON1)) {
        return;
    }
    const bool onExit = exitButton(size_).contains(x, y);
    if (flags & PTR_FLAGS_DOWN) {
        pressedOnExit_ = onExit;
    } else {
        exitClicked_ = exitClicked_ || (pressedOnExit_ && onExit);
        pressedOnExit_ = false;
    }
}

// Reports what the keyboard sent and shows it in the application's input field.
void Session::typed(std::string_view event, Fields fields)
{
    write(event, std::move(fields));
    view_.input = keyboard_.view();
    repaint_ = repaint_ || loggedOn_;
}

void Session::pumpChannels()
{
    const auto read = [](HANDLE channel, std::vector<std::uint8_t>& buffer) {
        ULONG size = 0;
        if (!WTSVirtualChannelRead(channel, 0, nullptr, 0, &size)) {
            return false;
        }
        buffer.resize(size);
        return bool(
            WTSVirtualChannelRead(channel, 0, reinterpret_cast<PCHAR>(buffer.data()), size, &size));
    };
    std::vector<std::uint8_t> buffer;
    for (HANDLE channel : ignoredChannels_) {
        while (read(channel, buffer)) {
        }
    }
    while (rdpdr_ && read(rdpdr_, buffer)) {
        if (!devices_) {
            continue;
        }
        for (Pdu& reply : devices_->receive(buffer)) {
            ULONG written = 0;
            WTSVirtualChannelWrite(rdpdr_, reinterpret_cast<PCHAR>(reply.data()),
                                   ULONG(reply.size()), &written);
        }
        if (devices_->settled() && !loginReported_) {
            reportLogin();
            repaint_ = true;
        }
    }
}

void Session::reportLogin()
{
    if (loginReported_) {
        return;
    }
    loginReported_ = true;
    loginReportAt_.reset();
    const Redirections redirections = devices_ ? devices_->redirections() : Redirections{};
    view_.drives = redirections.drives;
    view_.printers = redirections.printers;
    view_.ports = redirections.ports;
    std::string channels;
    for (const std::string& name : channels_) {
        channels += (channels.empty() ? "" : ",") + name;
    }
    const rdpSettings* settings = peer_->context->settings;
    write("login",
          {{"user", user_},
           {"ok", flag(loginOk_)},
           {"port", std::to_string(port_)},
           {"shell", text(freerdp_settings_get_string(settings, FreeRDP_AlternateShell))},
           {"workdir", text(freerdp_settings_get_string(settings, FreeRDP_ShellWorkingDirectory))},
           {"width", std::to_string(size_.width())},
           {"height", std::to_string(size_.height())},
           {"channels", channels},
           {"drives", flag(redirections.drives)},
           {"printers", flag(redirections.printers)},
           {"ports", flag(redirections.ports)},
           {"heartbeat", flag(view_.heartbeat)},
           {"scale",
            std::to_string(freerdp_settings_get_uint32(settings, FreeRDP_DesktopScaleFactor))},
           {"devicescale",
            std::to_string(freerdp_settings_get_uint32(settings, FreeRDP_DeviceScaleFactor))}});
}

void Session::paint()
{
    repaint_ = false;
    if (!loggedOn_ || size_.isEmpty()) {
        return;
    }
    sendImage(loginOk_ ? renderDesktop(size_, view_) : renderLoginFailed(size_));
}

// Sends the image as uncompressed 32-bit bitmap updates of one tile each (bottom-up rows).
bool Session::sendImage(const QImage& image)
{
    rdpUpdate* update = peer_->context->update;
    std::vector<BYTE> tile;
    for (int y = 0; y < image.height(); y += kTile) {
        for (int x = 0; x < image.width(); x += kTile) {
            const int w = std::min(kTile, image.width() - x);
            const int h = std::min(kTile, image.height() - y);
            const auto rowBytes = std::size_t(w) * 4;
            tile.resize(rowBytes * std::size_t(h));
            for (int row = 0; row < h; ++row) {
                std::memcpy(tile.data() + rowBytes * std::size_t(row),
                            image.constScanLine(y + h - 1 - row) + x * 4, rowBytes);
            }
            BITMAP_DATA bitmap{};
            bitmap.destLeft = UINT32(x);
            bitmap.destTop = UINT32(y);
            bitmap.destRight = UINT32(x + w - 1);
            bitmap.destBottom = UINT32(y + h - 1);
            bitmap.width = UINT32(w);
            bitmap.height = UINT32(h);
            bitmap.bitsPerPixel = 32;
            bitmap.bitmapLength = UINT32(tile.size());
            bitmap.bitmapDataStream = tile.data();
            bitmap.compressed = FALSE;
            BITMAP_UPDATE bitmapUpdate{};
            compat::setRectangleCount(bitmapUpdate, 1);
            bitmapUpdate.rectangles = &bitmap;
            if (!update->BitmapUpdate(update->context, &bitmapUpdate)) {
                return false;
            }
        }
    }
    return true;
}

// What a Windows server does when the start program ends: error info "logoff by user", then
// the deactivation and the disconnect ultimatum.
void Session::logoff(const char* reason)
{
    reportLogin();
    write("logoff", {{"reason", reason}});
    freerdp_set_error_info(peer_->context->rdp, ERRINFO_LOGOFF_BY_USER);
    peer_->Close(peer_);
    end_ = End::Logoff;
}

// Resets the connection: no RDP or TLS goodbye. The descriptor stays valid (on /dev/null) until
// FreeRDP closes it, so no other connection can reuse its number meanwhile.
void Session::drop()
{
    reportLogin();
    const linger hard{1, 0};
    setsockopt(peer_->sockfd, SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, peer_->sockfd);
        close(null);
    } else {
        shutdown(peer_->sockfd, SHUT_RDWR);
    }
    end_ = End::Drop;
}

// Stops reading and sending while keeping the connection open, until the server ends.
void Session::freeze()
{
    reportLogin();
    write("freeze", {});
    WaitForSingleObject(config_.stopEvent, INFINITE);
    end_ = End::FrozenShutdown;
}

std::optional<Clock::time_point> Session::nextDeadline() const
{
    std::optional<Clock::time_point> next;
    for (const auto& deadline :
         {logonAt_, loginReportAt_, nextHeartbeat_, sessionEnd_, dropAt_, freezeAt_}) {
        if (deadline && (!next || *deadline < *next)) {
            next = deadline;
        }
    }
    return next;
}

void Session::handleTimers()
{
    const auto now = Clock::now();
    const auto due = [&](const std::optional<Clock::time_point>& at) { return at && *at <= now; };
    if (due(logonAt_)) {
        logOn();
    }
    if (due(loginReportAt_)) {
        reportLogin();
        repaint_ = true;
    }
    if (due(freezeAt_)) {
        freeze();
    } else if (due(dropAt_)) {
        drop();
    } else if (exitClicked_) {
        logoff("exit");
    } else if (due(sessionEnd_)) {
        logoff("timeout");
    } else if (due(nextHeartbeat_)) {
        freerdp_heartbeat_send_heartbeat_pdu(peer_, BYTE(kHeartbeatInterval.count()), 3, 5);
        nextHeartbeat_ = now + kHeartbeatInterval;
    }
}

void Session::run()
{
    if (!setUp()) {
        return;
    }
    write("connect", {{"addr", address_}, {"port", std::to_string(port_)}});
    while (!end_) {
        HANDLE handles[MAXIMUM_WAIT_OBJECTS];
        DWORD count = peer_->GetEventHandles(peer_, handles, MAXIMUM_WAIT_OBJECTS - 2);
        if (count == 0) {
            end_ = End::Client;
            break;
        }
        handles[count++] = WTSVirtualChannelManagerGetEventHandle(vcm_);
        handles[count++] = config_.stopEvent;
        DWORD timeout = INFINITE;
        if (const auto next = nextDeadline()) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now());
            timeout = DWORD(std::max<std::chrono::milliseconds::rep>(wait.count(), 0));
        }
        if (WaitForMultipleObjects(count, handles, FALSE, timeout) == WAIT_FAILED) {
            end_ = End::Client;
        } else if (WaitForSingleObject(config_.stopEvent, 0) == WAIT_OBJECT_0) {
            end_ = End::Shutdown;
        } else if (!peer_->CheckFileDescriptor(peer_) ||
                   !WTSVirtualChannelManagerCheckFileDescriptor(vcm_)) {
            end_ = End::Client;
        } else {
            pumpChannels();
            handleTimers();
            if (repaint_ && !end_) {
                paint();
            }
        }
    }
    finish();
}

void Session::finish()
{
    const char* reason = "client";
    switch (*end_) {
    case End::Client:
        peer_->Disconnect(peer_);
        break;
    case End::Logoff:
        reason = "logoff";
        peer_->Disconnect(peer_);
        break;
    case End::Drop:
        reason = "drop";
        break;
    case End::Shutdown:
        reason = "shutdown";
        if (activated_) {
            peer_->Close(peer_);
        }
        peer_->Disconnect(peer_);
        break;
    case End::FrozenShutdown:
        reason = "shutdown";
        break;
    }
    if (loggedOn_) {
        reportLogin();
    }
    // A connection that failed (the client's or the server's end of it) leaves the session,
    // also one that took a session up again and failed before its login was through.
    if ((*end_ == End::Client || *end_ == End::Drop) && (loginOk_ || resumed_) && arcRandom_) {
        clipboard_.reset(); // its thread writes no more
        std::lock_guard lock(parkedMutex);
        parkedSessions[UINT32(id_)] = ParkedSession{id_, *arcRandom_, keyboard_, clipboardText_};
    }
    write("disconnect", {{"reason", reason}});
}

} // namespace

void serveClient(freerdp_peer* peer, int id, const ServerConfig& config)
{
    Session(peer, id, config).run();
}

} // namespace demo
