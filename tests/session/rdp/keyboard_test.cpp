#include <QApplication>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <tuple>

#include <freerdp/input.h>

#include "keyboard_support.h"
#include "rdp_test_support.h"
#include "session/rdp/freerdp_control.h"
#include "session/rdp/keyboard_state.h"

namespace tclink::rdp::test {
namespace {

// A loopback endpoint of these tests alone: no other test binds it.
const QString endpoint = QStringLiteral("127.0.0.8:7311");

TEST(KeyboardState, EachToggleKeyHasItsOwnSyncFlag)
{
    EXPECT_EQ(syncFlags({}), 0u);
    EXPECT_EQ(syncFlags({.scrollLock = true}), quint32(KBD_SYNC_SCROLL_LOCK));
    EXPECT_EQ(syncFlags({.numLock = true}), quint32(KBD_SYNC_NUM_LOCK));
    EXPECT_EQ(syncFlags({.capsLock = true}), quint32(KBD_SYNC_CAPS_LOCK));
    EXPECT_EQ(syncFlags({.kanaLock = true}), quint32(KBD_SYNC_KANA_LOCK));
    EXPECT_EQ(syncFlags({true, true, true, true}),
              quint32(KBD_SYNC_SCROLL_LOCK | KBD_SYNC_NUM_LOCK | KBD_SYNC_CAPS_LOCK |
                      KBD_SYNC_KANA_LOCK));
}

TEST(KeyboardState, PressedKeysAreReleasedOnceInTheOrderTheyWentDown)
{
    PressedKeys keys;
    keys.note(true, 0x38);
    keys.note(true, 0x11D); // extended: right Ctrl, not left
    keys.note(true, 0x38);  // auto-repeat
    keys.note(true, 0x1E);
    keys.note(false, 0x1E);
    keys.note(false, 0x2A); // released without a press seen here
    EXPECT_EQ(keys.takeAll(), (std::vector<quint32>{0x38, 0x11D}));
    EXPECT_TRUE(keys.takeAll().empty());
}

TEST(KeyboardState, ShowingTheControlGivesItTheKeyboardFocus)
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* field = new QLineEdit;
    auto* control = new FreeRdpControl;
    layout->addWidget(field);
    layout->addWidget(control);
    control->hide();
    window.show();
    field->setFocus();
    ASSERT_EQ(window.focusWidget(), field);
    control->show();
    EXPECT_EQ(window.focusWidget(), control);
}

TEST(KeyboardState, TheInputMethodsWindowGoesWhereTheUserClicked)
{
    FreeRdpControl control;
    control.resize(640, 480);
    QMouseEvent click(QEvent::MouseButtonPress, QPointF(200, 150), QPointF(200, 150),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&control, &click);
    EXPECT_TRUE(control.inputMethodQuery(Qt::ImEnabled).toBool());
    EXPECT_EQ(control.inputMethodQuery(Qt::ImCursorRectangle).toRect().topLeft(), QPoint(200, 150));

    // What it composes shows there, on a white box, until it commits.
    QInputMethodEvent composing(QStringLiteral("zhong"), {});
    QCoreApplication::sendEvent(&control, &composing);
    QImage shown = control.grab().toImage();
    EXPECT_EQ(shown.pixel(199, 151), qRgb(255, 255, 255));
    EXPECT_EQ(shown.pixel(100, 100), qRgb(0, 0, 0));
    QInputMethodEvent committed;
    committed.setCommitString(QStringLiteral("中"));
    QCoreApplication::sendEvent(&control, &committed);
    shown = control.grab().toImage();
    EXPECT_EQ(shown.pixel(199, 151), qRgb(0, 0, 0));
}

class KeyboardSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!DemoServer::available())
            GTEST_SKIP() << "tclink-demo-server not built: " << DemoServer::binary().toStdString();
        ASSERT_TRUE(server.start(endpoint)) << "demo server did not become ready";
        control = std::make_unique<FreeRdpControl>();
        control->setKeyboardLocks(locks);
        logInTo(*control, QStringLiteral("127.0.0.8"), 7311);
        log = std::make_unique<EventLog>(*control);
    }

    void TearDown() override
    {
        if (!control)
            return;
        control->Disconnect();
        log->waitFor("OnDisconnected", 5000);
    }

    void connect()
    {
        control->Connect();
        ASSERT_TRUE(log->waitFor("OnLoginComplete", 10000)) << log->names.join(',').toStdString();
    }

    void key(quint32 x11Keycode, bool down)
    {
        QKeyEvent event(down ? QEvent::KeyPress : QEvent::KeyRelease, 0, Qt::NoModifier, x11Keycode,
                        0, 0);
        QCoreApplication::sendEvent(control.get(), &event);
    }
    void tap(quint32 x11Keycode)
    {
        key(x11Keycode, true);
        key(x11Keycode, false);
    }
    void focus(QEvent::Type type)
    {
        QFocusEvent event(type, Qt::ActiveWindowFocusReason);
        QCoreApplication::sendEvent(control.get(), &event);
    }

    // Waits until the server reported `count` events of this kind and returns them.
    QList<QMap<QString, QString>> waitForEvents(const QString& kind, qsizetype count)
    {
        std::ignore = QTest::qWaitFor([&] { return server.events(kind).size() >= count; }, 5000);
        return server.events(kind);
    }
    // The key presses the server reported, as "text/mods/locks".
    QStringList presses()
    {
        QStringList result;
        for (const auto& e : server.events("key")) {
            if (e["down"] == "1")
                result << e["text"] + "/" + e["mods"] + "/" + e["locks"];
        }
        return result;
    }

    FakeLocks locks;
    DemoServer server;
    std::unique_ptr<FreeRdpControl> control;
    std::unique_ptr<EventLog> log;
};

TEST_F(KeyboardSessionTest, TheLocalToggleKeysReachTheServerAtActivationAndOnFocus)
{
    locks.keys = {.numLock = true, .capsLock = true};
    connect();
    auto syncs = waitForEvents("sync", 1);
    ASSERT_EQ(syncs.size(), 1);
    EXPECT_EQ(syncs[0]["locks"], "num,caps");

    // Keypad digits arrive as digits, letters in capitals, as typed here.
    tap(keypad1);
    tap(keypad7);
    tap(keyA);
    std::ignore = QTest::qWaitFor([&] { return presses().size() >= 3; }, 5000);
    EXPECT_EQ(presses(), QStringList({"1//num,caps", "7//num,caps", "A//num,caps"}));

    // Back in the session after NumLock and CapsLock went off elsewhere: the server follows.
    focus(QEvent::FocusOut);
    locks.keys = {};
    focus(QEvent::FocusIn);
    syncs = waitForEvents("sync", 2);
    ASSERT_EQ(syncs.size(), 2);
    EXPECT_EQ(syncs[1]["locks"], "");
    tap(keypad1);
    tap(keyA);
    std::ignore = QTest::qWaitFor([&] { return presses().size() >= 5; }, 5000);
    EXPECT_EQ(presses().mid(3), QStringList({"[End]//", "a//"}));
}

TEST_F(KeyboardSessionTest, KeysHeldWhenTheFocusLeavesAreReleasedOnTheServer)
{
    connect();
    waitForEvents("sync", 1);
    // Alt+Tab: the window system takes Tab, the control sees Alt go down and the focus go.
    key(keyAltLeft, true);
    key(keyCtrlLeft, true);
    focus(QEvent::FocusOut);
    // Back without the keys: the next letter is a plain letter.
    focus(QEvent::FocusIn);
    tap(keyA);
    std::ignore = QTest::qWaitFor([&] { return presses().size() >= 3; }, 5000);
    EXPECT_EQ(presses(), QStringList({"/alt/", "/ctrl,alt/", "a//"}));
    // The releases came before the control synchronised again.
    const auto keys = server.events("key");
    ASSERT_GE(keys.size(), 4);
    EXPECT_EQ(keys[2]["down"], "0");
    EXPECT_EQ(keys[3]["down"], "0");
    EXPECT_EQ(keys[3]["mods"], "");
}

TEST_F(KeyboardSessionTest, TextAnInputMethodCommitsArrivesAsUnicodeCharacters)
{
    connect();
    QInputMethodEvent composing(QStringLiteral("zhongwen"), {});
    QCoreApplication::sendEvent(control.get(), &composing);
    QInputMethodEvent committed;
    committed.setCommitString(QStringLiteral("中文𠀀"));
    QCoreApplication::sendEvent(control.get(), &committed);
    tap(keyA); // keys the input method does not take still go as scan codes

    const auto chars = waitForEvents("unicode", 3);
    QStringList texts;
    for (const auto& c : chars)
        texts << c["text"];
    EXPECT_EQ(texts, QStringList({"中", "文", "𠀀"}));
    std::ignore = QTest::qWaitFor([&] { return !presses().isEmpty(); }, 5000);
    EXPECT_EQ(presses(), QStringList({"a//"}));
}

} // namespace
} // namespace tclink::rdp::test
