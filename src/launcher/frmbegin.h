#pragma once

#include <QWidget>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;

namespace tclink {
class Module1;
}

namespace tclink::launcher {

// The launcher: configures the machine number, picks the line and the backup server, logs in.
// It shows one of two faces: not configured (guidance, entry box, configure and restore
// buttons) or configured (line choice, machine number, login enabled). A timer recomputes
// the face from the id file twice a second.
class frmbegin : public QWidget {
    Q_OBJECT
public:
    explicit frmbegin(Module1& module);

    // True when an id line is stored (configured face shown), false otherwise.
    bool CheckConfiguration();

    void Command1_Click(); // login
    void Command2_Click(); // exit
    void Command3_Click(); // configure
    void Command4_Click(); // restore
    void Timer1_Timer();

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QGroupBox* Frame1;
    QGroupBox* Frame3;
    QRadioButton* Option1;
    QRadioButton* Option2;
    QRadioButton* Option3;
    QCheckBox* Check1;
    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3;
    QPushButton* Command4;
    QLineEdit* Text1;
    QTimer* Timer1;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Form_Load();
    void restore();
    // Writes the id file; tells the user when that fails. False on failure.
    bool writeIdFile(const QString& idLine);
    QString readFirstNonBlank(const QString& onD, const QString& onC) const;

    Module1& module_;
    bool painted_ = false;
};

// The guidance text shown while no machine number is configured.
QString guidanceText();
// "版本：" + the edition's part from its first non-ASCII character + " V2011 " + the version.
QString versionLabel(const QString& editionName, int major, int minor, int revision);

} // namespace tclink::launcher
