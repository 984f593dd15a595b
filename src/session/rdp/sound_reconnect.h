#pragma once

#include <freerdp/addin.h>

namespace tclink::rdp {

// The entry point to load for the static sound channel ("rdpsnd"), whose own entry point is
// `entry`. Debian 12's FreeRDP 2 tears the channel's message queue and player thread down when
// a connection ends, but builds them only when the channel is first initialised: after a
// reconnection every sound message fails (error 1359) and the channel error ends the session.
// The returned entry point initialises the channel again before it is connected anew.
PVIRTUALCHANNELENTRY soundEntryForReconnect(PVIRTUALCHANNELENTRY entry);

} // namespace tclink::rdp
