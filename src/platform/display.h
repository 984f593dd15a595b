#pragma once

namespace tclink::platform {

// Whether the windows can be shown.
enum class DisplayCheck { Available, NoDisplay, NoXwayland };

// Chooses the window system, before the application object exists, and says whether the
// windows can be shown there (Qt aborts the process when its platform finds no display).
// The program runs on X11: in a Wayland session it runs through Xwayland, whatever Qt would
// pick, since what it asks of the window system (XKB's lock state, X key codes, a window above
// the others or off the taskbar) is X11's. A platform other than X11 or Wayland named in
// QT_QPA_PLATFORM (offscreen) is left to Qt.
DisplayCheck prepareDisplay();

// The one line printed when there is no display.
inline constexpr const char* NoDisplayMessage =
    "tclink：没有可用的图形显示（DISPLAY），请在桌面会话中启动本程序。\n";

// The one line printed in a Wayland session without Xwayland.
inline constexpr const char* NoXwaylandMessage =
    "tclink：Wayland 桌面中没有可用的 Xwayland（DISPLAY），本程序需要 Xwayland 才能运行，"
    "请安装 Xwayland 或改用 X11 会话。\n";

} // namespace tclink::platform
