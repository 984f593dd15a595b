// tclink-hostile-drive-server: the demo server (same options, same screen) with a device channel
// that attacks the drives the client shares. On every drive it tries, one request after the other
// (create, write, close), to create a file in the user's home, to overwrite ~/.bashrc, to replace
// the per-user copy of the program and to plant an autostart entry (the paths they have when the
// drive is the home folder), to climb out with "..\" paths and with a path that has no leading
// separator (FreeRDP joins it to the drive's folder as text), and to write through links that may
// lie in the drive (home-link, bashrc-link, dangling-link, hard-bashrc). Last it writes
// \from-server.txt, which must arrive. Each attempt goes to stderr as one line
// "attack drive=NAME path=PATH create=STATUS write=STATUS" (hexadecimal NTSTATUS; "-" when not
// tried), then "attack done".

#include "devices.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <freerdp/channels/rdpdr.h>
#include <winpr/file.h>

namespace {

struct Attempt {
    std::string_view path;
    std::string_view content;
};

constexpr std::string_view payload = "echo hostile server was here\n";

constexpr Attempt attempts[] = {
    {"\\pwned-home.txt", payload},
    {"\\.bashrc", payload},
    {"\\.local\\lib\\tclink\\tclink", "#!/bin/sh\necho replaced\n"},
    {"\\.config\\autostart\\pwned.desktop", "[Desktop Entry]\nExec=/bin/false\n"},
    {"\\..\\pwned-parent.txt", payload},
    {"\\..\\..\\..\\..\\.bashrc", payload},
    {"/../pwned-slash.txt", payload},
    {"pwned-sibling.txt", payload},
    {"\\home-link\\pwned-link.txt", payload},
    {"\\bashrc-link", payload},
    {"\\dangling-link", payload},
    {"\\hard-bashrc", payload},
    {"\\from-server.txt", "from the server\n"},
};

class Writer {
public:
    explicit Writer(std::uint32_t deviceId, std::uint32_t fileId, std::uint32_t completionId,
                    std::uint32_t major)
    {
        u16(RDPDR_CTYP_CORE).u16(PAKID_CORE_DEVICE_IOREQUEST);
        u32(deviceId).u32(fileId).u32(completionId).u32(major).u32(0);
    }
    Writer& u16(std::uint32_t v) { return bytes(v, 2); }
    Writer& u32(std::uint32_t v) { return bytes(v, 4); }
    Writer& u64(std::uint64_t v) { return bytes(v, 8); }
    Writer& zeros(std::size_t n)
    {
        pdu_.insert(pdu_.end(), n, 0);
        return *this;
    }
    Writer& data(std::string_view text)
    {
        pdu_.insert(pdu_.end(), text.begin(), text.end());
        return *this;
    }
    demo::Pdu take() { return std::move(pdu_); }

private:
    Writer& bytes(std::uint64_t v, int n)
    {
        for (int i = 0; i < n; ++i) {
            pdu_.push_back(std::uint8_t(v >> (8 * i)));
        }
        return *this;
    }
    demo::Pdu pdu_;
};

class Attack : public demo::DriveVisitor {
public:
    std::vector<demo::Pdu> announced(const std::vector<demo::AnnouncedDrive>& drives) override
    {
        drives_ = drives;
        return {create()};
    }

    std::vector<demo::Pdu> completed(std::uint32_t completionId, std::uint32_t ioStatus,
                                     std::span<const std::uint8_t> output) override
    {
        if (completionId != completionId_ || drive_ >= drives_.size()) {
            return {};
        }
        switch (stage_) {
        case Stage::Create:
            createStatus_ = ioStatus;
            if (ioStatus != 0 || output.size() < 4) {
                return next();
            }
            fileId_ = std::uint32_t(output[0]) | std::uint32_t(output[1]) << 8 |
                      std::uint32_t(output[2]) << 16 | std::uint32_t(output[3]) << 24;
            stage_ = Stage::Write;
            return {request(IRP_MJ_WRITE)
                        .u32(std::uint32_t(attempt().content.size()))
                        .u64(0)
                        .zeros(20)
                        .data(attempt().content)
                        .take()};
        case Stage::Write:
            writeStatus_ = ioStatus;
            stage_ = Stage::Close;
            return {request(IRP_MJ_CLOSE).zeros(32).take()};
        case Stage::Close:
            return next();
        }
        return {};
    }

private:
    enum class Stage { Create, Write, Close };

    const Attempt& attempt() const { return attempts[index_]; }

    Writer request(std::uint32_t major)
    {
        return Writer(drives_[drive_].id, stage_ == Stage::Create ? 0 : fileId_, ++completionId_,
                      major);
    }

    demo::Pdu create()
    {
        stage_ = Stage::Create;
        createStatus_ = writeStatus_ = std::nullopt;
        std::u16string path;
        for (const char c : attempt().path) {
            path += char16_t(c);
        }
        path += u'\0';
        Writer w = request(IRP_MJ_CREATE);
        w.u32(GENERIC_READ | GENERIC_WRITE).u64(0).u32(FILE_ATTRIBUTE_NORMAL);
        w.u32(FILE_SHARE_READ | FILE_SHARE_WRITE).u32(FILE_OVERWRITE_IF);
        w.u32(FILE_NON_DIRECTORY_FILE).u32(std::uint32_t(path.size() * 2));
        for (const char16_t c : path) {
            w.u16(c);
        }
        return w.take();
    }

    std::vector<demo::Pdu> next()
    {
        const auto status = [](const std::optional<std::uint32_t>& s) {
            char text[16] = "-";
            if (s) {
                std::snprintf(text, sizeof(text), "0x%08X", unsigned(*s));
            }
            return std::string(text);
        };
        std::fprintf(stderr, "attack drive=%s path=%s create=%s write=%s\n",
                     drives_[drive_].name.c_str(), std::string(attempt().path).c_str(),
                     status(createStatus_).c_str(), status(writeStatus_).c_str());
        if (++index_ == std::size(attempts)) {
            index_ = 0;
            ++drive_;
        }
        if (drive_ == drives_.size()) {
            std::fprintf(stderr, "attack done\n");
            std::fflush(stderr);
            return {};
        }
        return {create()};
    }

    std::vector<demo::AnnouncedDrive> drives_;
    std::size_t drive_ = 0;
    std::size_t index_ = 0;
    Stage stage_ = Stage::Create;
    std::uint32_t completionId_ = 0;
    std::uint32_t fileId_ = 0;
    std::optional<std::uint32_t> createStatus_;
    std::optional<std::uint32_t> writeStatus_;
};

[[maybe_unused]] const bool installed = [] {
    demo::installDriveVisitor([] { return std::make_unique<Attack>(); });
    return true;
}();

} // namespace
