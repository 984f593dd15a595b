#include "session/rdp/reconnect_notice.h"

#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/look.h"

namespace tclink::rdp {

namespace {

// The session's picture shows through at about half its brightness.
constexpr QColor dimming(0, 0, 0, 128);
constexpr QColor panelColour(242, 242, 242);
constexpr QColor textColour(0, 0, 0);

} // namespace

QString reconnectAttemptText(int attempt, int attempts)
{
    return QStringLiteral("第 %1 次，共 %2 次").arg(attempt).arg(attempts);
}

ReconnectNotice::ReconnectNotice(QWidget* parent) : QWidget(parent)
{
    hide();
    auto* panel = new QFrame(this);
    panel->setFrameShape(QFrame::Box);
    panel->setAutoFillBackground(true);
    QPalette colours = panel->palette();
    colours.setColor(QPalette::Window, panelColour);
    colours.setColor(QPalette::WindowText, textColour);
    colours.setColor(QPalette::ButtonText, textColour);
    panel->setPalette(colours);

    message_ = new QLabel(ReconnectingText, panel);
    message_->setFont(platform::simSun(15, true));
    message_->setAlignment(Qt::AlignCenter);
    attempt_ = new QLabel(panel);
    attempt_->setFont(platform::simSun(12));
    attempt_->setAlignment(Qt::AlignCenter);
    quit_ = new QPushButton(ReconnectQuitText, panel);
    quit_->setFont(platform::simSun(12));
    quit_->setMinimumWidth(96);
    connect(quit_, &QPushButton::clicked, this, &ReconnectNotice::quitRequested);

    auto* inner = new QVBoxLayout(panel);
    inner->setContentsMargins(36, 24, 36, 20);
    inner->setSpacing(14);
    inner->addWidget(message_);
    inner->addWidget(attempt_);
    inner->addWidget(quit_, 0, Qt::AlignHCenter);

    auto* outer = new QVBoxLayout(this);
    outer->addStretch();
    outer->addWidget(panel, 0, Qt::AlignCenter);
    outer->addStretch();
}

void ReconnectNotice::showAttempt(int attempt, int attempts)
{
    attempt_->setText(reconnectAttemptText(attempt, attempts));
    setGeometry(parentWidget()->rect());
    raise();
    show();
}

void ReconnectNotice::paintEvent(QPaintEvent*)
{
    QPainter(this).fillRect(rect(), dimming);
}

} // namespace tclink::rdp
