#pragma once

// The differences between the FreeRDP 2 and FreeRDP 3 client libraries, in one place: the rest
// of the control is written once, against what both lines have in common and these names.

#include <freerdp/client/cliprdr.h>
#include <freerdp/event.h>
#include <freerdp/freerdp.h>
#include <freerdp/graphics.h>
#include <freerdp/version.h>

namespace tclink::rdp::compat {

#if FREERDP_VERSION_MAJOR >= 3
using StringSetting = FreeRDP_Settings_Keys_String;
using ChannelConnectedArgs = const ChannelConnectedEventArgs;
using ChannelDisconnectedArgs = const ChannelDisconnectedEventArgs;
using PointerToSet = rdpPointer;
#else
using StringSetting = size_t;
using ChannelConnectedArgs = ChannelConnectedEventArgs;
using ChannelDisconnectedArgs = ChannelDisconnectedEventArgs;
using PointerToSet = const rdpPointer;
#endif

// The clipboard PDUs' msgType, msgFlags and dataLen (FreeRDP 3 keeps them in a header).
template <class Pdu> auto& header(Pdu& pdu)
{
#if FREERDP_VERSION_MAJOR >= 3
    return pdu.common;
#else
    return pdu;
#endif
}

BOOL sendKeyboard(rdpInput* input, bool down, UINT32 rdpScancode);

// The local keyboard layout (an RDP keyboard layout id); sets up rdpScancode. Call once.
DWORD initKeyboard();
// The RDP scan code (extended keys with KBDEXT) of an X11 key code; 0 for none.
DWORD rdpScancode(DWORD x11Keycode);
// Ends the connecting or the connection: safe from any thread while the context lives.
BOOL abortConnect(rdpContext* context);
BOOL shallDisconnect(rdpContext* context);

// What the session hears of a connection being made, on the connecting thread.
struct ConnectHooks {
    // The connection's socket to the server stands (again, after a redirection).
    void (*socketOpened)(rdpContext* context, int fd);
    // The server confirmed the connection request and chose TLS, which starts next; false ends
    // the connection there. Only FreeRDP 3 says so: on 2, the end of the TLS handshake
    // (certificate check) is the first point a client hears of.
    bool (*tlsStarting)(rdpContext* context);
};

// The hooks of every connection; call once per process, before the first connection.
void setConnectHooks(const ConnectHooks& hooks);
// Makes a new connection call the hooks; call before its first connect.
bool hookConnection(rdpContext* context);

// The thread connects the connection of context while it lives (freerdp_connect).
class ConnectingScope {
public:
    explicit ConnectingScope(rdpContext* context);
    ~ConnectingScope();
    ConnectingScope(const ConnectingScope&) = delete;
    ConnectingScope& operator=(const ConnectingScope&) = delete;
};

#if FREERDP_VERSION_MAJOR >= 3
// While it lives, the thread handles a message of the sound channel of context's connection:
// an error the channel sets meanwhile ends the sound and not the connection (the program's
// setChannelError).
class SoundReceiving {
public:
    explicit SoundReceiving(rdpContext* context);
    ~SoundReceiving();
    SoundReceiving(const SoundReceiving&) = delete;
    SoundReceiving& operator=(const SoundReceiving&) = delete;
    // The channel has set an error.
    bool failed() const;

private:
    friend void ::setChannelError(rdpContext*, UINT, const char*, ...);
    rdpContext* context_;
    bool failed_ = false;
};
#endif

// Channels: FreeRDP 3 loads them in LoadChannels (it throws away those loaded earlier), FreeRDP
// 2 in PreConnect. `load` loads them where the line wants it.
void setChannelLoader(freerdp* instance, BOOL (*load)(freerdp* instance));
constexpr bool channelsLoadedInPreConnect = FREERDP_VERSION_MAJOR < 3;

// Loads the channels the settings ask for: device redirection (always: it carries the logon
// signal), sound and the clipboard, as static channels and no others.
BOOL loadChannels(freerdp* instance);

} // namespace tclink::rdp::compat
