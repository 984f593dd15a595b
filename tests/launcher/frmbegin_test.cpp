#include "launcher/frmbegin.h"
#include "platform/look.h"
#include "session/frmmain.h"
#include "settings/settings_paths.h"
#include "support/doubles.h"

#include <QCheckBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <gtest/gtest.h>

using tclink::platform::MessageBox;
using tclink::test::TestWorld;
using Answer = MessageBox::Answer;

namespace {

const QString IdOnD = QStringLiteral("D:\\id.txt");
const QString IdOnC = QStringLiteral("C:\\WINDOWS\\system\\id.txt");
const QString BackupOnD = QStringLiteral("D:\\idbak.aaa");

bool configuredFace(const tclink::launcher::frmbegin& w)
{
    return !w.Frame1->isHidden() && w.Frame3->isHidden() && w.Text1->isHidden() &&
           w.Command1->isEnabled() && w.Command3->isHidden() && w.Command4->isHidden();
}

bool unconfiguredFace(const tclink::launcher::frmbegin& w)
{
    return w.Frame1->isHidden() && !w.Frame3->isHidden() && !w.Text1->isHidden() &&
           !w.Command1->isEnabled() && !w.Command3->isHidden();
}

} // namespace

class Launcher : public testing::Test {
protected:
    explicit Launcher(bool withDriveD = true) : world(withDriveD)
    {
        tclink::platform::useSongStandIn(); // as the program does at start-up
    }

    tclink::launcher::frmbegin& open()
    {
        world.module.HasDriveD = world.drives.map().root('D').has_value();
        return world.module.showFrmbegin();
    }

    TestWorld world;
};

TEST_F(Launcher, NewInstallationAsksForTheMachineNumberAndFocusesTheEntryBox)
{
    auto& w = open();
    EXPECT_TRUE(unconfiguredFace(w));
    EXPECT_TRUE(w.Command4->isHidden());
    EXPECT_TRUE(
        w.Label5->text().startsWith(QStringLiteral("你没有配置好连接程序！\n\n如何解决：\n1:")));
    EXPECT_EQ(w.Label5->text().count('\n'), 5);
    EXPECT_GT(w.Label5->height(), 100); // grew to fit the six lines
    EXPECT_EQ(w.Label4->text(), QStringLiteral("版本：演示版 V2011 1.1.0"));
    EXPECT_EQ(w.size(), QSize(500, 299));
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == w.Text1; }, 700));
}

TEST_F(Launcher, ConfiguresExactlyThreeCharactersAndStoresThemAsTyped)
{
    auto& w = open();
    struct Case {
        QString typed;
        bool accepted;
    };
    for (const Case& c :
         {Case{"12", false}, Case{"1234", false}, Case{"   ", false}, Case{" 7a9 ", true}}) {
        world.boxes.shown.clear();
        w.Text1->setText(c.typed);
        w.Command3_Click();
        if (!c.accepted) {
            ASSERT_EQ(world.boxes.shown.size(), 1u) << c.typed.toStdString();
            EXPECT_EQ(world.boxes.shown[0].prompt, QStringLiteral("机器编号必须是三位才能配置！"));
            EXPECT_EQ(world.boxes.shown[0].title, QStringLiteral("系统提示"));
            EXPECT_FALSE(world.drives.read(IdOnD));
            EXPECT_TRUE(unconfiguredFace(w));
        } else {
            EXPECT_TRUE(world.boxes.shown.empty());
            EXPECT_EQ(world.drives.read(IdOnD), QByteArray("5kedomra240815 7a9 "));
            EXPECT_TRUE(configuredFace(w));
            EXPECT_EQ(w.Label1->text(), QStringLiteral("机器编号：7a9"));
            EXPECT_TRUE(w.Text1->text().isEmpty());
            EXPECT_EQ(world.module.MachineNumber, QStringLiteral("5kedomra240815 7a9 "));
        }
    }
}

TEST_F(Launcher, WithoutDriveDTheIdGoesToTheSystemFolder)
{
    TestWorld noD(false);
    noD.module.HasDriveD = false;
    auto& w = noD.module.showFrmbegin();
    w.Text1->setText(QStringLiteral("机器号"));
    w.Command3_Click();
    EXPECT_EQ(noD.drives.read(IdOnC), QByteArray("5kedomra240815\xBB\xFA\xC6\xF7\xBA\xC5"));
    EXPECT_TRUE(configuredFace(w));
}

TEST_F(Launcher, RestoreQuestionYesRestoresAndNoUsesTheTypedText)
{
    world.drives.write(BackupOnD, "5kedomra240815321");
    auto& w = open();
    EXPECT_FALSE(w.Command4->isHidden());

    // Yes: the backup wins whatever was typed; the face follows on the next tick.
    w.Text1->setText("12");
    world.boxes.answers = {Answer::Yes};
    w.Command3_Click();
    ASSERT_EQ(world.boxes.shown.size(), 1u);
    EXPECT_EQ(world.boxes.shown[0].title, QStringLiteral("强烈要求你点击是，用上次的配置登入"));
    EXPECT_EQ(world.boxes.shown[0].defaultButton, Answer::Yes);
    EXPECT_EQ(world.drives.read(IdOnD), QByteArray("5kedomra240815321"));
    EXPECT_TRUE(w.Timer1->isActive());
    ASSERT_TRUE(QTest::qWaitFor([&] { return configuredFace(w); }, 700));
    EXPECT_EQ(w.Label1->text(), QStringLiteral("机器编号：321"));

    // No: the typed text is checked and stored; a wrong length only warns.
    world.drives.write(IdOnD, "  ");
    w.CheckConfiguration();
    world.boxes.shown.clear();
    w.Text1->setText("12");
    world.boxes.answers = {Answer::No};
    w.Command3_Click();
    ASSERT_EQ(world.boxes.shown.size(), 2u);
    EXPECT_EQ(world.boxes.shown[1].prompt, QStringLiteral("机器编号必须是三位才能配置！"));
    EXPECT_TRUE(w.Timer1->isActive());
    w.Text1->setText("555");
    world.boxes.answers = {Answer::No};
    w.Command3_Click();
    EXPECT_EQ(world.drives.read(IdOnD), QByteArray("5kedomra240815555"));
}

TEST_F(Launcher, TheFaceFollowsTheIdFileWithinHalfASecond)
{
    world.drives.write(IdOnD, "5kedomra240815042");
    auto& w = open();
    EXPECT_TRUE(configuredFace(w));
    world.drives.write(IdOnD, "   ");
    ASSERT_TRUE(QTest::qWaitFor([&] { return unconfiguredFace(w); }, 700));
    world.drives.write(IdOnC, "5kedomra240815x"); // C: is looked at when D: is blank
    ASSERT_TRUE(QTest::qWaitFor([&] { return configuredFace(w); }, 700));
    EXPECT_EQ(w.Label1->text(), QStringLiteral("机器编号：15x"));
}

class LauncherLogin : public Launcher {
protected:
    tclink::launcher::frmbegin& configured()
    {
        world.drives.write(IdOnD, "5kedomra240815123");
        return open();
    }
};

TEST_F(LauncherLogin, PreselectsTheRememberedLineExactly)
{
    for (const auto& [code, netcom] : {std::pair{"3", true}, std::pair{"1", false},
                                       std::pair{"3 ", false}, std::pair{"", false}}) {
        world.module.LineCode = code;
        auto& w = configured();
        EXPECT_EQ(w.Option3->isChecked(), netcom) << code;
        EXPECT_EQ(w.Option2->isChecked(), !netcom) << code;
        w.close();
        QApplication::processEvents();
    }
}

TEST_F(LauncherLogin, NormalLoginFillsTheStateOpensTheSessionAndCloses)
{
    auto& w = configured();
    QPointer<tclink::launcher::frmbegin> launcher(&w);
    w.Option3->setChecked(true);
    w.Command1_Click();
    EXPECT_TRUE(world.module.UseMainServer);
    EXPECT_EQ(world.module.ServerAddress, QStringLiteral("127.0.0.2"));
    EXPECT_EQ(world.module.LineCode, QStringLiteral("3"));
    EXPECT_FALSE(world.module.BackupLoginTime.isValid());
    ASSERT_NE(world.module.frmmain(), nullptr);
    EXPECT_TRUE(world.module.frmmain()->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return launcher.isNull(); }, 5000));
}

TEST_F(LauncherLogin, BackupServerQuestion)
{
    auto& w = configured();
    w.Check1->setChecked(true);
    world.boxes.answers = {Answer::No};
    w.Command1_Click();
    ASSERT_EQ(world.boxes.shown.size(), 1u);
    EXPECT_EQ(world.boxes.shown[0].prompt,
              QStringLiteral("您启用了备用服务器,可能会造成无法正常打印，您确定要登录吗？"));
    EXPECT_EQ(world.boxes.shown[0].icon, MessageBox::Icon::Warning);
    EXPECT_EQ(world.boxes.shown[0].defaultButton, Answer::No);
    EXPECT_FALSE(w.Check1->isChecked());
    EXPECT_EQ(world.module.frmmain(), nullptr);

    w.Check1->setChecked(true);
    world.clock.current = QDateTime(QDate(2026, 12, 8), QTime(10, 0, 59, 870));
    world.boxes.answers = {Answer::Yes};
    w.Command1_Click();
    EXPECT_FALSE(world.module.UseMainServer);
    EXPECT_EQ(world.module.BackupLoginTime, QDateTime(QDate(2026, 12, 8), QTime(10, 0, 59)));
    EXPECT_EQ(world.module.ServerAddress, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(world.module.LineCode, QStringLiteral("1"));
    EXPECT_NE(world.module.frmmain(), nullptr);
}

TEST_F(LauncherLogin, ExitEndsTheProgramAndWritesNothing)
{
    auto& w = configured();
    w.Command2_Click();
    EXPECT_EQ(world.desktop.ends, 1);
    EXPECT_FALSE(world.drives.read(BackupOnD));
}

TEST_F(Launcher, AnIdFileThatCannotBeWrittenIsToldAndChangesNothing)
{
    std::filesystem::create_directories(world.drives.driveD() / "id.txt"); // blocks the file
    auto& w = open();
    w.Text1->setText("123");
    w.Command3_Click();
    ASSERT_EQ(world.boxes.shown.size(), 1u);
    EXPECT_EQ(world.boxes.shown[0].title, QStringLiteral("系统提示"));
    EXPECT_TRUE(world.boxes.shown[0].prompt.contains(QStringLiteral("机器编号没有保存成功")));
    EXPECT_TRUE(unconfiguredFace(w));
    EXPECT_EQ(w.Text1->text(), "123");
    EXPECT_EQ(world.desktop.ends, 0);
}

namespace {

// WCAG contrast ratio of two colours.
double contrast(const QColor& a, const QColor& b)
{
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace

TEST_F(LauncherLogin, CaptionsAreWhiteAndTheDotAndTickStandOutOnTheirBoxes)
{
    auto& w = configured();
    for (QWidget* option : {static_cast<QWidget*>(w.Option2), static_cast<QWidget*>(w.Option3),
                            static_cast<QWidget*>(w.Check1)}) {
        const QPalette& p = option->palette();
        EXPECT_EQ(p.color(QPalette::WindowText), QColor(Qt::white));
        EXPECT_GE(contrast(p.color(QPalette::Text), p.color(QPalette::Base)), 4.5);
    }
}

TEST_F(LauncherLogin, ArrowKeysMoveOnlyAmongTheVisibleLines)
{
    for (const char* remembered : {"1", "3"}) {
        world.module.LineCode = remembered;
        auto& w = configured();
        w.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
        QRadioButton* start = w.Option2->isChecked() ? w.Option2 : w.Option3;
        start->setFocus();
        for (const Qt::Key key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Right, Qt::Key_Up,
                                  Qt::Key_Left, Qt::Key_Up, Qt::Key_Down, Qt::Key_Down}) {
            QTest::keyClick(QApplication::focusWidget(), key);
            EXPECT_FALSE(w.Option1->isChecked()) << remembered;
            EXPECT_NE(w.Option2->isChecked(), w.Option3->isChecked()) << remembered;
            EXPECT_TRUE(QApplication::focusWidget() == w.Option2 ||
                        QApplication::focusWidget() == w.Option3);
        }
        w.Command1_Click();
        EXPECT_FALSE(world.module.ServerAddress.isEmpty());
        world.module.ServerAddress.clear();
        QApplication::processEvents();
    }
}

TEST_F(LauncherLogin, ReturnPressesTheFocusedButton)
{
    auto& w = configured();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    w.Command2->setFocus();
    QTest::keyClick(w.Command2, Qt::Key_Return);
    EXPECT_EQ(world.desktop.ends, 1);
    w.Command1->setFocus();
    QTest::keyClick(w.Command1, Qt::Key_Return);
    EXPECT_NE(world.module.frmmain(), nullptr);
}

TEST_F(Launcher, ReturnInTheEntryBoxConfigures)
{
    auto& w = open();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == w.Text1; }, 700));
    QTest::keyClicks(w.Text1, "12");
    QTest::keyClick(w.Text1, Qt::Key_Return);
    ASSERT_EQ(world.boxes.shown.size(), 1u);
    EXPECT_EQ(world.boxes.shown[0].prompt, QStringLiteral("机器编号必须是三位才能配置！"));
    QTest::keyClicks(w.Text1, "3");
    QTest::keyClick(w.Text1, Qt::Key_Enter);
    EXPECT_EQ(world.drives.read(IdOnD), QByteArray("5kedomra240815123"));
    EXPECT_TRUE(configuredFace(w));
}

TEST_F(Launcher, TheWholeGuidanceTextFitsInsideItsFrame)
{
    auto& w = open();
    // Drawn in SimSun where it is installed, else in the Song stand-in (no fontconfig alias).
    const QString face = QFontInfo(w.Label5->font()).family();
    EXPECT_TRUE(face == QStringLiteral("SimSun") ||
                face == QLatin1String(tclink::platform::SongStandIn))
        << face.toStdString();
    ASSERT_EQ(w.Label5->text().count('\n'), 5);
    const QRect inside = w.Frame3->contentsRect();
    EXPECT_TRUE(inside.contains(w.Label5->geometry())) << w.Label5->geometry().bottom();
    EXPECT_GE(w.Label5->height(), w.Label5->heightForWidth(w.Label5->width()));
    // Laid out as on the designer's screen: each line of advice on two lines at most.
    EXPECT_LE(w.Label5->heightForWidth(w.Label5->width()),
              9 * QFontMetrics(w.Label5->font()).lineSpacing());
}

// The session's library is readied once the launcher is on screen: not while it is being
// built and shown (the start would wait for it), and once only.
TEST_F(Launcher, ReadiesTheSessionOnceAfterItIsPainted)
{
    auto& w = open();
    EXPECT_EQ(world.remoteDesktopPreparations, 0);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    EXPECT_TRUE(QTest::qWaitFor([&] { return world.remoteDesktopPreparations == 1; }));
    w.repaint();
    w.hide();
    w.show();
    QTest::qWait(50);
    EXPECT_EQ(world.remoteDesktopPreparations, 1);
}

TEST_F(Launcher, RestoreTakesTheBackupFromWhereItWasFound)
{
    world.drives.write(QStringLiteral("C:\\WINDOWS\\system\\idbak.aaa"), "5kedomra240815654");
    auto& w = open();
    ASSERT_TRUE(world.module.HasDriveD);
    ASSERT_FALSE(w.Command4->isHidden());
    w.Command4_Click();
    EXPECT_EQ(world.drives.read(IdOnD), QByteArray("5kedomra240815654"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return configuredFace(w); }, 700));
    EXPECT_EQ(w.Label1->text(), QStringLiteral("机器编号：654"));
}
