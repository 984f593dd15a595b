#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace tclink::rdp {

// How long a connection may take from Connect until it stands: 30 s, whatever the peer does.
// TCLINK_TEST_CONNECT_BOUND_MS in the environment shortens it (tests).
std::chrono::milliseconds connectBound();

// How long the session window waits for the logon signal once the session stands before it
// shows the session anyway: 30 s. TCLINK_TEST_LOGON_WAIT_MS shortens it (tests).
std::chrono::milliseconds logonWait();

// Calls expire, on a thread of its own, once the limit has passed, unless met() came first.
// Destroying it meets it and waits for that thread.
class Deadline {
public:
    Deadline(std::chrono::milliseconds limit, std::function<void()> expire);
    ~Deadline();
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

    void met();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool met_ = false;
    std::thread thread_;
};

} // namespace tclink::rdp
