#include "report.h"

namespace demo {

std::string percentEncode(std::string_view text)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || c == '%' || c == '=') {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

Report::Report(const std::string& path) : path_(path)
{
    if (!path.empty()) {
        file_.reset(std::fopen(path.c_str(), "a"));
    }
}

void Report::write(std::string_view event, const Fields& fields)
{
    if (!file_) {
        return;
    }
    std::string line(event);
    for (const auto& [key, value] : fields) {
        line += ' ';
        line += key;
        line += '=';
        line += percentEncode(value);
    }
    line += '\n';
    const std::lock_guard lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), file_.get());
    std::fflush(file_.get());
}

} // namespace demo
