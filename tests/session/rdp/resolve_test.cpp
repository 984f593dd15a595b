#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <unistd.h>

#include "rdp_test_support.h"
#include "session/rdp/freerdp_control.h"

namespace tclink::rdp::test {
namespace {

// Set inside the sandbox: a network namespace of its own (only its loopback) and a resolver
// configuration that names 127.0.0.1, where nothing answers. No query leaves the machine.
constexpr char sandboxed[] = "TCLINK_RDP_RESOLVER_SANDBOX";

TEST(ConnectFailure, UnresolvableNameReports520)
{
    if (qEnvironmentVariableIsSet(sandboxed)) {
        FreeRdpControl control;
        EventLog log(control);
        control.Server = "tclink-no-such-host.example";
        control.AdvancedSettings2.RDPPort = 7011;
        control.Connect();
        ASSERT_TRUE(log.waitFor("OnDisconnected", 10000));
        EXPECT_EQ(log.names, QStringList({"OnConnecting", "OnDisconnected"}));
        EXPECT_EQ(log.reason, 520);
        return;
    }
    if (QStandardPaths::findExecutable("unshare").isEmpty() || geteuid() != 0)
        GTEST_SKIP() << "needs root and unshare to keep the name lookup on this machine";

    QTemporaryDir dir;
    QFile conf(dir.filePath("resolv.conf"));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write("nameserver 127.0.0.1\noptions timeout:1 attempts:1\n");
    conf.close();

    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(sandboxed, "1");
    child.setProcessEnvironment(env);
    const QString script =
        QStringLiteral("ip link set lo up && mount --bind \"$1\" /etc/resolv.conf && exec \"$2\" "
                       "--gtest_filter=ConnectFailure.UnresolvableNameReports520");
    child.start("unshare", {"-n", "-m", "--propagation", "private", "sh", "-c", script, "sh",
                            conf.fileName(), QCoreApplication::applicationFilePath()});
    ASSERT_TRUE(child.waitForFinished(30000));
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0);
}

} // namespace
} // namespace tclink::rdp::test
