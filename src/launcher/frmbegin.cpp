#include "launcher/frmbegin.h"

#include "platform/clock.h"
#include "platform/desktop.h"
#include "platform/look.h"
#include "platform/message_boxes.h"
#include "platform/runtime_error.h"
#include "settings/clstxt.h"
#include "settings/settings_paths.h"
#include "startup/Module1.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStringList>
#include <QTimer>
#include <algorithm>

namespace tclink::launcher {

using platform::MessageBox;
using platform::twipsRect;
using settings::clstxt;

namespace {

// Colours the caption only: the radio dot and the tick keep the style's colours, which stand
// out on the box's white face.
void setCaptionColour(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

template <typename W> W* place(QWidget* parent, const QString& text, const QRect& geometry)
{
    auto* widget = new W(text, parent);
    widget->setGeometry(geometry);
    return widget;
}

} // namespace

QString guidanceText()
{
    return QStringList{
        QStringLiteral("你没有配置好连接程序！"),
        QString(),
        QStringLiteral("如何解决："),
        QStringLiteral(
            "1:先在电脑机箱后面的一个类似U盘的黄颜色硬件(登录密匙)上查到三位的机器编号。"),
        QStringLiteral("2:然后在下面的输入框中输入你查到的三位机器编号,点配置按扭即可。"),
        QStringLiteral("3:如果以上都不能解决，请致电岚拓售后服务中心"),
    }
        .join(QChar('\n'));
}

QString versionLabel(const QString& editionName, int major, int minor, int revision)
{
    qsizetype first = 0;
    while (first < editionName.size() && editionName[first].unicode() < 0x80) {
        ++first;
    }
    return QStringLiteral("版本：") + editionName.mid(first) + QStringLiteral(" V2011 ") +
           QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(revision);
}

frmbegin::frmbegin(Module1& module) : QWidget(nullptr, Qt::FramelessWindowHint), module_(module)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Form2"));
    setFixedSize(platform::pixels(7500), platform::pixels(4485));
    setAutoFillBackground(true);
    QPalette background = palette();
    background.setColor(QPalette::Window, platform::desktopColour());
    setPalette(background);
    setFont(platform::simSun(9));
    const QColor white(255, 255, 255);
    const QColor pink(255, 128, 128);

    Label3 = place<QLabel>(this, QStringLiteral("岚拓软件星河版"), twipsRect(1920, 315, 3150, 435));
    Label3->setFont(platform::simSun(21.75, true));

    Frame1 =
        place<QGroupBox>(this, QStringLiteral("选择线路进入"), twipsRect(495, 1080, 4905, 2130));
    Option2 =
        place<QRadioButton>(Frame1, QStringLiteral("正常线路-----南方用户选择进入（电信用户）"),
                            twipsRect(345, 315, 4215, 435));
    Option3 =
        place<QRadioButton>(Frame1, QStringLiteral("正常线路-----北方用户选择进入（网通用户）"),
                            twipsRect(345, 930, 4215, 435));
    Check1 =
        place<QCheckBox>(Frame1, QStringLiteral("启用备用服务器---当系统无法正常登陆时请勾选此项"),
                         twipsRect(165, 1590, 4545, 405));
    // The backup line lies below the frame's edge and is never seen. It is disabled, so the
    // arrow keys, which move among the options of a frame whatever their focus policy, never
    // select it: a line the user can see is always selected.
    Option1 =
        place<QRadioButton>(Frame1, QStringLiteral("备用线路-----当正常线路不能进入时选择进入"),
                            twipsRect(450, 2220, 4215, 435));
    Option1->setFocusPolicy(Qt::NoFocus);
    Option1->setEnabled(false);
    Option2->setChecked(true);

    Frame3 = place<QGroupBox>(this, QStringLiteral("信息提示"), twipsRect(495, 1080, 4890, 2130));
    Label5 = place<QLabel>(Frame3, QStringLiteral("版本：V版"), twipsRect(135, 360, 4650, 210));
    Label5->setFont(platform::simSun(10.5));
    Label5->setWordWrap(true);
    Label5->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Command1 = place<QPushButton>(this, QStringLiteral("登录"), twipsRect(5940, 1245, 900, 795));
    Command2 = place<QPushButton>(this, QStringLiteral("退出"), twipsRect(5940, 2280, 900, 795));
    Label4 = place<QLabel>(this, QStringLiteral("版本：V2011"), twipsRect(540, 3555, 4860, 180));
    Label1 = place<QLabel>(this, QStringLiteral("机器编号："), twipsRect(525, 3840, 900, 180));
    Text1 = new QLineEdit(this);
    Text1->setGeometry(twipsRect(1410, 3780, 1035, 300));
    Command3 = place<QPushButton>(this, QStringLiteral("配置"), twipsRect(2565, 3780, 900, 330));
    Command4 = place<QPushButton>(this, QStringLiteral("恢复上次成功配置"),
                                  twipsRect(3540, 3780, 1635, 330));
    Label2 = place<QLabel>(this,
                           QStringLiteral("公司网址：") + VendorWebsite +
                               QStringLiteral(" 售后热线：") + SupportPhone,
                           twipsRect(525, 4200, 4590, 180));

    for (QWidget* label : {static_cast<QWidget*>(Label1), static_cast<QWidget*>(Label2),
                           static_cast<QWidget*>(Label3), static_cast<QWidget*>(Label4),
                           static_cast<QWidget*>(Frame1), static_cast<QWidget*>(Frame3)}) {
        setCaptionColour(label, platform::highlightTextColour());
    }
    for (QWidget* option : {static_cast<QWidget*>(Option1), static_cast<QWidget*>(Option2),
                            static_cast<QWidget*>(Option3), static_cast<QWidget*>(Check1)}) {
        setCaptionColour(option, white);
    }
    setCaptionColour(Label5, pink);
    QPalette entry = Text1->palette();
    entry.setColor(QPalette::Text, pink);
    entry.setColor(QPalette::Base, platform::desktopColour());
    Text1->setPalette(entry);
    Text1->hide();
    Command3->hide();
    Command4->hide();

    setTabOrder(Command1, Command2);
    Command1->setFocus();
    // Return presses a focused button, as Space does.
    for (QPushButton* button : {Command1, Command2, Command3, Command4}) {
        button->setAutoDefault(true);
    }

    connect(Command1, &QPushButton::clicked, this, &frmbegin::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmbegin::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &frmbegin::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &frmbegin::Command4_Click);
    // The timer keeps the focus in the entry box while no machine number is configured, so
    // Return there presses the configure button.
    connect(Text1, &QLineEdit::returnPressed, this, [this] {
        if (!Command3->isHidden()) {
            Command3->click();
        }
    });

    Timer1 = new QTimer(this);
    Timer1->setInterval(500);
    connect(Timer1, &QTimer::timeout, this, &frmbegin::Timer1_Timer);
    Timer1->start();

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->geometry().center() - rect().center());
    }
    Form_Load();
}

void frmbegin::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    if (painted_) {
        return;
    }
    painted_ = true;
    // Once the launcher is on screen, the session's library is readied while the user reads
    // it, never before: the window comes up as quickly as it can.
    QTimer::singleShot(0, this, [this] {
        if (module_.services.prepareRemoteDesktop) {
            module_.services.prepareRemoteDesktop();
        }
    });
}

void frmbegin::Form_Load()
{
    CheckConfiguration();
    Option1->setVisible(true);
    Option2->setVisible(true);
    Option3->setVisible(true);
    Option2->setChecked(true);
    if (module_.LineCode == QLatin1String("1")) {
        Option2->setChecked(true);
    }
    if (module_.LineCode == QLatin1String("3")) {
        Option3->setChecked(true);
    }
    Label4->setText(versionLabel(EditionName, VersionMajor, VersionMinor, VersionRevision));
}

QString frmbegin::readFirstNonBlank(const QString& onD, const QString& onC) const
{
    const clstxt store(module_.services.drives);
    const QString line = store.txtread(onD);
    if (!settings::isBlank(line)) {
        return line;
    }
    const QString fallback = store.txtread(onC);
    return settings::isBlank(fallback) ? QString() : fallback;
}

bool frmbegin::CheckConfiguration()
{
    module_.MachineNumber = readFirstNonBlank(settings::IdFileOnD, settings::IdFileOnC);
    if (settings::isBlank(module_.MachineNumber)) {
        Frame1->hide();
        Frame3->show();
        Text1->show();
        Command1->setEnabled(false);
        Command3->show();
        Label5->setText(guidanceText());
        Label5->resize(Label5->width(), Label5->heightForWidth(Label5->width()));
        const QString backup =
            readFirstNonBlank(settings::BackupIdFileOnD, settings::BackupIdFileOnC);
        Command4->setVisible(!settings::isBlank(backup));
        return false;
    }
    Frame1->show();
    Frame3->hide();
    Text1->hide();
    Command1->setEnabled(true);
    Command3->hide();
    Command4->hide();
    Text1->clear();
    Label1->setText(QStringLiteral("机器编号：") +
                    settings::trimSpaces(module_.MachineNumber).right(3));
    Label1->resize(std::max(Label1->width(), Label1->sizeHint().width()), Label1->height());
    return true;
}

void frmbegin::Timer1_Timer()
{
    if (!CheckConfiguration()) {
        Text1->setFocus();
    }
}

void frmbegin::Command3_Click()
{
    if (!Command4->isHidden()) {
        Timer1->stop();
        const auto answer = module_.services.boxes.show(MessageBox{
            QStringLiteral(
                "因系统保留了你上次成功登入软件的机器编号，点击是：系统将恢复上次机器编号登入软件，"
                "点击否：将按你自己输入机器编号登入！"),
            QStringLiteral("强烈要求你点击是，用上次的配置登入"), MessageBox::Buttons::YesNo,
            MessageBox::Icon::Information, MessageBox::Answer::Yes});
        if (answer == MessageBox::Answer::Yes) {
            restore();
            Timer1->start();
            return;
        }
        Timer1->start();
    }
    const QString typed = Text1->text();
    if (settings::trimSpaces(typed).size() != 3) {
        module_.services.boxes.show(platform::notice(QStringLiteral("机器编号必须是三位才能配置！"),
                                                     QStringLiteral("系统提示")));
        return;
    }
    if (writeIdFile(settings::IdPrefix + typed) && !CheckConfiguration()) {
        Text1->setFocus();
    }
}

void frmbegin::Command4_Click()
{
    restore();
}

void frmbegin::restore()
{
    // The backup is taken from where the configuration check found it (D: first, then the
    // system folder), so the offered restore always has something to restore.
    module_.MachineNumber = readFirstNonBlank(settings::BackupIdFileOnD, settings::BackupIdFileOnC);
    if (!settings::isBlank(module_.MachineNumber)) {
        writeIdFile(module_.MachineNumber);
    }
}

bool frmbegin::writeIdFile(const QString& idLine)
{
    try {
        clstxt(module_.services.drives).txtwrite(settings::idFile(module_.HasDriveD), idLine);
        return true;
    } catch (const RuntimeError& error) {
        module_.services.boxes.show(
            platform::notice(QStringLiteral("机器编号没有保存成功（%1，错误号 "
                                            "%2）。\n请确认保存配置的磁盘可以写入后，再配置一次。")
                                 .arg(error.description())
                                 .arg(error.number()),
                             QStringLiteral("系统提示")));
        return false;
    }
}

void frmbegin::Command1_Click()
{
    if (Check1->isChecked()) {
        const auto answer = module_.services.boxes.show(MessageBox{
            QStringLiteral("您启用了备用服务器,可能会造成无法正常打印，您确定要登录吗？"),
            QStringLiteral("系统提示"), MessageBox::Buttons::YesNo, MessageBox::Icon::Warning,
            MessageBox::Answer::No});
        if (answer != MessageBox::Answer::Yes) {
            Check1->setChecked(false);
            return;
        }
        module_.UseMainServer = false;
        const QDateTime now = module_.services.clock.now();
        module_.BackupLoginTime = QDateTime(
            now.date(), QTime(now.time().hour(), now.time().minute(), now.time().second()));
    } else {
        module_.UseMainServer = true;
    }
    if (Option2->isChecked()) {
        module_.ServerAddress = TelecomServer;
        module_.LineCode = QStringLiteral("1");
    }
    if (Option3->isChecked()) {
        module_.ServerAddress = NetcomServer;
        module_.LineCode = QStringLiteral("3");
    }
    module_.showFrmmain();
    close();
}

void frmbegin::Command2_Click()
{
    module_.services.desktop.endProgram();
}

} // namespace tclink::launcher
