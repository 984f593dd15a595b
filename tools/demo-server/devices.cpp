#include "devices.h"

#include <freerdp/channels/rdpdr.h>
#include <freerdp/settings.h>

namespace demo {

namespace {

constexpr std::uint16_t kVersionMajor = RDPDR_VERSION_MAJOR;
constexpr std::uint16_t kVersionMinor = RDPDR_VERSION_MINOR_RDP6X;
constexpr std::uint32_t kClientId = 1;

class Writer {
public:
    explicit Writer(std::uint16_t packetId)
    {
        u16(RDPDR_CTYP_CORE);
        u16(packetId);
    }
    Writer& u16(std::uint32_t value)
    {
        for (int i = 0; i < 2; ++i) {
            pdu_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        }
        return *this;
    }
    Writer& u32(std::uint32_t value)
    {
        for (int i = 0; i < 4; ++i) {
            pdu_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        }
        return *this;
    }
    Writer& capabilityHeader(std::uint16_t type, std::uint16_t length, std::uint32_t version)
    {
        return u16(type).u16(length).u32(version);
    }
    Pdu take() { return std::move(pdu_); }

private:
    Pdu pdu_;
};

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}
    bool has(std::size_t n) const { return data_.size() - pos_ >= n; }
    std::uint32_t u16() { return take(2); }
    std::uint32_t u32() { return take(4); }
    void skip(std::size_t n) { pos_ += n; }

private:
    std::uint32_t take(std::size_t n)
    {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < n; ++i) {
            value |= std::uint32_t{data_[pos_ + i]} << (8 * i);
        }
        pos_ += n;
        return value;
    }
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
};

Pdu serverCapabilities()
{
    Writer w(PAKID_CORE_SERVER_CAPABILITY);
    w.u16(5).u16(0); // numCapabilities, padding
    w.capabilityHeader(CAP_GENERAL_TYPE, 44, GENERAL_CAPABILITY_VERSION_02);
    w.u32(0).u32(0);                         // osType, osVersion
    w.u16(kVersionMajor).u16(kVersionMinor); // protocol version
    w.u32(0xFFFF).u32(0);                    // ioCode1 (every request), ioCode2
    w.u32(RDPDR_DEVICE_REMOVE_PDUS | RDPDR_CLIENT_DISPLAY_NAME_PDU | RDPDR_USER_LOGGEDON_PDU);
    w.u32(0).u32(0).u32(0); // extraFlags1, extraFlags2, SpecialTypeDeviceCap
    w.capabilityHeader(CAP_PRINTER_TYPE, 8, 1);
    w.capabilityHeader(CAP_PORT_TYPE, 8, 1);
    w.capabilityHeader(CAP_DRIVE_TYPE, 8, DRIVE_CAPABILITY_VERSION_02);
    w.capabilityHeader(CAP_SMARTCARD_TYPE, 8, 1);
    return w.take();
}

} // namespace

Pdu DeviceRedirection::serverAnnounce() const
{
    return Writer(PAKID_CORE_SERVER_ANNOUNCE)
        .u16(kVersionMajor)
        .u16(kVersionMinor)
        .u32(kClientId)
        .take();
}

std::vector<Pdu> DeviceRedirection::receive(std::span<const std::uint8_t> pdu)
{
    Reader r(pdu);
    if (!r.has(4) || r.u16() != RDPDR_CTYP_CORE) {
        return {};
    }
    switch (r.u16()) {
    case PAKID_CORE_CLIENT_NAME:
        return {serverCapabilities(), Writer(PAKID_CORE_CLIENTID_CONFIRM)
                                          .u16(kVersionMajor)
                                          .u16(kVersionMinor)
                                          .u32(kClientId)
                                          .take()};
    case PAKID_CORE_CLIENT_CAPABILITY:
        // "User logged on" once the client has answered the capabilities: FreeRDP 3 clients
        // send no device list before it, nor any list when they have no device.
        if (userLoggedOn_ && !loggedOnSent_) {
            loggedOnSent_ = true;
            return {Writer(PAKID_CORE_USER_LOGGEDON).take()};
        }
        return {};
    case PAKID_CORE_DEVICELIST_ANNOUNCE: {
        const std::uint32_t announced = r.has(4) ? r.u32() : 0;
        ++lists_;
        for (std::uint32_t count = announced; count > 0 && r.has(20); --count) {
            const std::uint32_t type = r.u32();
            r.skip(4 + 8); // DeviceId, PreferredDosName
            const std::uint32_t dataLength = r.u32();
            if (!r.has(dataLength)) {
                break;
            }
            r.skip(dataLength);
            redirections_.drives |= type == RDPDR_DTYP_FILESYSTEM;
            redirections_.printers |= type == RDPDR_DTYP_PRINT;
            redirections_.ports |= type == RDPDR_DTYP_SERIAL || type == RDPDR_DTYP_PARALLEL;
        }
        // FreeRDP 2 clients send a first list before "user logged on" (smart cards only: empty
        // here) and their whole list after it; FreeRDP 3 clients only the latter, when not empty.
        settled_ = announced > 0 || lists_ >= 2 || !userLoggedOn_;
        return {};
    }
    default:
        return {};
    }
}

} // namespace demo
