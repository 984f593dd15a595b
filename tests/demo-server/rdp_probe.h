#pragma once

#include <QRgb>
#include <chrono>
#include <functional>
#include <string>

// A minimal FreeRDP client for testing the demo server: connects, keeps the software-painted
// screen, and records what the server sent (logon notice, heartbeats, error info).
struct ProbeSettings {
    std::string host = "127.0.0.1";
    int port = 0;
    std::string user = "7wobnekcuhink";
    std::string password = "hodrafkez";
    std::string shell;
    int width = 800;
    int height = 600;
    bool redirectDrive = false; // offers one drive over the device-redirection channel
};

class RdpProbe {
public:
    explicit RdpProbe(const ProbeSettings& settings);
    ~RdpProbe();
    RdpProbe(const RdpProbe&) = delete;
    RdpProbe& operator=(const RdpProbe&) = delete;

    bool connect();
    // Handles the server's traffic until `done` holds (true) or the time is up or the server
    // closed the connection (false).
    bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);
    void pumpFor(std::chrono::milliseconds time)
    {
        pumpUntil([] { return false; }, time);
    }
    void click(int x, int y);
    // The screen's pixel as 0xRRGGBB.
    QRgb pixel(int x, int y) const;

    bool disconnected() const { return disconnected_; }
    bool logonNotice() const;
    int heartbeats() const;
    unsigned errorInfo() const { return errorInfo_; } // the server's error info, at the end

    struct Context; // FreeRDP's context with the probe's records

private:
    Context* context_ = nullptr;
    struct rdp_freerdp* instance_ = nullptr;
    bool disconnected_ = false;
    unsigned errorInfo_ = 0;
};
