#pragma once

#include <freerdp/freerdp.h>

namespace tclink::rdp {

// Registers the add-in provider of every connection: FreeRDP's own static channels, with the
// device-redirection channel ("rdpdr") watched on its way in. When the server's "user logged
// on" message (MS-RDPEFS PAKID_CORE_USER_LOGGEDON) arrives, userLoggedOn runs with the
// connection's context, on the connection's thread, before the channel itself sees the message.
// Call once per process, before the first connection.
void registerLogonWatchingProvider(void (*userLoggedOn)(rdpContext* context));

// Forgets the channels of a connection whose context is about to be freed. Until then a
// reconnection that opens rdpdr again is watched as the first opening was.
void forgetLogonWatch(rdpContext* context);

// Whether a message arriving on rdpdr, beginning with data, is the server's "user logged on".
bool isUserLoggedOn(const BYTE* data, UINT32 length);

} // namespace tclink::rdp
