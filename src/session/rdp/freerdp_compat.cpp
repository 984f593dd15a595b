#include "session/rdp/freerdp_compat.h"

#include <cstring>

#include <freerdp/addin.h>
#include <freerdp/channels/channels.h>
#include <freerdp/channels/cliprdr.h>
#include <freerdp/channels/rdpdr.h>
#include <freerdp/client/channels.h>
#include <freerdp/client/cmdline.h>
#include <freerdp/input.h>
#include <freerdp/locale/keyboard.h>

#if FREERDP_VERSION_MAJOR >= 3
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <set>

#include <freerdp/client/rdpsnd.h>
#include <freerdp/locale/locale.h>
#include <freerdp/svc.h>
#include <freerdp/transport_io.h>
#include <winpr/input.h>
#else
#include <chrono>
#include <thread>

#include <dlfcn.h>
#include <poll.h>
#include <winpr/synch.h>
#include <winpr/winsock.h>
#endif

namespace tclink::rdp::compat {

namespace {

ConnectHooks connectHooks{};

// The connection the current thread is connecting, if any.
thread_local rdpContext* connectingContext = nullptr;

} // namespace

void setConnectHooks(const ConnectHooks& hooks)
{
    connectHooks = hooks;
}

ConnectingScope::ConnectingScope(rdpContext* context)
{
    connectingContext = context;
}

#if FREERDP_VERSION_MAJOR >= 3

ConnectingScope::~ConnectingScope()
{
    connectingContext = nullptr;
}

namespace {

// The library's own transport functions, the same for every connection: kept from the first
// connection hooked.
const rdpTransportIo& libraryIo(const rdpTransportIo* first = nullptr)
{
    static const rdpTransportIo io = *first;
    return io;
}

int onTcpConnect(rdpContext* context, rdpSettings* settings, const char* hostname, int port,
                 DWORD timeout)
{
    const int fd = libraryIo().TCPConnect(context, settings, hostname, port, timeout);
    if (fd >= 0)
        connectHooks.socketOpened(context, fd);
    return fd;
}

BOOL onTlsConnect(rdpTransport* transport)
{
    return connectHooks.tlsStarting(transport_get_context(transport)) &&
           libraryIo().TLSConnect(transport);
}

PVIRTUALCHANNELENTRYEX staticEntry(const char* name)
{
    using AnyFunction = void (*)();
    const PVIRTUALCHANNELENTRY entry = freerdp_load_channel_addin_entry(
        name, nullptr, nullptr, FREERDP_ADDIN_CHANNEL_STATIC | FREERDP_ADDIN_CHANNEL_ENTRYEX);
    return reinterpret_cast<PVIRTUALCHANNELENTRYEX>(reinterpret_cast<AnyFunction>(entry));
}

bool loadStatic(rdpChannels* channels, rdpSettings* settings, PVIRTUALCHANNELENTRYEX entry,
                void* data)
{
    return entry && freerdp_channels_client_load_ex(channels, settings, entry, data) == 0;
}

// FreeRDP 3's sound channel plays on a thread of its own, which it stops only when the channel
// is freed: disconnecting closes and frees the sound device (and the channel's formats) while
// that thread may still be in the middle of a message, opening or playing into the device.
// Loaded while synchronous static channels are asked for (the channel reads the setting as it
// loads), it has no such thread: its messages are handled as they arrive, on the session's
// thread, the thread that disconnects. What fails there (no sound system, a message it cannot
// play) ends the sound, as it ended that thread, and not the session: the channel's error never
// reaches the connection (setChannelError below), and the channel hears nothing more of that
// connection.

// Always the same functions of the library, set each time a connection loads the channel.
std::atomic<PVIRTUALCHANNELENTRYEX> soundEntry = nullptr;
std::atomic<PVIRTUALCHANNELOPENEX> channelOpen = nullptr;
std::atomic<PVIRTUALCHANNELCLOSEEX> channelClose = nullptr;
std::atomic<PCHANNEL_OPEN_EVENT_EX_FN> soundReceive = nullptr;

std::mutex soundMutex;
std::set<DWORD> failedSound; // the open sound channels whose sound has ended
// The sound channel's message being handled on this thread, if any.
thread_local SoundReceiving* soundReceiving = nullptr;

VOID VCAPITYPE receiveSound(LPVOID userParam, DWORD openHandle, UINT event, LPVOID data,
                            UINT32 dataLength, UINT32 totalLength, UINT32 dataFlags)
{
    if (event == CHANNEL_EVENT_DATA_RECEIVED) {
        std::lock_guard lock(soundMutex);
        if (failedSound.contains(openHandle))
            return;
    }
    const SoundReceiving receiving(
        freerdp_rdpsnd_get_context(static_cast<rdpsndPlugin*>(userParam)));
    soundReceive.load()(userParam, openHandle, event, data, dataLength, totalLength, dataFlags);
    if (receiving.failed()) {
        std::lock_guard lock(soundMutex);
        failedSound.insert(openHandle);
    }
}

UINT VCAPITYPE openSound(LPVOID initHandle, LPDWORD openHandle, PCHAR name,
                         PCHANNEL_OPEN_EVENT_EX_FN receive)
{
    soundReceive = receive;
    return channelOpen.load()(initHandle, openHandle, name, receiveSound);
}

UINT VCAPITYPE closeSound(LPVOID initHandle, DWORD openHandle)
{
    {
        std::lock_guard lock(soundMutex);
        failedSound.erase(openHandle);
    }
    return channelClose.load()(initHandle, openHandle);
}

BOOL VCAPITYPE soundEntryEx(PCHANNEL_ENTRY_POINTS_EX entryPoints, PVOID initHandle)
{
    auto* freerdpPoints = reinterpret_cast<PCHANNEL_ENTRY_POINTS_FREERDP_EX>(entryPoints);
    if (freerdpPoints->cbSize < sizeof(CHANNEL_ENTRY_POINTS_FREERDP_EX))
        return FALSE;
    // The channel keeps a copy of the entry points: it gets ours.
    CHANNEL_ENTRY_POINTS_FREERDP_EX wrapped = *freerdpPoints;
    channelOpen = wrapped.pVirtualChannelOpenEx;
    channelClose = wrapped.pVirtualChannelCloseEx;
    wrapped.pVirtualChannelOpenEx = openSound;
    wrapped.pVirtualChannelCloseEx = closeSound;
    rdpSettings* settings = wrapped.context->settings;
    const BOOL synchronous = freerdp_settings_get_bool(settings, FreeRDP_SynchronousStaticChannels);
    if (!freerdp_settings_set_bool(settings, FreeRDP_SynchronousStaticChannels, TRUE))
        return FALSE;
    const BOOL loaded =
        soundEntry(reinterpret_cast<PCHANNEL_ENTRY_POINTS_EX>(&wrapped), initHandle);
    // Put back for the channels loaded after it.
    return freerdp_settings_set_bool(settings, FreeRDP_SynchronousStaticChannels, synchronous) &&
           loaded;
}

bool loadSound(rdpChannels* channels, rdpSettings* settings, void* data)
{
    soundEntry = staticEntry("rdpsnd");
    return soundEntry && loadStatic(channels, settings, soundEntryEx, data);
}

} // namespace

SoundReceiving::SoundReceiving(rdpContext* context) : context_(context)
{
    soundReceiving = this;
}

SoundReceiving::~SoundReceiving()
{
    soundReceiving = nullptr;
}

bool SoundReceiving::failed() const
{
    return failed_;
}

BOOL sendKeyboard(rdpInput* input, bool down, UINT32 rdpScancode)
{
    return freerdp_input_send_keyboard_event_ex(input, down, FALSE, rdpScancode);
}

BOOL abortConnect(rdpContext* context)
{
    // Not freerdp_abort_connect_context: from 3.13 on it also writes a disconnect request
    // through the connection's MCS layer, which the session thread frees and makes anew
    // (rdp_reset) at every disconnect, so from another thread it can write through freed
    // memory. The abort itself is the error code and the abort event, which lives as long as
    // the context.
    freerdp_set_last_error_if_not(context, FREERDP_ERROR_CONNECT_CANCELLED);
    return SetEvent(freerdp_abort_event(context));
}

// FreeRDP 3 leaves the keyboard to the client (its own mapping is deprecated from 3.11 on, and
// 3.10's fallback without an X display misreads every key): X servers on Linux number keys as
// the kernel's evdev codes plus 8, and WinPR maps those.
DWORD initKeyboard()
{
    DWORD layout = 0;
    if (freerdp_detect_keyboard_layout_from_system_locale(&layout) < 0 || layout == 0)
        layout = KBD_US;
    return layout;
}

DWORD rdpScancode(DWORD x11Keycode)
{
    constexpr DWORD evdevOffset = 8;
    if (x11Keycode < evdevOffset)
        return 0;
    const DWORD virtualKey =
        GetVirtualKeyCodeFromKeycode(x11Keycode - evdevOffset, WINPR_KEYCODE_TYPE_EVDEV);
    return GetVirtualScanCodeFromVirtualKeyCode(virtualKey, WINPR_KBD_TYPE_IBM_ENHANCED);
}

BOOL shallDisconnect(rdpContext* context)
{
    return freerdp_shall_disconnect_context(context);
}

bool hookConnection(rdpContext* context)
{
    const rdpTransportIo* io = freerdp_get_io_callbacks(context);
    if (!io || io->TCPConnect != libraryIo(io).TCPConnect ||
        io->TLSConnect != libraryIo().TLSConnect)
        return false;
    rdpTransportIo hooked = *io;
    hooked.TCPConnect = onTcpConnect;
    hooked.TLSConnect = onTlsConnect;
    return freerdp_set_io_callbacks(context, &hooked);
}

void setChannelLoader(freerdp* instance, BOOL (*load)(freerdp* instance))
{
    instance->LoadChannels = load;
}

BOOL loadChannels(freerdp* instance)
{
    rdpContext* context = instance->context;
    rdpSettings* settings = context->settings;
    // Device redirection carries the logon signal and sound's registration: always loaded.
    if (!freerdp_settings_set_bool(settings, FreeRDP_DeviceRedirection, TRUE) ||
        !loadStatic(context->channels, settings, staticEntry(RDPDR_SVC_CHANNEL_NAME), settings))
        return FALSE;
    if (freerdp_settings_get_bool(settings, FreeRDP_RedirectClipboard) &&
        !freerdp_static_channel_collection_find(settings, CLIPRDR_SVC_CHANNEL_NAME)) {
        const char* const params[] = {CLIPRDR_SVC_CHANNEL_NAME};
        if (!freerdp_client_add_static_channel(settings, 1, params))
            return FALSE;
    }
    if (freerdp_static_channel_collection_find(settings, "rdpsnd") &&
        !freerdp_settings_set_bool(settings, FreeRDP_AudioPlayback, TRUE))
        return FALSE;
    const UINT32 count = freerdp_settings_get_uint32(settings, FreeRDP_StaticChannelCount);
    for (UINT32 i = 0; i < count; ++i) {
        auto* args = static_cast<ADDIN_ARGV*>(
            freerdp_settings_get_pointer_array_writable(settings, FreeRDP_StaticChannelArray, i));
        if (!args || args->argc < 1)
            return FALSE;
        const bool loaded =
            std::strcmp(args->argv[0], "rdpsnd") == 0
                ? loadSound(context->channels, settings, args)
                : loadStatic(context->channels, settings, staticEntry(args->argv[0]), args);
        if (!loaded)
            return FALSE;
    }
    return TRUE;
}

} // namespace tclink::rdp::compat

// FreeRDP keeps one channel error per connection: whichever channel fails writes it, from its
// own thread, and the session ends the connection on it. This definition takes the place of the
// library's in the process. It stores an error as the library does, except one that the sound
// channel sets while it handles a message (compat::SoundReceiving): that one ends the sound only,
// and leaves the connection's error as it is, so that it can neither overwrite nor take back
// another channel's error of the same moment.
extern "C" void setChannelError(rdpContext* context, UINT errorNum, const char* format, ...)
{
    using tclink::rdp::compat::soundReceiving;
    if (soundReceiving && soundReceiving->context_ == context) {
        soundReceiving->failed_ = true;
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    context->channelErrorNum = errorNum;
    std::vsnprintf(context->errorDescription, 499, format, arguments);
    va_end(arguments);
    SetEvent(context->channelErrorEvent);
}

namespace tclink::rdp::compat {

#else // FreeRDP 2

namespace {

// The socket of the connection the current thread is connecting, once known.
thread_local int connectingSocket = -1;

} // namespace

ConnectingScope::~ConnectingScope()
{
    connectingContext = nullptr;
    connectingSocket = -1;
}

BOOL sendKeyboard(rdpInput* input, bool down, UINT32 rdpScancode)
{
    return freerdp_input_send_keyboard_event_ex(input, down, rdpScancode);
}

BOOL abortConnect(rdpContext* context)
{
    return freerdp_abort_connect(context->instance);
}

DWORD initKeyboard()
{
    return freerdp_keyboard_init(0);
}

DWORD rdpScancode(DWORD x11Keycode)
{
    return freerdp_keyboard_get_rdp_scancode_from_x11_keycode(x11Keycode);
}

BOOL shallDisconnect(rdpContext* context)
{
    return freerdp_shall_disconnect(context->instance);
}

bool hookConnection(rdpContext*)
{
    return true; // the hooks below are the process's
}

void setChannelLoader(freerdp*, BOOL (*)(freerdp*)) {}

BOOL loadChannels(freerdp* instance)
{
    return freerdp_client_load_addins(instance->context->channels, instance->context->settings);
}

} // namespace tclink::rdp::compat

// FreeRDP 2 has no transport hooks, but it makes every socket it connects or attaches an event
// socket through WinPR's WSAEventSelect, on the connecting thread: this definition takes the
// place of WinPR's in the process and tells the connecting connection about its socket.
extern "C" int WSAEventSelect(SOCKET s, WSAEVENT hEventObject, LONG lNetworkEvents)
{
    using Function = int (*)(SOCKET, WSAEVENT, LONG);
    static const auto winpr = reinterpret_cast<Function>(dlsym(RTLD_NEXT, "WSAEventSelect"));
    using namespace tclink::rdp::compat;
    if (connectingContext && static_cast<int>(s) >= 0 && connectingSocket != static_cast<int>(s)) {
        connectingSocket = static_cast<int>(s);
        connectHooks.socketOpened(connectingContext, connectingSocket);
    }
    return winpr ? winpr(s, hEventObject, lNetworkEvents) : SOCKET_ERROR;
}

// FreeRDP 2 polls the socket every 100 ms while it activates a connection (Sleep(100) between
// reads), which puts most of a second into every connect. This definition takes the place of
// WinPR's Sleep in the process: on a thread that is connecting, it returns as soon as the
// server's data arrives or the connection is aborted; everywhere else it sleeps as WinPR's
// Sleep does. (Not through SleepEx: on a thread WinPR did not start, WinPR's SleepEx returns at
// once, and a loop that waits in steps of Sleep(100), such as the wait for the next activation
// after a server's Deactivate All, then gives up before the server's next PDU arrives.)
extern "C" VOID Sleep(DWORD dwMilliseconds)
{
    using namespace tclink::rdp::compat;
    if (connectingContext && connectingSocket >= 0 && dwMilliseconds > 0) {
        pollfd fds[2] = {{connectingSocket, POLLIN, 0}, {-1, POLLIN, 0}};
        nfds_t n = 1;
        if (const int abortFd = GetEventFileDescriptor(connectingContext->abortEvent); abortFd >= 0)
            fds[n++].fd = abortFd;
        poll(fds, n, static_cast<int>(dwMilliseconds));
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

namespace tclink::rdp::compat {

#endif

} // namespace tclink::rdp::compat
