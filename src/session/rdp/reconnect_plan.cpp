#include "session/rdp/reconnect_plan.h"

#include <algorithm>

#include <freerdp/error.h>
#include <freerdp/version.h>

namespace tclink::rdp {

bool acceptReconnectCookie(rdpSettings* settings)
{
#if defined(FREERDP_VERSION_MAJOR) && FREERDP_VERSION_MAJOR >= 3
    // FreeRDP 3.5 and later send the cookie back only with this one.
    if (!freerdp_settings_set_bool(settings, FreeRDP_AutoReconnectionPacketSupported, TRUE))
        return false;
#endif
    return freerdp_settings_set_bool(settings, FreeRDP_AutoReconnectionEnabled, TRUE);
}

bool isNetworkLoss(const DisconnectFacts& facts)
{
    if (!facts.connected || facts.localClose)
        return false;
    if (facts.errorInfo != ERRINFO_SUCCESS && facts.errorInfo != ERRINFO_NONE)
        return false; // the server said why it ended the session
    if (facts.linkTimedOut)
        return true;
    // Whatever else the library reports once a session stood is the transport failing:
    // reset, closed without a word, or sending or receiving failed.
    return facts.lastError >> 16 != FREERDP_ERROR_ERRINFO_CLASS;
}

std::optional<ReconnectPlan::Clock::time_point> ReconnectPlan::startOf(int attempt,
                                                                       Clock::time_point now) const
{
    if (attempt < 1 || attempt > maxAttempts)
        return std::nullopt;
    const auto earliest =
        loss_ + std::chrono::seconds(startAfter[static_cast<std::size_t>(attempt - 1)]);
    const Clock::time_point start = std::max(earliest, now);
    if (start >= loss_ + giveUpAfter)
        return std::nullopt;
    return start;
}

std::chrono::milliseconds ReconnectPlan::attemptLimit(std::chrono::milliseconds connectBound,
                                                      Clock::time_point now) const
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(loss_ + giveUpAfter - now);
    return std::clamp(left, std::chrono::milliseconds(1), connectBound);
}

} // namespace tclink::rdp
