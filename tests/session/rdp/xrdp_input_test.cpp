#include <QClipboard>
#include <QFile>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <tuple>

#include <unistd.h>

#include "keyboard_support.h"
#include "rdp_test_support.h"
#include "session/rdp/freerdp_control.h"

namespace tclink::rdp::test {
namespace {

// A real xrdp on 127.0.0.1:7011 whose start program is tclink-input-recorder: an X program in
// the session that records the keys and the clipboard it receives.
class XrdpInputTest : public ::testing::Test {
protected:
    static QString script()
    {
        return qEnvironmentVariable("TCLINK_SOURCE_DIR") + "/tools/servers/xrdp";
    }
    static QString recorder()
    {
        return qEnvironmentVariable("TCLINK_BINARY_DIR") + "/tclink-input-recorder";
    }

    bool run(const QString& command)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedChannels);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TCLINK_XRDP_RECORDER", recorder());
        p.setProcessEnvironment(env);
        p.start(script(), {command, "--state", state.path()});
        return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit &&
               p.exitCode() == 0;
    }

    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "xrdp needs root";
        if (!QFile::exists(script()) || !QFile::exists(recorder()))
            GTEST_SKIP() << "no xrdp script or no recorder";
        ASSERT_TRUE(run("start")) << "tools/servers/xrdp start failed";
        started = true;
        control.resize(800, 600);
        control.setKeyboardLocks(locks);
        control.Server = "127.0.0.1";
        control.AdvancedSettings2.RDPPort = 7011;
        control.UserName = account;
        control.setClearTextPassword(password);
        control.SecuredSettings2.StartProgram = startProgram;
    }

    void TearDown() override
    {
        control.Disconnect();
        std::ignore = log.waitFor("OnDisconnected", 5000);
        if (started)
            run("stop");
    }

    // The recorder's lines, each split into its event and decoded key=value fields.
    QList<QMap<QString, QString>> records() const
    {
        QList<QMap<QString, QString>> result;
        QFile file(state.filePath("markers/recorder.log"));
        if (!file.open(QIODevice::ReadOnly))
            return result;
        for (const QByteArray& line : file.readAll().split('\n')) {
            if (line.isEmpty())
                continue;
            result << reportFields(line);
        }
        return result;
    }
    QList<QMap<QString, QString>> recordsOf(const QString& event) const
    {
        QList<QMap<QString, QString>> result;
        for (const auto& r : records()) {
            if (r["event"] == event)
                result << r;
        }
        return result;
    }
    QList<QMap<QString, QString>> waitFor(const QString& event, qsizetype count, int ms = 10000)
    {
        std::ignore = QTest::qWaitFor([&] { return recordsOf(event).size() >= count; }, ms);
        return recordsOf(event);
    }

    // The key presses, without those xrdp makes itself to set the session's lock keys.
    QList<QMap<QString, QString>> waitForKeys(qsizetype count)
    {
        const auto typed = [this] {
            QList<QMap<QString, QString>> keys = recordsOf("key");
            keys.removeIf([](const auto& k) { return k["keysym"].endsWith("_Lock"); });
            return keys;
        };
        std::ignore = QTest::qWaitFor([&] { return typed().size() >= count; }, 10000);
        return typed();
    }

    void request(const QString& name, const QByteArray& content = {})
    {
        QFile file(state.filePath("markers/" + name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    void key(quint32 x11Keycode, bool down)
    {
        QKeyEvent event(down ? QEvent::KeyPress : QEvent::KeyRelease, 0, Qt::NoModifier, x11Keycode,
                        0, 0);
        QCoreApplication::sendEvent(&control, &event);
    }
    void tap(quint32 x11Keycode)
    {
        key(x11Keycode, true);
        key(x11Keycode, false);
    }
    void focus(QEvent::Type type)
    {
        QFocusEvent event(type, Qt::ActiveWindowFocusReason);
        QCoreApplication::sendEvent(&control, &event);
    }

    QTemporaryDir state;
    bool started = false;
    FakeLocks locks;
    FreeRdpControl control;
    EventLog log{control};
};

TEST_F(XrdpInputTest, KeysAndTheClipboardReachTheSessionsProgramAndBack)
{
    locks.keys = {.numLock = true};
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    control.Connect();
    ASSERT_TRUE(log.waitFor("OnConnected", 10000)) << log.names.join(',').toStdString();
    ASSERT_FALSE(waitFor("ready", 1, 20000).isEmpty()) << "the recorder did not start";

    // Keypad digits with NumLock on, as here.
    tap(keypad1);
    tap(keypad7);
    auto keys = waitForKeys(2);
    ASSERT_EQ(keys.size(), 2);
    EXPECT_EQ(keys[0]["text"], "1") << keys[0]["keysym"].toStdString();
    EXPECT_EQ(keys[1]["text"], "7");

    // Alt+Tab away and back: no Alt sticks to the next letter.
    key(keyAltLeft, true);
    focus(QEvent::FocusOut);
    focus(QEvent::FocusIn);
    tap(keyA);
    keys = waitForKeys(4);
    ASSERT_GE(keys.size(), 4);
    EXPECT_EQ(keys.last()["keysym"], "a");
    EXPECT_FALSE(keys.last()["state"].contains("alt")) << keys.last()["state"].toStdString();

    // Copied here, pasted there.
    const QString here = QStringLiteral("合同编号：HT-2011 中文");
    clipboard->setText(here);
    QTest::qWait(1000); // the announcement reaches the session's clipboard
    request("recorder-paste.1");
    const auto pasted = waitFor("pasted", 1);
    ASSERT_EQ(pasted.size(), 1);
    EXPECT_EQ(pasted[0]["text"], here);

    // Copied there, pasted here.
    const QString there = QStringLiteral("远程复制的客户资料");
    request("recorder-copy.1", there.toUtf8());
    ASSERT_EQ(waitFor("owned", 1).size(), 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return clipboard->text() == there; }, 15000))
        << clipboard->text().toStdString();
}

} // namespace
} // namespace tclink::rdp::test
