#pragma once

#include <QWidget>
#include <array>

class QGroupBox;
class QLabel;
class QTimer;

namespace tclink {
class Module1;
}

namespace tclink::session {

// The notice that a backup-server session is about to end. It stays above ordinary windows,
// cannot be closed, counts down from 180 seconds and then disconnects the session and ends
// the program.
class FrmExitMsg : public QWidget {
    Q_OBJECT
public:
    explicit FrmExitMsg(Module1& module);

    void Timer1_Timer();

    QGroupBox* Frame1;
    std::array<QLabel*, 5> Label1{}; // indexes 1 to 4; there is no index 0
    QTimer* Timer1;

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void Form_Load();

    Module1& module_;
    bool watchingMinimise_ = false;
    bool minimisedSeen_ = false; // the window manager said it minimised the notice
};

} // namespace tclink::session
