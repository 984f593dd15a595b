#pragma once

#include <QtGlobal>

namespace tclink::rdp {

// What is known when a connection attempt or a session ends.
struct DisconnectFacts {
    quint32 lastError = 0;     // freerdp_get_last_error: (class << 16) | code
    quint32 errorInfo = 0;     // the server's error info (freerdp_error_info)
    bool connected = false;    // the connection to the server stood (PostConnect passed)
    bool localClose = false;   // our own RequestClose or Disconnect
    bool linkTimedOut = false; // the server fell silent (no heartbeat, no data)
};

// The disconnect reason code of the platform control (OnDisconnected's discReason).
qint32 disconnectReason(const DisconnectFacts& facts);

// OnFatalError's code for a failure the client library cannot recover from: a channel
// error code (CHANNEL_RC_*) or a FreeRDP last error. 0 when the failure is not fatal.
qint32 fatalErrorCode(quint32 channelError, quint32 lastError);

} // namespace tclink::rdp
