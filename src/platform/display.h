#pragma once

namespace tclink::platform {

// Whether the windows can be shown. Qt aborts the process when its platform finds no display;
// this asks first. Platforms other than X11 (offscreen, Wayland) are left to Qt.
bool displayAvailable();

// The one line printed when there is no display.
inline constexpr const char* NoDisplayMessage =
    "tclink：没有可用的图形显示（DISPLAY），请在桌面会话中启动本程序。\n";

} // namespace tclink::platform
