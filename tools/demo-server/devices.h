#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace demo {

using Pdu = std::vector<std::uint8_t>;

struct Redirections {
    bool drives = false;
    bool printers = false;
    bool ports = false; // serial or parallel
};

// The server's side of the device-redirection channel ("rdpdr") up to the client's device list:
// announce, name, capabilities, client id confirm, user logged on, device list announce. No
// device is ever opened; the server only learns which kinds of device the client offers.
class DeviceRedirection {
public:
    // With userLoggedOn the server tells the client that a user logged on, so that it announces
    // its drives too (clients hold drives back until then).
    explicit DeviceRedirection(bool userLoggedOn) : userLoggedOn_(userLoggedOn) {}

    // The first PDU, from the server.
    Pdu serverAnnounce() const;

    // Handles one client PDU and returns the PDUs to send in answer.
    std::vector<Pdu> receive(std::span<const std::uint8_t> pdu);

    const Redirections& redirections() const { return redirections_; }

    // True once the client has sent the device list that ends the exchange. (A client without
    // devices may send none: then it never is.)
    bool settled() const { return settled_; }

private:
    bool userLoggedOn_;
    bool loggedOnSent_ = false;
    int lists_ = 0; // device lists received
    bool settled_ = false;
    Redirections redirections_;
};

} // namespace demo
