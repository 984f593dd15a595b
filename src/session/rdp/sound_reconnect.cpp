#include "session/rdp/sound_reconnect.h"

#include <atomic>
#include <map>
#include <mutex>
#include <utility>

#include <freerdp/svc.h>

namespace tclink::rdp {

namespace {

// Always the same functions of the library, set each time a connection loads the channel.
std::atomic<PVIRTUALCHANNELENTRYEX> soundEntry = nullptr;
std::atomic<PVIRTUALCHANNELINITEX> channelInit = nullptr;

struct SoundChannel {
    PCHANNEL_INIT_EVENT_EX_FN onEvent;
    bool disconnected; // since it was last connected
};

std::mutex soundMutex;
std::map<LPVOID, SoundChannel> soundChannels; // init handle -> the channel's own event handler

VOID VCAPITYPE soundInitEvent(LPVOID userParam, LPVOID initHandle, UINT event, LPVOID data,
                              UINT length)
{
    PCHANNEL_INIT_EVENT_EX_FN onEvent = nullptr;
    bool again = false;
    {
        std::lock_guard lock(soundMutex);
        const auto it = soundChannels.find(initHandle);
        if (it == soundChannels.end())
            return;
        onEvent = it->second.onEvent;
        if (event == CHANNEL_EVENT_DISCONNECTED)
            it->second.disconnected = true;
        else if (event == CHANNEL_EVENT_CONNECTED)
            again = std::exchange(it->second.disconnected, false);
        else if (event == CHANNEL_EVENT_TERMINATED)
            soundChannels.erase(it);
    }
    if (again)
        onEvent(userParam, initHandle, CHANNEL_EVENT_INITIALIZED, nullptr, 0);
    onEvent(userParam, initHandle, event, data, length);
}

UINT VCAPITYPE soundInit(LPVOID userParam, LPVOID clientContext, LPVOID initHandle,
                         PCHANNEL_DEF channel, INT channelCount, ULONG version,
                         PCHANNEL_INIT_EVENT_EX_FN onEvent)
{
    {
        std::lock_guard lock(soundMutex);
        soundChannels[initHandle] = {onEvent, false};
    }
    return channelInit(userParam, clientContext, initHandle, channel, channelCount, version,
                       soundInitEvent);
}

BOOL VCAPITYPE soundEntryEx(PCHANNEL_ENTRY_POINTS_EX entryPoints, PVOID initHandle)
{
    auto* freerdpPoints = reinterpret_cast<PCHANNEL_ENTRY_POINTS_FREERDP_EX>(entryPoints);
    if (freerdpPoints->cbSize < sizeof(CHANNEL_ENTRY_POINTS_FREERDP_EX))
        return soundEntry(entryPoints, initHandle);
    CHANNEL_ENTRY_POINTS_FREERDP_EX watched = *freerdpPoints;
    channelInit = watched.pVirtualChannelInitEx;
    watched.pVirtualChannelInitEx = soundInit;
    return soundEntry(reinterpret_cast<PCHANNEL_ENTRY_POINTS_EX>(&watched), initHandle);
}

} // namespace

PVIRTUALCHANNELENTRY soundEntryForReconnect(PVIRTUALCHANNELENTRY entry)
{
    using AnyFunction = void (*)();
    soundEntry = reinterpret_cast<PVIRTUALCHANNELENTRYEX>(reinterpret_cast<AnyFunction>(entry));
    return reinterpret_cast<PVIRTUALCHANNELENTRY>(reinterpret_cast<AnyFunction>(soundEntryEx));
}

} // namespace tclink::rdp
