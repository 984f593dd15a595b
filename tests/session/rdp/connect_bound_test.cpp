#include <gtest/gtest.h>

#include <freerdp/version.h>
#include <winpr/synch.h>
#include <winpr/thread.h>

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "rdp_test_support.h"
#include "session/rdp/freerdp_compat.h"
#include "session/rdp/freerdp_control.h"

namespace tclink::rdp::test {
namespace {

// A peer on a free loopback port that accepts connections and then, depending on its kind,
// says nothing at all, answers the client's X.224 request (choosing TLS) and then nothing, or
// answers it as a web server would and closes.
class StallingPeer {
public:
    enum Kind { Silent, StallInTls, NotRdp };

    explicit StallingPeer(Kind kind) : kind_(kind)
    {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof addr;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            listen(listener_, 4) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
            return;
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { serve(); });
    }

    ~StallingPeer()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        for (int fd : accepted_)
            close(fd);
        close(listener_);
    }

    quint16 port() const { return port_; }
    int connections() const { return connections_; }

private:
    void serve()
    {
        while (!stop_) {
            pollfd p{listener_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            const int fd = accept(listener_, nullptr, nullptr);
            if (fd < 0)
                continue;
            accepted_.push_back(fd);
            ++connections_;
            if (kind_ != Silent)
                answer(fd);
        }
    }

    void answer(int fd)
    {
        char request[512];
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0 || read(fd, request, sizeof request) <= 0)
            return;
        // TPKT, X.224 Connection Confirm, RDP Negotiation Response choosing TLS.
        const QByteArray answer =
            kind_ == StallInTls ? QByteArray::fromHex("030000130ed000001234000200080001000000")
                                : QByteArray("HTTP/1.1 400 Bad Request\r\n\r\n");
        (void)!write(fd, answer.constData(), static_cast<size_t>(answer.size()));
        if (kind_ == NotRdp)
            shutdown(fd, SHUT_RDWR);
    }

    Kind kind_;
    int listener_ = -1;
    quint16 port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::vector<int> accepted_;
    std::thread thread_;
};

class ConnectBound : public ::testing::TestWithParam<StallingPeer::Kind> {
protected:
    void SetUp() override { qputenv("TCLINK_TEST_CONNECT_BOUND_MS", "1500"); }
    void TearDown() override { qunsetenv("TCLINK_TEST_CONNECT_BOUND_MS"); }
};

// Whatever the peer does after accepting, the connection gives up at the bound and says it
// timed out; a probe and a session alike. (On FreeRDP 3 a probe knows the server once its
// connection request is confirmed, before TLS: see ProbeOnFreeRdp3 below.)
TEST_P(ConnectBound, APeerThatStallsEndsTheConnectionAtTheBoundWithReason264)
{
    StallingPeer peer(GetParam());
    ASSERT_NE(peer.port(), 0);
    for (const bool probe : {true, false}) {
        if (probe && GetParam() == StallingPeer::StallInTls && FREERDP_VERSION_MAJOR >= 3)
            continue;
        FreeRdpControl control;
        EventLog log(control);
        control.Server = "127.0.0.1";
        control.AdvancedSettings2.RDPPort = peer.port();
        control.ProbeOnly = probe;
        control.UserName = account;
        control.Connect();
        ASSERT_TRUE(log.waitFor("OnDisconnected", 10000)) << probe;
        EXPECT_EQ(log.names, QStringList({"OnConnecting", "OnDisconnected"})) << probe;
        EXPECT_EQ(log.reason, 264) << probe;
        EXPECT_GE(log.disconnectedAt, 1400) << probe;
        EXPECT_LE(log.disconnectedAt, 1500 + 2000) << probe;
    }
    EXPECT_EQ(peer.connections(),
              GetParam() == StallingPeer::StallInTls && FREERDP_VERSION_MAJOR >= 3 ? 1 : 2);
}

// A probe reports the server reachable only when it answered as an RDP server: a web server's
// answer ends it at once, without OnConnected, whatever the line. On FreeRDP 3 the confirmed
// connection request is that answer, and the probe ends there (no TLS handshake to wait for).
TEST(Probe, ConnectsOnAnRdpServersAnswerOnly)
{
    StallingPeer web(StallingPeer::NotRdp);
    ASSERT_NE(web.port(), 0);
    {
        FreeRdpControl control;
        EventLog log(control);
        control.Server = "127.0.0.1";
        control.AdvancedSettings2.RDPPort = web.port();
        control.ProbeOnly = true;
        control.Connect();
        ASSERT_TRUE(log.waitFor("OnDisconnected", 10000));
        EXPECT_EQ(log.names, QStringList({"OnConnecting", "OnDisconnected"}));
        EXPECT_NE(log.reason, 1);
        EXPECT_LE(log.disconnectedAt, 2000);
    }
    if (FREERDP_VERSION_MAJOR < 3)
        return;
    qputenv("TCLINK_TEST_CONNECT_BOUND_MS", "1500");
    StallingPeer rdp(StallingPeer::StallInTls);
    FreeRdpControl control;
    EventLog log(control);
    control.Server = "127.0.0.1";
    control.AdvancedSettings2.RDPPort = rdp.port();
    control.ProbeOnly = true;
    control.Connect();
    const bool ended = log.waitFor("OnDisconnected", 10000);
    qunsetenv("TCLINK_TEST_CONNECT_BOUND_MS");
    ASSERT_TRUE(ended);
    EXPECT_EQ(log.names, QStringList({"OnConnecting", "OnConnected", "OnDisconnected"}));
    EXPECT_EQ(log.reason, 1);
    EXPECT_LE(log.disconnectedAt, 1000);
}

INSTANTIATE_TEST_SUITE_P(Peers, ConnectBound,
                         ::testing::Values(StallingPeer::Silent, StallingPeer::StallInTls));

// A server that stops answering later in the connection sequence (after TLS, the channels and
// the logon information) is given up at the bound all the same.
TEST(ConnectBoundLate, AServerThatStallsInLicensingEndsTheConnectionWithReason264)
{
    if (!DemoServer::available())
        GTEST_SKIP() << "tclink-demo-server not built";
    DemoServer server;
    ASSERT_TRUE(server.start("127.0.9.9:7013", {"--freeze-at-licensing"}));
    qputenv("TCLINK_TEST_CONNECT_BOUND_MS", "1500");
    FreeRdpControl control;
    EventLog log(control);
    control.Server = "127.0.9.9";
    control.AdvancedSettings2.RDPPort = 7013;
    control.UserName = account;
    control.setClearTextPassword(password);
    control.Connect();
    const bool ended = log.waitFor("OnDisconnected", 10000);
    qunsetenv("TCLINK_TEST_CONNECT_BOUND_MS");
    ASSERT_TRUE(ended) << log.names.join(',').toStdString();
    EXPECT_FALSE(server.events("freeze").isEmpty());
    EXPECT_EQ(log.names, QStringList({"OnConnecting", "OnDisconnected"}));
    EXPECT_EQ(log.reason, 264);
    EXPECT_LE(log.disconnectedAt, 1500 + 2000);
}

// The deadline's thread and the UI thread end a connection while the session thread may be
// tearing it down, which makes FreeRDP's connection layers anew each time: the abort touches
// none of them.
TEST(Abort, FromAnotherThreadWhileTheConnectionIsTornDownIsSafe)
{
    freerdp* instance = freerdp_new();
    ASSERT_NE(instance, nullptr);
    ASSERT_TRUE(freerdp_context_new(instance));
    std::atomic<bool> done = false;
    std::thread closer([&] {
        while (!done)
            compat::abortConnect(instance->context);
    });
    for (int i = 0; i < 20000; ++i)
        freerdp_disconnect(instance);
    done = true;
    closer.join();
    // And it still ends what comes next.
    EXPECT_TRUE(compat::abortConnect(instance->context));
    EXPECT_TRUE(compat::shallDisconnect(instance->context));
    freerdp_context_free(instance);
    freerdp_free(instance);
}

} // namespace
} // namespace tclink::rdp::test

#if FREERDP_VERSION_MAJOR < 3
// The program's Sleep stands in for WinPR's in the whole process. Outside a connect it must
// sleep as long as asked on any thread, also one WinPR did not start once WinPR keeps a thread
// list: FreeRDP waits for a server's next activation in steps of Sleep(100), and a Sleep that
// returns at once gives up on it before the server's goodbye arrives.
TEST(Sleep, SleepsAsLongAsAskedOnAThreadWinPRDidNotStart)
{
    HANDLE started = CreateThread(
        nullptr, 0, [](LPVOID) -> DWORD { return 0; }, nullptr, 0, nullptr);
    ASSERT_NE(started, nullptr);
    WaitForSingleObject(started, INFINITE);
    CloseHandle(started);
    std::chrono::steady_clock::duration slept{};
    std::thread([&] {
        const auto before = std::chrono::steady_clock::now();
        Sleep(200);
        slept = std::chrono::steady_clock::now() - before;
    }).join();
    EXPECT_GE(slept, std::chrono::milliseconds(190));
}
#endif
