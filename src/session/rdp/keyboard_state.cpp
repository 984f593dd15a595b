#include "session/rdp/keyboard_state.h"

#include <algorithm>
#include <utility>

#include <freerdp/input.h>

namespace tclink::rdp {

quint32 syncFlags(const platform::ToggleKeys& keys)
{
    return (keys.scrollLock ? KBD_SYNC_SCROLL_LOCK : 0u) | (keys.numLock ? KBD_SYNC_NUM_LOCK : 0u) |
           (keys.capsLock ? KBD_SYNC_CAPS_LOCK : 0u) | (keys.kanaLock ? KBD_SYNC_KANA_LOCK : 0u);
}

void PressedKeys::note(bool down, quint32 rdpScancode)
{
    const auto it = std::find(down_.begin(), down_.end(), rdpScancode);
    if (down && it == down_.end())
        down_.push_back(rdpScancode);
    else if (!down && it != down_.end())
        down_.erase(it);
}

std::vector<quint32> PressedKeys::takeAll()
{
    return std::exchange(down_, {});
}

} // namespace tclink::rdp
