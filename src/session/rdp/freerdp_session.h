#pragma once

#include <QImage>
#include <QObject>
#include <QRegion>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <freerdp/event.h>
#include <freerdp/freerdp.h>

#include "session/rdp/disconnect_reason.h"
#include "session/rdp/drive_sharing.h"
#include "session/rdp/freerdp_compat.h"
#include "session/rdp/freerdp_pointer.h"
#include "session/rdp/time_bounds.h"

class QPainter;

namespace tclink::rdp {

class ClipboardBridge;

// One connection of the FreeRDP client library: created, configured and freed on the UI
// thread; connected and driven on its own thread. Its signals are emitted on that thread, in
// the order things happened; receivers connect with Qt::QueuedConnection.
class FreeRdpSession : public QObject {
    Q_OBJECT
public:
    struct Config {
        std::string host;
        quint16 port = 3389;
        std::string user;
        std::string password;
        std::string shell;
        int width = 1024; // device pixels
        int height = 768;
        // The local screen's scale, as RDP's desktop (100 to 500) and device (100, 140, 180)
        // scale factors in percent.
        quint32 desktopScale = 100;
        quint32 deviceScale = 100;
        bool audioPlayback = false;
        bool redirectDrives = false;
        bool redirectPrinters = false;
        bool redirectPorts = false;
        std::vector<SharedDrive> drives; // shared when redirectDrives; checked already
        // SHA-256 fingerprints, one of which the server's certificate must have; none: any.
        std::vector<QByteArray> certificatePins;
        std::string configDir;                // the only place FreeRDP may write to
        ClipboardBridge* clipboard = nullptr; // shares the clipboard when set; must outlive this
        // Only find out whether the server answers as an RDP server: connected() comes at the
        // end of the TLS handshake (without TLS: once the connection stands), no channel is
        // loaded, and the connection then ends.
        bool probe = false;
    };

    explicit FreeRdpSession(const Config& config);
    ~FreeRdpSession() override;

    // Whether the library accepted the configuration; the session cannot start otherwise.
    bool isValid() const { return instance_ != nullptr; }
    void start();
    // Ends the connection at any stage; safe from any thread, any number of times.
    void close();
    // Waits for the session's thread; call after finished() or close().
    void join();

    void sendKeyboard(bool down, quint32 rdpScancode);
    // Sets the server's toggle keys (KBD_SYNC_* flags) and releases every key it holds down.
    void sendSynchronize(quint32 flags);
    // Presses and releases one UTF-16 code unit as a Unicode keyboard event.
    void sendUnicode(quint16 codeUnit);
    void sendMouse(quint16 flags, int x, int y);
    // Whether the server announced Unicode keyboard events; known once connected.
    bool unicodeInput() const { return unicodeInput_; }

    // Draws the part `source` of the remote screen (device pixels) into `target`.
    void paint(QPainter& painter, const QRectF& target, const QRect& source) const;
    // The remote desktop's size in device pixels; empty before the connection stands.
    QSize screenSize() const;

    // The device channel's "user logged on" arrived on the connection of context.
    static void onUserLoggedOn(rdpContext* context);
    // The connecting thread's news of the connection of context (compat::ConnectHooks).
    static void onSocketOpened(rdpContext* context, int fd);
    static bool onTlsStarting(rdpContext* context);

signals:
    void connecting();
    void connected();
    void loginComplete();
    void screenUpdated(const QRegion& region); // device pixels
    void pointerChanged(const tclink::rdp::RemotePointer& pointer);
    void fatalError(qint32 errorCode);
    // A session lost to the network after its login logs on again: attempt N begins
    // (ReconnectPlan); no input reaches the server until reconnected() or finished().
    void reconnecting(int attempt);
    void reconnected();
    void finished(qint32 discReason, qint32 extendedReason);

private:
    struct Input {
        enum class Kind { Key, Unicode, Sync, Mouse } kind;
        bool down;
        quint32 code;
        quint16 flags;
        quint16 x;
        quint16 y;
    };
    struct Context;
    using Clock = std::chrono::steady_clock;

    void run();
    void eventLoop(DisconnectFacts& facts);
    // Notes how the connection ended, before anything resets the library's error state.
    void noteEnd(DisconnectFacts& facts);
    // One connect of the library (freerdp_connect, freerdp_reconnect), ended after `bound`.
    bool connectWithin(std::chrono::milliseconds bound, BOOL (*connectOnce)(freerdp*));
    // Logs on again after a network loss, paced; true once the session stands again, else
    // false with facts telling how the last attempt ended.
    bool reconnect(DisconnectFacts& facts);
    // Waits until `until`, dropping the input that comes meanwhile; false if closed first.
    bool pauseUntil(Clock::time_point until);
    void queueInput(const Input& input);
    void sendPendingInput();
    void noteHeartbeat(BYTE period, BYTE count2);
    bool reportConnected();
    void expireConnect();
    void releaseConnectSocket();
    // Replaces the picture with a black one of this size; call under screenMutex_.
    bool attachScreen(int width, int height);

    static Context* contextOf(freerdp* instance);
    static Context* contextOf(rdpContext* context);
    static BOOL onContextNew(freerdp* instance, rdpContext* context);
    static BOOL onPreConnect(freerdp* instance);
    static BOOL onLoadChannels(freerdp* instance);
    static BOOL onPostConnect(freerdp* instance);
    static void onPostDisconnect(freerdp* instance);
    static int onVerifyCertificate(freerdp* instance, const BYTE* pem, size_t length,
                                   const char* host, UINT16 port, DWORD flags);
    static BOOL onBeginPaint(rdpContext* context);
    static BOOL onEndPaint(rdpContext* context);
    static BOOL onDesktopResize(rdpContext* context);
    static BOOL onSaveSessionInfo(rdpContext* context, UINT32 type, void* data);
    void reportLogin();
    static BOOL onServerHeartbeat(freerdp* instance, BYTE period, BYTE count1, BYTE count2);
    static void onChannelConnected(void* context, compat::ChannelConnectedArgs* e);
    static void onChannelDisconnected(void* context, compat::ChannelDisconnectedArgs* e);
    static void onPointer(rdpContext* context, const RemotePointer& pointer);

    freerdp* instance_ = nullptr;
    HANDLE wakeEvent_ = nullptr;
    ClipboardBridge* clipboard_ = nullptr;
    std::thread thread_;
    std::atomic<bool> closing_{false};
    std::atomic<bool> connectTimedOut_{false};
    std::atomic<bool> loginReported_{false};
    std::atomic<bool> certificateRefused_{false};
    std::vector<QByteArray> certificatePins_;
    bool probe_ = false;
    std::atomic<bool> unicodeInput_{false};

    // Owned by the session's thread.
    Deadline* connectDeadline_ = nullptr;
    bool connected_ = false;
    Clock::duration silenceLimit_{};
    Clock::time_point lastActivity_;

    // A copy of the connection's socket while it connects (-1: none), for the deadline.
    std::mutex socketMutex_;
    int connectSocket_ = -1;

    std::mutex inputMutex_;
    std::vector<Input> input_;

    // FreeRDP draws straight into screen_'s pixels, holding screenMutex_ from the start to
    // the end of each update (paintLock_, on the session's thread); the UI paints under it.
    mutable std::mutex screenMutex_;
    std::unique_lock<std::mutex> paintLock_{screenMutex_, std::defer_lock};
    QImage screen_;
};

} // namespace tclink::rdp
