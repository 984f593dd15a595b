#pragma once

#include <array>
#include <chrono>
#include <optional>

#include <freerdp/settings.h>

#include "session/rdp/disconnect_reason.h"

namespace tclink::rdp {

// Whether a session that stood ended for a reason of the network (the link reset, fell silent
// or failed) rather than by the server's word (logoff, an administrator's disconnect, any error
// info) or by our own close.
bool isNetworkLoss(const DisconnectFacts& facts);

// Tells the server that the client takes its auto-reconnect cookie, so that a Windows terminal
// server lets a reconnection into the same session without a second logon.
bool acceptReconnectCookie(rdpSettings* settings);

// When a session lost to the network logs on again, and when it gives up: at most
// `maxAttempts` attempts, the n-th not before `startAfter[n - 1]` after the loss (close
// together first, for a short drop; farther apart later, for a router that restarts), none
// begun or going on once `giveUpAfter` has passed since the loss. Against a link that refuses
// at once, the last attempt fails about 67 s after the loss; against one that swallows every
// packet, each attempt runs into the connect bound and the clock ends the last one at 180 s.
class ReconnectPlan {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int maxAttempts = 20;
    static constexpr std::array<std::chrono::seconds::rep, maxAttempts> startAfter = {
        0, 1, 2, 3, 4, 5, 7, 9, 11, 14, 17, 21, 25, 30, 35, 41, 47, 53, 60, 67};
    static constexpr std::chrono::milliseconds giveUpAfter = std::chrono::seconds(180);

    explicit ReconnectPlan(Clock::time_point loss) : loss_(loss) {}

    // When the attempt (counted from 1) may begin, given that the one before ended at `now`;
    // nothing when there is to be no such attempt.
    std::optional<Clock::time_point> startOf(int attempt, Clock::time_point now) const;
    // How long an attempt begun at `now` may take: the connect bound, cut at the give-up time.
    std::chrono::milliseconds attemptLimit(std::chrono::milliseconds connectBound,
                                           Clock::time_point now) const;

private:
    Clock::time_point loss_;
};

} // namespace tclink::rdp
