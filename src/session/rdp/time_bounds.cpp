#include "session/rdp/time_bounds.h"

#include <QtGlobal>

namespace tclink::rdp {

namespace {

constexpr std::chrono::milliseconds standardBound = std::chrono::seconds(30);

std::chrono::milliseconds fromEnvironment(const char* name)
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue(name, &ok);
    return ok && ms > 0 ? std::chrono::milliseconds(ms) : standardBound;
}

} // namespace

std::chrono::milliseconds connectBound()
{
    return fromEnvironment("TCLINK_TEST_CONNECT_BOUND_MS");
}

std::chrono::milliseconds logonWait()
{
    return fromEnvironment("TCLINK_TEST_LOGON_WAIT_MS");
}

Deadline::Deadline(std::chrono::milliseconds limit, std::function<void()> expire)
{
    thread_ = std::thread([this, limit, expire = std::move(expire)] {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, limit, [this] { return met_; }))
            expire();
    });
}

Deadline::~Deadline()
{
    met();
    thread_.join();
}

void Deadline::met()
{
    {
        std::lock_guard lock(mutex_);
        met_ = true;
    }
    changed_.notify_all();
}

} // namespace tclink::rdp
