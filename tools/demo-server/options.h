#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace demo {

struct Endpoint {
    std::string address;
    std::uint16_t port = 0;

    std::string text() const { return address + ":" + std::to_string(port); }
};

struct Options {
    std::vector<Endpoint> endpoints;
    std::string user = "7wobnekcuhink";
    std::string password = "hodrafkez";
    std::optional<std::chrono::milliseconds> sessionLength;
    std::optional<std::chrono::milliseconds> dropAfter;
    std::optional<std::chrono::milliseconds> freezeAfter;
    bool freezeAtLicensing = false;
    bool logonNotice = true;      // the Save Session Info logon notification
    bool userLoggedOn = true;     // rdpdr's "user logged on"
    bool offerClipboard = false;  // announce the demo's clipboard (text and image) at logon
    bool silentClipboard = false; // never answer the client's clipboard data requests
    std::optional<std::chrono::milliseconds> clipboardDelay; // answer them this much later
    int toneHz = 440; // played through rdpsnd at logon; 0: none
    std::string reportPath;
    bool help = false;
};

// The endpoints of the two lines, used when no --listen is given.
std::vector<Endpoint> defaultEndpoints();

// Parses the arguments after the program name; returns the options or a message for the user.
std::variant<Options, std::string> parseOptions(const std::vector<std::string>& args);

std::string usage();

} // namespace demo
