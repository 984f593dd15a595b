#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace tclink::rdp {

// What covers the session while it logs on again after a network loss: the last picture,
// dimmed, and in the middle a notice with the attempt and a button that gives up.
class ReconnectNotice : public QWidget {
    Q_OBJECT
public:
    explicit ReconnectNotice(QWidget* parent);

    // Covers the parent (raised above its other children) and shows the attempt, counted
    // from 1, of `attempts`.
    void showAttempt(int attempt, int attempts);

    QLabel* message() const { return message_; }
    QLabel* attempt() const { return attempt_; }
    QPushButton* quitButton() const { return quit_; }

signals:
    void quitRequested();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* message_;
    QLabel* attempt_;
    QPushButton* quit_;
};

inline const QString ReconnectingText = QStringLiteral("网络连接中断，正在重新连接……");
inline const QString ReconnectQuitText = QStringLiteral("退出");
// The attempt line: "第 N 次，共 M 次".
QString reconnectAttemptText(int attempt, int attempts);

} // namespace tclink::rdp
