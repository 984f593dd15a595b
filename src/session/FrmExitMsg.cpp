#include "session/FrmExitMsg.h"

#include "platform/desktop.h"
#include "platform/leading_number.h"
#include "platform/look.h"
#include "session/frmmain.h"
#include "session/rdp/remote_desktop_control.h"
#include "startup/Module1.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTimer>

namespace tclink::session {

using platform::twipsRect;

FrmExitMsg::FrmExitMsg(Module1& module)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowStaysOnTopHint),
      module_(module)
{
    Form_Load();
}

void FrmExitMsg::Form_Load()
{
    const QString caption = QStringLiteral("岚拓软件-备用服务器提示");
    setWindowTitle(caption);
    setWindowIcon(platform::programIcon());
    const QColor grey(242, 242, 242);
    const QColor red(255, 0, 0);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, grey);
    palette.setColor(QPalette::WindowText, red);
    setPalette(palette);
    setFixedSize(platform::pixels(6870), platform::pixels(2940));

    Frame1 = new QGroupBox(caption, this);
    Frame1->setGeometry(twipsRect(405, 165, 5985, 2490));
    Frame1->setFont(platform::simSun(9));

    const auto label = [this](int index, const QString& text, const QRect& geometry,
                              const QFont& font) {
        auto* l = new QLabel(text, Frame1);
        l->setGeometry(geometry);
        l->setFont(font);
        Label1[static_cast<size_t>(index)] = l;
        return l;
    };
    // The notice fills its box in four lines; faces that stand in for SimSun space lines more
    // widely, so the line height is set to a quarter of the box.
    const QString noticeText =
        QStringLiteral(
            "    尊敬的客户您好，备用服务器每次登录后仅能使用1小时，正常线路可能已经恢复，"
            "请于下面时间内保存退出后切换正常线路，给您带来的不便敬请谅解！详情咨询：") +
        SupportPhone;
    QLabel* notice = label(1, QString(), twipsRect(525, 660, 4980, 930), platform::simSun(10.5));
    notice->setTextFormat(Qt::RichText);
    const int lineHeight = notice->height() / 4;
    notice->setText(QStringLiteral("<div style=\"white-space:pre-wrap; line-height:%1%\">%2</div>")
                        .arg(100 * lineHeight / QFontMetrics(notice->font()).lineSpacing())
                        .arg(noticeText.toHtmlEscaped()));
    notice->setWordWrap(true);
    notice->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    const QFont big = platform::simSun(14.25, true);
    label(2, QStringLiteral("岚拓软件将在"), twipsRect(735, 1845, 1800, 285), big)->adjustSize();
    label(3, QStringLiteral("180"), twipsRect(2550, 1845, 570, 285), big)
        ->setAlignment(Qt::AlignCenter);
    label(4, QStringLiteral("秒后自动关闭！"), twipsRect(3135, 1845, 2100, 285), big)->adjustSize();

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &FrmExitMsg::Timer1_Timer);
    Timer1->start();

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->geometry().center() - rect().center());
    }
}

void FrmExitMsg::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The window system applies the window's flags when it is shown; the menu goes after that.
    platform::removeWindowMenu(this);
    if (!watchingMinimise_) {
        watchingMinimise_ = true;
        platform::watchMinimiseRequests(this, [this] {
            minimisedSeen_ = false;
            // Where no minimised state follows, the window manager minimised the notice
            // without saying so (weston 14) or ignored the request (weston 10): it is mapped
            // again, which brings it back on top of the first and costs the second a redraw.
            QTimer::singleShot(500, this, [this] {
                if (!minimisedSeen_) {
                    hide();
                    show();
                    raise();
                }
            });
        });
    }
}

void FrmExitMsg::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // A window manager may still offer to minimise the notice; it comes straight back, so the
    // countdown stays in sight.
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized)) {
        minimisedSeen_ = true;
        QTimer::singleShot(0, this, [this] {
            setWindowState(windowState() & ~Qt::WindowMinimized);
            show();
            raise();
        });
    }
}

void FrmExitMsg::closeEvent(QCloseEvent* event)
{
    // Nothing closes the notice; the countdown ends the program.
    event->ignore();
}

void FrmExitMsg::Timer1_Timer()
{
    const double left = platform::leadingNumber(Label1[3]->text());
    if (left > 0) {
        Label1[3]->setText(QString::number(left - 1, 'g', 15));
        return;
    }
    if (frmmain* session = module_.frmmain()) {
        session->MsTscAx1->Disconnect();
    }
    module_.services.desktop.endProgram();
}

} // namespace tclink::session
