#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace demo {

using Pdu = std::vector<std::uint8_t>;

struct Redirections {
    bool drives = false;
    bool printers = false;
    bool ports = false; // serial or parallel
};

struct AnnouncedDrive {
    std::uint32_t id = 0;
    std::string name; // the preferred DOS name, e.g. "C"
};

// What a server does with the client's drives once they are announced. The demo server opens
// none; a test peer built from it installs a visitor that does (installDriveVisitor).
class DriveVisitor {
public:
    virtual ~DriveVisitor() = default;
    // The client announced these drives; returns the first I/O requests.
    virtual std::vector<Pdu> announced(const std::vector<AnnouncedDrive>& drives) = 0;
    // The client completed a request: its status and the output after the completion's header.
    // Returns the next requests.
    virtual std::vector<Pdu> completed(std::uint32_t completionId, std::uint32_t ioStatus,
                                       std::span<const std::uint8_t> output) = 0;
};

// Every session made afterwards gets a visitor of its own from `make`.
void installDriveVisitor(std::function<std::unique_ptr<DriveVisitor>()> make);

// The server's side of the device-redirection channel ("rdpdr") up to the client's device list:
// announce, name, capabilities, client id confirm, user logged on, device list announce. No
// device is ever opened, unless a drive visitor is installed; the server learns which kinds of
// device the client offers.
class DeviceRedirection {
public:
    // With userLoggedOn the server tells the client that a user logged on, so that it announces
    // its drives too (clients hold drives back until then).
    explicit DeviceRedirection(bool userLoggedOn);

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
    std::unique_ptr<DriveVisitor> visitor_;
    bool visited_ = false;
};

} // namespace demo
