// tclink-broken-device-server: the demo server (same options, same screen) whose device channel
// answers the client's drives with a device I/O request cut short, which the client's device
// channel cannot read: a channel error ends the client's session.

#include "devices.h"

#include <freerdp/channels/rdpdr.h>

namespace {

class CutShort : public demo::DriveVisitor {
public:
    std::vector<demo::Pdu> announced(const std::vector<demo::AnnouncedDrive>& drives) override
    {
        // The header and the device id; the request's other 16 bytes are missing.
        const std::uint32_t id = drives.front().id;
        return {{RDPDR_CTYP_CORE & 0xFF, RDPDR_CTYP_CORE >> 8, PAKID_CORE_DEVICE_IOREQUEST & 0xFF,
                 PAKID_CORE_DEVICE_IOREQUEST >> 8, std::uint8_t(id), std::uint8_t(id >> 8),
                 std::uint8_t(id >> 16), std::uint8_t(id >> 24)}};
    }

    std::vector<demo::Pdu> completed(std::uint32_t, std::uint32_t,
                                     std::span<const std::uint8_t>) override
    {
        return {};
    }
};

[[maybe_unused]] const bool installed = [] {
    demo::installDriveVisitor([] { return std::make_unique<CutShort>(); });
    return true;
}();

} // namespace
