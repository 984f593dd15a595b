#pragma once

#include <QtGlobal>

#include <vector>

#include "platform/keyboard_locks.h"

namespace tclink::rdp {

// RDP's synchronize-event flags for the local toggle keys.
quint32 syncFlags(const platform::ToggleKeys& keys);

// The keys the control sent down and has not yet released, by RDP scan code (with the
// extended-key flag), so that losing the focus can release them on the server.
class PressedKeys {
public:
    void note(bool down, quint32 rdpScancode);
    // The keys still down, in the order they went down; afterwards none is.
    std::vector<quint32> takeAll();

private:
    std::vector<quint32> down_;
};

} // namespace tclink::rdp
