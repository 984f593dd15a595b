#pragma once

// The differences between the FreeRDP 2 and FreeRDP 3 server libraries, in one place.

#include <string>

#include <freerdp/freerdp.h>
#include <freerdp/pointer.h>
#include <freerdp/server/cliprdr.h>
#include <freerdp/update.h>
#include <freerdp/version.h>

namespace demo::compat {

#if FREERDP_VERSION_MAJOR >= 3
using LogonIdentity = const SEC_WINNT_AUTH_IDENTITY;
using KeyCode = UINT8;
#else
using LogonIdentity = SEC_WINNT_AUTH_IDENTITY;
using KeyCode = UINT16;
#endif

// The clipboard PDUs' msgType, msgFlags and dataLen (FreeRDP 3 keeps them in a header).
template <class Pdu> auto& header(Pdu& pdu)
{
#if FREERDP_VERSION_MAJOR >= 3
    return pdu.common;
#else
    return pdu;
#endif
}

// The server's TLS certificate and key, both PEM.
bool setCertificate(rdpSettings* settings, const std::string& certificatePem,
                    const std::string& privateKeyPem);

// FreeRDP 3's server logs a client's ordinary close (end of stream) as transport errors: those
// loggers say only what is fatal. FreeRDP 2 says nothing there.
void quietOrdinaryClose();

inline void setHotSpot(POINTER_COLOR_UPDATE& pointer, UINT32 x, UINT32 y)
{
#if FREERDP_VERSION_MAJOR >= 3
    pointer.hotSpotX = UINT16(x);
    pointer.hotSpotY = UINT16(y);
#else
    pointer.xPos = x;
    pointer.yPos = y;
#endif
}

inline void setRectangleCount(BITMAP_UPDATE& update, UINT32 count)
{
#if FREERDP_VERSION_MAJOR < 3
    update.count = count;
#endif
    update.number = count;
}

} // namespace demo::compat
