#pragma once

#include <string>

namespace tclink::rdp {

// The program does not link the FreeRDP libraries: it loads them when the remote desktop is
// first needed (the start stays as quick as without them), through stubs that lazy_stubs.py
// writes at build time. Where the build links them directly (TCLINK_LAZY_FREERDP off), they are
// always there.

// Loads the FreeRDP libraries unless that is done, waiting for a load under way on another
// thread. Empty when they are loaded; else what failed, as the system says it.
const std::string& loadFreeRdp();

// Starts loading them on a thread of its own unless that has been started (or done), so that
// they are there when the session starts.
void preloadFreeRdp();

// The line for standard error when they cannot be loaded.
std::string freeRdpMissingLine(const std::string& failure);

} // namespace tclink::rdp
