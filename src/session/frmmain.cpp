#include "session/frmmain.h"

#include "platform/clock.h"
#include "platform/desktop.h"
#include "platform/font_pages.h"
#include "platform/look.h"
#include "platform/message_boxes.h"
#include "platform/runtime_error.h"
#include "session/rdp/remote_desktop_control.h"
#include "session/rdp/time_bounds.h"
#include "settings/clstxt.h"
#include "settings/settings_paths.h"
#include "startup/Module1.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLoggingCategory>
#include <QResizeEvent>
#include <QScreen>
#include <QTimer>

#include <algorithm>

namespace tclink::session {

// Progress of the connection, for diagnosis; off unless QT_LOGGING_RULES enables it.
Q_LOGGING_CATEGORY(lcSession, "tclink.session", QtWarningMsg)

using platform::notice;

namespace {

constexpr qint32 NormalServerPort = 7011;
constexpr qint32 BackupServerPort = 7190;
const QString AccountPassword = QStringLiteral("hodrafkez");
const QString StartProgram = QStringLiteral("E:\\khprogram\\V2011演示版\\bizdesk.exe");
const QString TitleText = QStringLiteral("岚拓客户管理系统(演示版本)");
const QString NoticeTitle = QStringLiteral("系统提示");

// Reasons of the control that mean: no connection to the server, and: server not found.
constexpr qint32 ReasonSocketConnectFailed = 516;
constexpr qint32 ReasonHostNotFound = 520;
const QString NetworkCutPolite =
    QStringLiteral("您的网络刚才已经断开了,请确定能上网后,再运行程序!");
const QString NetworkCutPlain = QStringLiteral("你的网络刚才已经断开了,请确定能上网后,再运行程序!");
const QString NetworkUnreachable =
    QStringLiteral("网络不通,请选择其它线路进入或关掉防火墙后再进入!");
// The server's certificate is none of those the program was built to accept.
QString certificateRefused()
{
    return QStringLiteral(
               "服务器的安全证书不对，可能有人冒充服务器。\n为了您的数据安全，程序不会登录。"
               "请联系售后热线：") +
           SupportPhone;
}

// The remote-desktop library cannot be loaded.
QString clientLibraryMissing()
{
    return QStringLiteral("远程桌面组件 FreeRDP 无法载入，程序不能登录。\n"
                          "请重新安装本程序，或联系售后热线：") +
           SupportPhone;
}

QDateTime toMinute(const QDateTime& time)
{
    return QDateTime(time.date(), QTime(time.time().hour(), time.time().minute()));
}

} // namespace

QString frmmain::AccountStem()
{
    return QStringLiteral("7wobnekcuh");
}

frmmain::frmmain(Module1& module) : QWidget(nullptr), module_(module)
{
    setWindowTitle(QStringLiteral("岚拓物流软件管理系统"));
    setWindowIcon(platform::programIcon());
    setAutoFillBackground(true);
    QPalette background = palette();
    background.setColor(QPalette::Window, platform::desktopColour());
    setPalette(background);

    MsTscAx1 = module_.services.makeRemoteDesktop(this);
    MsTscAx1->setGeometry(platform::twipsRect(375, 1980, 3495, 2175));
    MsTscAx1->hide();
    MsTscAx2 = module_.services.makeRemoteDesktop(this);
    MsTscAx2->setGeometry(platform::twipsRect(390, 4215, 3495, 2175));
    MsTscAx2->hide();

    Label4 = new QLabel(StatusStarting, this);
    Label4->setGeometry(platform::twipsRect(1395, 780, 11790, 525));
    Label4->setFont(platform::simSun(26.25, true));
    QPalette text = Label4->palette();
    text.setColor(QPalette::WindowText, platform::highlightTextColour());
    Label4->setPalette(text);
    Label4->hide();
    MsTscAx1->raise();

    Timer1 = new QTimer(this);
    Timer1->setInterval(100);
    connect(Timer1, &QTimer::timeout, this, &frmmain::Timer1_Timer);
    logonWait_ = new QTimer(this);
    logonWait_->setSingleShot(true);
    connect(logonWait_, &QTimer::timeout, this, &frmmain::showWithoutLogon);

    using Control = rdp::RemoteDesktopControl;
    connect(MsTscAx2, &Control::OnConnecting, this, &frmmain::MsTscAx2_OnConnecting);
    connect(MsTscAx2, &Control::OnConnected, this, &frmmain::MsTscAx2_OnConnected);
    connect(MsTscAx2, &Control::OnDisconnected, this, &frmmain::MsTscAx2_OnDisconnected);
    connect(MsTscAx1, &Control::OnConnecting, this, &frmmain::MsTscAx1_OnConnecting);
    connect(MsTscAx1, &Control::OnConnected, this, &frmmain::MsTscAx1_OnConnected);
    connect(MsTscAx1, &Control::OnLoginComplete, this, &frmmain::MsTscAx1_OnLoginComplete);
    connect(MsTscAx1, &Control::OnDisconnected, this, &frmmain::MsTscAx1_OnDisconnected);
    connect(MsTscAx1, &Control::OnFatalError, this, &frmmain::MsTscAx1_OnFatalError);
}

bool frmmain::event(QEvent* event)
{
    // The set-up runs when the window first becomes the program's active window. The only
    // other window that can be active after that is the time-limit notice, and while it is
    // open the set-up does nothing; switching back from another program is no activation.
    if (event->type() == QEvent::WindowActivate && !activatedBefore_) {
        activatedBefore_ = true;
        const bool handled = QWidget::event(event);
        Form_Activate();
        return handled;
    }
    return QWidget::event(event);
}

void frmmain::closeEvent(QCloseEvent* event)
{
    event->accept();
    module_.services.desktop.endProgram();
}

QRect frmmain::sessionRect(const QRect& taskbar) const
{
    // The window system already keeps the client area clear of its panels; a taskbar along
    // the bottom of the screen is taken off only where it still covers the client area.
    int sessionHeight = height();
    if (taskbar.top() > 0) {
        sessionHeight = std::clamp(taskbar.top() - mapToGlobal(QPoint(0, 0)).y(), 0, height());
    }
    return QRect(0, 0, width(), sessionHeight);
}

void frmmain::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // Once placed, the session follows the window (restored, maximised, resized); a session
    // smaller than the remote desktop shows scroll bars.
    if (nonScriptable_) {
        MsTscAx1->setGeometry(sessionRect(module_.services.desktop.taskbarRect()));
    }
}

void frmmain::placeStatusLabel()
{
    const QScreen* screen = this->screen();
    const int screenHeight = screen ? screen->geometry().height() : height();
    Label4->setGeometry(platform::pixels(800), screenHeight / 3, width(), Label4->height());
    Label4->show();
}

void frmmain::setStatus(const QString& text)
{
    Label4->setText(text);
    qCDebug(lcSession).noquote() << "status" << text;
}

void frmmain::Form_Activate()
{
    if (module_.SessionClosing) {
        return;
    }
    MsTscAx2->setGeometry(0, 0, width(), height());
    MsTscAx2->Server = module_.ServerAddress;
    MsTscAx2->ProbeOnly = true;
    placeStatusLabel();
    if (!module_.UseMainServer) {
        MsTscAx2->AdvancedSettings2.RDPPort = BackupServerPort;
        Timer1->start();
    } else {
        MsTscAx2->AdvancedSettings2.RDPPort = NormalServerPort;
    }
    MsTscAx2->Connect();
    setWindowTitle(TitleText + MsTscAx1->Version().left(3));
    MsTscAx2->hide();
}

void frmmain::ConnectSession()
{
    const QRect taskbar = module_.services.desktop.taskbarRect();
    if (module_.SessionClosing) {
        return;
    }
    MsTscAx1->setGeometry(sessionRect(taskbar));
    placeStatusLabel();
    nonScriptable_ = MsTscAx1;
    MsTscAx1->Server = module_.ServerAddress;
    MsTscAx1->UserName =
        AccountStem() + platform::programName(module_.services.desktop.programFilePath()).right(3);
    nonScriptable_->setClearTextPassword(AccountPassword);
    MsTscAx1->AdvancedSettings2.RedirectPrinters = true;
    MsTscAx1->AdvancedSettings2.RedirectDrives = true;
    MsTscAx1->AdvancedSettings2.RedirectPorts = true;
    if (!module_.UseMainServer) {
        MsTscAx1->AdvancedSettings2.RDPPort = BackupServerPort;
        MsTscAx1->SecuredSettings2.StartProgram = StartProgram;
        Timer1->start();
    } else {
        MsTscAx1->AdvancedSettings2.RDPPort = NormalServerPort;
        MsTscAx1->SecuredSettings2.StartProgram = StartProgram;
    }
    // The launcher's and the status texts' glyphs are drawn and cached by now: the font files'
    // pages go back before the session's connection takes its memory.
    platform::releaseFontPages();
    MsTscAx1->Connect();
    MsTscAx1->hide();
}

void frmmain::MsTscAx2_OnConnecting()
{
    setStatus(StatusConnecting);
}

void frmmain::MsTscAx2_OnConnected()
{
    probeConnected_ = true;
    MsTscAx2->RequestClose();
    ConnectSession();
    MsTscAx2->hide();
}

void frmmain::MsTscAx2_OnDisconnected(qint32 discReason)
{
    MsTscAx2->RequestClose();
    if (discReason == ReasonSocketConnectFailed) {
        tell(NetworkCutPolite);
        module_.services.desktop.endProgram();
    } else if (discReason == ReasonHostNotFound) {
        tell(NetworkUnreachable);
        module_.services.desktop.endProgram();
    } else if (discReason == rdp::ReasonServerCertificateRefused) {
        tell(certificateRefused());
        module_.services.desktop.endProgram();
    } else if (discReason == rdp::ReasonClientLibraryMissing) {
        tell(clientLibraryMissing());
        module_.services.desktop.endProgram();
    } else if (!probeConnected_) {
        // Failed before it ever reached the server: waiting on would show the connecting
        // text for ever.
        tell(QStringLiteral("无法连接到服务器（原因代码 %1）,请稍后再运行程序,或选择其它线路进入!")
                 .arg(discReason));
        module_.services.desktop.endProgram();
    }
}

void frmmain::MsTscAx1_OnConnecting()
{
    setStatus(StatusConnecting);
}

void frmmain::MsTscAx1_OnConnected()
{
    setStatus(StatusVerifying);
    logonWait_->start(rdp::logonWait());
}

void frmmain::showWithoutLogon()
{
    // The user sees the server's own screen; the configuration is kept only for a login that
    // the server confirmed.
    MsTscAx1->show();
    qCDebug(lcSession) << "session shown without a logon signal";
}

void frmmain::MsTscAx1_OnLoginComplete()
{
    logonWait_->stop();
    setStatus(StatusLoggedIn);
    const QString failure = saveWorkingConfiguration();
    MsTscAx1->show();
    qCDebug(lcSession) << "session shown";
    if (!failure.isEmpty()) {
        // The session goes on; only the configuration for the next start was not kept.
        tell(QStringLiteral(
                 "本次登录的配置没有保存成功：%1。\n系统可以继续使用，下次启动时可能需要重新配置。")
                 .arg(failure));
    }
}

QString frmmain::saveWorkingConfiguration()
{
    const settings::clstxt store(module_.services.drives);
    const bool onD = module_.HasDriveD;
    QString failure;
    const auto save = [&](const QString& path, const QString& text) {
        try {
            store.txtwrite(path, text);
        } catch (const RuntimeError& error) {
            if (failure.isEmpty()) {
                failure =
                    QStringLiteral("%1（错误号 %2）").arg(error.description()).arg(error.number());
            }
        }
    };
    save(settings::idFile(onD), module_.MachineNumber);
    save(settings::backupIdFile(onD), module_.MachineNumber);
    save(settings::lineFile(onD), module_.LineCode);
    return failure;
}

void frmmain::MsTscAx1_OnDisconnected(qint32 discReason)
{
    MsTscAx1->RequestClose();
    if (discReason == ReasonSocketConnectFailed) {
        tell(NetworkCutPlain);
    } else if (discReason == ReasonHostNotFound) {
        tell(NetworkUnreachable);
    } else if (discReason == rdp::ReasonServerCertificateRefused) {
        tell(certificateRefused());
    }
    module_.services.desktop.endProgram();
}

void frmmain::MsTscAx1_OnFatalError(qint32)
{
    MsTscAx1->RequestClose();
    module_.services.desktop.endProgram();
}

void frmmain::Timer1_Timer()
{
    const QDateTime now = module_.services.clock.now();
    const qint64 minutes = toMinute(module_.BackupLoginTime).secsTo(toMinute(now)) / 60;
    if (minutes > 50 && !module_.UseMainServer) {
        Timer1->stop();
        module_.SessionClosing = true;
        module_.showFrmExitMsg();
    }
}

void frmmain::tell(const QString& prompt)
{
    module_.services.boxes.show(notice(prompt, NoticeTitle));
}

} // namespace tclink::session
