#pragma once

#include <QLoggingCategory>

namespace tclink::rdp {

// FreeRDP's own warnings and errors; off unless QT_LOGGING_RULES enables tclink.rdp.
Q_DECLARE_LOGGING_CATEGORY(lcRdp)

// Takes FreeRDP's log (WinPR's WLog) off the terminal: its warnings and errors go to lcRdp.
// With WLOG_LEVEL in the environment the user asked for FreeRDP's own log, and it stays as
// WinPR sets it up. Call once, before the first connection.
void routeFreeRdpLog();

} // namespace tclink::rdp
