#pragma once

class QCoreApplication;

namespace tclink::platform {

// The program's answer to whoever started it and watches it come up (an update that has just
// installed it, Desktop::startWatched): when TCLINK_STARTED_FD names a pipe, one byte goes
// there once the program's first window is on screen, and the pipe is closed. The variable
// is taken out of the environment and the descriptor is not passed on to programs this one
// starts.
void reportFirstWindow(QCoreApplication& application);

} // namespace tclink::platform
