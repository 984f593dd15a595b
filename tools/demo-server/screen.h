#pragma once

#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>

#include "keyboard.h"

namespace demo {

// The colour of the title band across the top of each screen (rows 0 to kBandHeight - 1); the
// pixel at (2, 2) always has it, so tests can tell the screens apart.
inline constexpr QRgb kDesktopBand = qRgb(0, 84, 166);
inline constexpr QRgb kLoginFailedBand = qRgb(176, 32, 32);
inline constexpr int kBandHeight = 40;

// What the application's screen shows about the session.
struct SessionView {
    QString user;
    QString shell;
    QString workdir;
    quint16 port = 0;
    QStringList channels;
    bool drives = false;
    bool printers = false;
    bool ports = false;
    bool heartbeat = false;
    InputView input;
};

// The exit button ("退出系统") of a desktop of the given size.
QRect exitButton(QSize size);

// The customer-management application after a good login. Safe to call from any thread.
QImage renderDesktop(QSize size, const SessionView& view);

// The screen after a wrong user name or password. Safe to call from any thread.
QImage renderLoginFailed(QSize size);

} // namespace demo
