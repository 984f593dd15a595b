#pragma once

#include <string>

#include <freerdp/settings.h>

namespace tclink::rdp {

// The sound system that plays the session's sound here: "pulse" when a PulseAudio server
// answers, else "alsa" when ALSA's default device opens, else empty (no sound system).
std::string soundSystem();

// Has FreeRDP's sound channel (static and dynamic) play through that system; with none, the
// settings stay as they are and the server is told that no sound is wanted.
bool enableSound(rdpSettings* settings, const std::string& system);

} // namespace tclink::rdp
