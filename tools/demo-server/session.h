#pragma once

#include "certificate.h"
#include "options.h"
#include "report.h"

#include <freerdp/peer.h>

namespace demo {

struct ServerConfig {
    const Options& options;
    const Certificate& certificate;
    Report& report;
    HANDLE stopEvent; // set when the server ends
};

// Serves one client on the calling thread until it leaves, is logged off, is dropped, or the
// server ends; frees the peer. `id` numbers the sessions in the report.
void serveClient(freerdp_peer* peer, int id, const ServerConfig& config);

} // namespace demo
