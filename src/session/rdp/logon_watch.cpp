#include "session/rdp/logon_watch.h"

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>

#include <freerdp/addin.h>
#include <freerdp/channels/rdpdr.h>
#include <freerdp/client/channels.h>
#include <freerdp/svc.h>
#include <freerdp/version.h>

#include "session/rdp/sound_reconnect.h"

// FreeRDP 2 has no callback for the server's "user logged on": the watch sits between the
// rdpdr add-in and the channel manager. Its entry point is handed entry points of our own for
// opening and closing the channel, and the channel's receive function is wrapped in turn, so
// every message on rdpdr passes here first.

namespace tclink::rdp {

namespace {

constexpr char rdpdrName[] = "rdpdr";
[[maybe_unused]] constexpr char soundName[] = "rdpsnd";

// Set before the first connection, and each time a connection loads rdpdr (always to the same
// functions of the library).
void (*onUserLoggedOn)(rdpContext*) = nullptr;
std::atomic<PVIRTUALCHANNELENTRYEX> rdpdrEntry = nullptr;
std::atomic<PVIRTUALCHANNELOPENEX> channelOpen = nullptr;
std::atomic<PVIRTUALCHANNELCLOSEEX> channelClose = nullptr;

struct OpenChannel {
    rdpContext* context;
    PCHANNEL_OPEN_EVENT_EX_FN receive;
};

std::mutex watchMutex;
std::map<LPVOID, rdpContext*> loadedChannels; // init handle -> its connection, while it lives
std::map<DWORD, OpenChannel> openChannels;    // open handle -> connection and rdpdr's receiver

VOID VCAPITYPE watchingReceive(LPVOID userParam, DWORD openHandle, UINT event, LPVOID data,
                               UINT32 dataLength, UINT32 totalLength, UINT32 dataFlags)
{
    OpenChannel channel{};
    {
        std::lock_guard lock(watchMutex);
        if (const auto it = openChannels.find(openHandle); it != openChannels.end())
            channel = it->second;
    }
    if (event == CHANNEL_EVENT_DATA_RECEIVED && (dataFlags & CHANNEL_FLAG_FIRST) &&
        channel.context && isUserLoggedOn(static_cast<const BYTE*>(data), dataLength))
        onUserLoggedOn(channel.context);
    if (channel.receive)
        channel.receive(userParam, openHandle, event, data, dataLength, totalLength, dataFlags);
}

UINT VCAPITYPE watchingOpen(LPVOID initHandle, LPDWORD openHandle, PCHAR name,
                            PCHANNEL_OPEN_EVENT_EX_FN receive)
{
    const UINT status = channelOpen(initHandle, openHandle, name, watchingReceive);
    std::lock_guard lock(watchMutex);
    const auto loaded = loadedChannels.find(initHandle);
    if (status == CHANNEL_RC_OK && loaded != loadedChannels.end())
        openChannels[*openHandle] = {loaded->second, receive};
    return status;
}

UINT VCAPITYPE watchingClose(LPVOID initHandle, DWORD openHandle)
{
    {
        // The init handle stays known: a reconnection opens the same channel again.
        std::lock_guard lock(watchMutex);
        openChannels.erase(openHandle);
    }
    return channelClose(initHandle, openHandle);
}

BOOL VCAPITYPE watchingRdpdrEntry(PCHANNEL_ENTRY_POINTS_EX entryPoints, PVOID initHandle)
{
    auto* freerdpPoints = reinterpret_cast<PCHANNEL_ENTRY_POINTS_FREERDP_EX>(entryPoints);
    if (freerdpPoints->cbSize < sizeof(CHANNEL_ENTRY_POINTS_FREERDP_EX))
        return rdpdrEntry(entryPoints, initHandle);
    // The add-in keeps a copy of the entry points: it gets ours.
    CHANNEL_ENTRY_POINTS_FREERDP_EX watched = *freerdpPoints;
    channelOpen = watched.pVirtualChannelOpenEx;
    channelClose = watched.pVirtualChannelCloseEx;
    watched.pVirtualChannelOpenEx = watchingOpen;
    watched.pVirtualChannelCloseEx = watchingClose;
    {
        std::lock_guard lock(watchMutex);
        loadedChannels[initHandle] = watched.context;
    }
    return rdpdrEntry(reinterpret_cast<PCHANNEL_ENTRY_POINTS_EX>(&watched), initHandle);
}

PVIRTUALCHANNELENTRY provider(LPCSTR name, LPCSTR subsystem, LPCSTR type, DWORD flags)
{
    PVIRTUALCHANNELENTRY entry =
        freerdp_channels_load_static_addin_entry(name, subsystem, type, flags);
    if (!entry || !name || subsystem || !(flags & FREERDP_ADDIN_CHANNEL_STATIC) ||
        !(flags & FREERDP_ADDIN_CHANNEL_ENTRYEX))
        return entry;
#if FREERDP_VERSION_MAJOR < 3
    if (std::strcmp(name, soundName) == 0)
        return soundEntryForReconnect(entry);
#endif
    if (std::strcmp(name, rdpdrName) != 0)
        return entry;
    // With FREERDP_ADDIN_CHANNEL_ENTRYEX the loader passes and expects an EX entry point.
    using AnyFunction = void (*)();
    rdpdrEntry = reinterpret_cast<PVIRTUALCHANNELENTRYEX>(reinterpret_cast<AnyFunction>(entry));
    return reinterpret_cast<PVIRTUALCHANNELENTRY>(
        reinterpret_cast<AnyFunction>(watchingRdpdrEntry));
}

} // namespace

bool isUserLoggedOn(const BYTE* data, UINT32 length)
{
    const auto u16 = [&](int at) { return static_cast<UINT16>(data[at] | data[at + 1] << 8); };
    return data && length >= 4 && u16(0) == RDPDR_CTYP_CORE && u16(2) == PAKID_CORE_USER_LOGGEDON;
}

void forgetLogonWatch(rdpContext* context)
{
    std::lock_guard lock(watchMutex);
    std::erase_if(loadedChannels, [context](const auto& e) { return e.second == context; });
    std::erase_if(openChannels, [context](const auto& e) { return e.second.context == context; });
}

void registerLogonWatchingProvider(void (*userLoggedOn)(rdpContext* context))
{
    onUserLoggedOn = userLoggedOn;
    freerdp_register_addin_provider(provider, 0);
}

} // namespace tclink::rdp
