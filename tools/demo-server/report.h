#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace demo {

// Percent-encodes bytes <= 0x20, '%', '=' and >= 0x7F as %XX (upper-case hex); the rest stay.
std::string percentEncode(std::string_view text);

using Fields = std::vector<std::pair<std::string_view, std::string>>;

// The event log of --report: one line "event key=value ..." per event, appended and flushed at
// once, so a test can read it while the server runs. Without a path nothing is written.
class Report {
public:
    explicit Report(const std::string& path);

    // Returns false when the file cannot be opened (the path is kept for the message).
    bool ok() const { return path_.empty() || file_ != nullptr; }
    void write(std::string_view event, const Fields& fields);

private:
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::string path_;
    std::unique_ptr<std::FILE, Closer> file_;
    std::mutex mutex_;
};

} // namespace demo
