#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <algorithm>

#include <dlfcn.h>

#include <freerdp/version.h>

#include "rdp_test_support.h"
#include "session/rdp/freerdp_control.h"

namespace tclink::rdp::test {
namespace {

// FreeRDP 2 waits a fixed 100 ms between reads while it activates a connection, about eight
// times before the connection stands; the program's own Sleep waits for the server's data
// instead. Should that definition ever stop being the one the library calls, a loopback
// connect takes most of a second longer. FreeRDP 3 waits on events: there the program keeps
// WinPR's Sleep, and the connect is as quick.
TEST(ConnectWaits, TheLibraryCallsTheProgramsSleepAndALoopbackLoginHasNoFixedPauses)
{
    // The first definition in the process is the program's, not WinPR's behind it (FreeRDP 2).
    if (FREERDP_VERSION_MAJOR < 3)
        EXPECT_NE(dlsym(RTLD_DEFAULT, "Sleep"), dlsym(RTLD_NEXT, "Sleep"));
    else
        EXPECT_EQ(dlsym(RTLD_DEFAULT, "Sleep"), dlsym(RTLD_NEXT, "Sleep"));

    if (!DemoServer::available())
        GTEST_SKIP() << "tclink-demo-server not built";
    DemoServer server;
    ASSERT_TRUE(server.start("127.0.9.9:7012"));
    qint64 fastest = -1;
    for (int attempt = 0; attempt < 3; ++attempt) {
        FreeRdpControl control;
        EventLog log(control);
        logInTo(control, QStringLiteral("127.0.9.9"), 7012);
        QElapsedTimer clock;
        clock.start();
        control.Connect();
        ASSERT_TRUE(log.waitFor("OnConnected", 10000));
        const qint64 took = clock.elapsed();
        fastest = fastest < 0 ? took : std::min(fastest, took);
        control.RequestClose();
        ASSERT_TRUE(log.waitFor("OnDisconnected", 5000));
    }
    // About 20 ms with the program's Sleep, over 900 ms with WinPR's.
    EXPECT_LT(fastest, 400);
}

} // namespace
} // namespace tclink::rdp::test
