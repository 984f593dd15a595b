#include "platform/message_boxes.h"

#include "platform/desktop.h"
#include "platform/runtime_error.h"

#include <QAbstractButton>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QTimer>

namespace tclink::platform {

MessageBox notice(const QString& prompt, const QString& title)
{
    return MessageBox{prompt, title, MessageBox::Buttons::Ok, MessageBox::Icon::Information,
                      MessageBox::Answer::Ok};
}

// Every box shown, for diagnosis; off unless QT_LOGGING_RULES enables it.
Q_LOGGING_CATEGORY(lcBoxes, "tclink.boxes", QtWarningMsg)

MessageBox errorNotice(const RuntimeError& error)
{
    return notice(error.description(), QString::number(error.number()));
}

MessageBox::Answer QtMessageBoxes::show(const MessageBox& box)
{
    qCDebug(lcBoxes).noquote() << "box" << box.title << "|" << box.prompt;
    QMessageBox dialog;
    dialog.setWindowTitle(box.title);
    dialog.setText(box.prompt);
    dialog.setIcon(box.icon == MessageBox::Icon::Warning ? QMessageBox::Warning
                                                         : QMessageBox::Information);
    if (box.buttons == MessageBox::Buttons::YesNo) {
        dialog.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        dialog.setDefaultButton(box.defaultButton == MessageBox::Answer::No ? QMessageBox::No
                                                                            : QMessageBox::Yes);
        dialog.button(QMessageBox::Yes)->setText(QStringLiteral("是(&Y)"));
        dialog.button(QMessageBox::No)->setText(QStringLiteral("否(&N)"));
    } else {
        dialog.setStandardButtons(QMessageBox::Ok);
        dialog.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    }
    if (box.title.isEmpty()) {
        // Runs once the box is shown, when its title bar exists.
        QTimer::singleShot(0, &dialog, [&dialog] { clearWindowTitle(&dialog); });
    }
    switch (dialog.exec()) {
    case QMessageBox::Yes:
        return MessageBox::Answer::Yes;
    case QMessageBox::No:
        return MessageBox::Answer::No;
    default:
        // Closing a Yes/No box by other means is not possible on Windows; treat it as No.
        return box.buttons == MessageBox::Buttons::YesNo ? MessageBox::Answer::No
                                                         : MessageBox::Answer::Ok;
    }
}

} // namespace tclink::platform
