#include <gtest/gtest.h>

#include <freerdp/error.h>

#include "session/rdp/disconnect_reason.h"
#include "session/rdp/reconnect_plan.h"

namespace tclink::rdp {
namespace {

using namespace std::chrono_literals;
using Clock = ReconnectPlan::Clock;

TEST(ReconnectPlan, AttemptsCloseFirstThenFartherAtMostTwentyTimesAndNeverAfter180Seconds)
{
    const Clock::time_point loss{};
    const ReconnectPlan plan(loss);
    // A link that refuses at once: each attempt waits for its turn.
    EXPECT_EQ(plan.startOf(1, loss), loss);
    EXPECT_EQ(plan.startOf(2, loss + 10ms), loss + 1s);
    EXPECT_EQ(plan.startOf(14, loss + 26s), loss + 30s);
    EXPECT_EQ(plan.startOf(20, loss + 61s), loss + 67s);
    EXPECT_FALSE(plan.startOf(21, loss + 68s)); // the last attempt fails after 67 s: >= 60 s
    for (int n = 2; n <= ReconnectPlan::maxAttempts; ++n)
        EXPECT_GT(*plan.startOf(n, loss), *plan.startOf(n - 1, loss)) << n;
    // A link that swallows everything: attempts that ran long start at once after.
    EXPECT_EQ(plan.startOf(3, loss + 60s), loss + 60s);
    EXPECT_FALSE(plan.startOf(7, loss + 180s));
    EXPECT_FALSE(plan.startOf(0, loss));
    // The attempt's time is the connect bound, cut where the 180 s end.
    EXPECT_EQ(plan.attemptLimit(30s, loss + 10s), 30s);
    EXPECT_EQ(plan.attemptLimit(30s, loss + 170s), 10s);
    EXPECT_EQ(plan.attemptLimit(30s, loss + 200s), 1ms);
}

TEST(ReconnectPlan, OnlyANetworkLossAfterTheConnectionStoodIsReconnected)
{
    const auto facts = [](quint32 lastError, quint32 errorInfo, bool connected, bool local,
                          bool timedOut) {
        return DisconnectFacts{lastError, errorInfo, connected, local, timedOut};
    };
    const quint32 errinfo = FREERDP_ERROR_ERRINFO_CLASS << 16;
    // The link reset, closed without a word, or fell silent.
    EXPECT_TRUE(
        isNetworkLoss(facts(FREERDP_ERROR_CONNECT_TRANSPORT_FAILED, 0, true, false, false)));
    EXPECT_TRUE(isNetworkLoss(facts(0, ERRINFO_NONE, true, false, false)));
    EXPECT_TRUE(isNetworkLoss(facts(0, 0, true, false, true)));
    // The server ended it: logoff, an administrator, any error info.
    EXPECT_FALSE(isNetworkLoss(facts(errinfo | ERRINFO_LOGOFF_BY_USER, 0, true, false, false)));
    EXPECT_FALSE(isNetworkLoss(facts(FREERDP_ERROR_CONNECT_TRANSPORT_FAILED,
                                     ERRINFO_RPC_INITIATED_DISCONNECT, true, false, false)));
    EXPECT_FALSE(
        isNetworkLoss(facts(0, ERRINFO_DISCONNECTED_BY_OTHER_CONNECTION, true, false, true)));
    // Our own close, and a connection that never stood.
    EXPECT_FALSE(isNetworkLoss(facts(FREERDP_ERROR_CONNECT_CANCELLED, 0, true, true, false)));
    EXPECT_FALSE(
        isNetworkLoss(facts(FREERDP_ERROR_CONNECT_TRANSPORT_FAILED, 0, false, false, false)));
}

} // namespace
} // namespace tclink::rdp
