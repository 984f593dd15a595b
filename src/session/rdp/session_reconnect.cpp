// Logging on again after the network lost a session whose login was over.

#include "session/rdp/freerdp_session.h"
#include "session/rdp/reconnect_plan.h"

#include <QLoggingCategory>

#include <freerdp/error.h>
#include <winpr/synch.h>

namespace tclink::rdp {

namespace {

Q_LOGGING_CATEGORY(lcReconnect, "tclink.reconnect", QtWarningMsg)

} // namespace

bool FreeRdpSession::pauseUntil(Clock::time_point until)
{
    for (;;) {
        {
            // What is typed or clicked while the session is away goes nowhere.
            std::lock_guard lock(inputMutex_);
            ResetEvent(wakeEvent_);
            input_.clear();
        }
        if (closing_)
            return false;
        const auto now = Clock::now();
        if (now >= until)
            return true;
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - now);
        WaitForSingleObject(wakeEvent_, static_cast<DWORD>(wait.count()));
    }
}

bool FreeRdpSession::reconnect(DisconnectFacts& facts)
{
    // An update the loss interrupted never reaches its end: the picture is left as it was.
    if (paintLock_.owns_lock())
        paintLock_.unlock();
    rdpContext* context = instance_->context;
    const ReconnectPlan plan(Clock::now());
    qCDebug(lcReconnect) << "session lost, reason" << disconnectReason(facts);
    for (int attempt = 1;; ++attempt) {
        const auto start = plan.startOf(attempt, Clock::now());
        if (!start || !pauseUntil(*start))
            return false;
        emit reconnecting(attempt);
        qCDebug(lcReconnect) << "attempt" << attempt;
        // An attempt that the connect bound ended leaves "cancelled" behind, which would stop
        // every later one before it starts.
        freerdp_set_last_error(context, FREERDP_ERROR_SUCCESS);
        connectTimedOut_ = false;
        const bool back =
            connectWithin(plan.attemptLimit(connectBound(), Clock::now()), freerdp_reconnect);
        if (back && !closing_) {
            connected_ = true;
            lastActivity_ = Clock::now();
            {
                std::lock_guard lock(inputMutex_);
                input_.clear();
            }
            qCDebug(lcReconnect) << "session back at attempt" << attempt;
            emit reconnected();
            return true;
        }
        facts = {};
        facts.linkTimedOut = connectTimedOut_;
        connected_ = false;
        noteEnd(facts);
        qCDebug(lcReconnect) << "attempt" << attempt << "failed, reason" << disconnectReason(facts);
        if (closing_)
            return false;
    }
}

} // namespace tclink::rdp
