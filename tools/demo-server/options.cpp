#include "options.h"

#include <arpa/inet.h>
#include <charconv>

namespace demo {

namespace {

std::optional<long long> parseNumber(const std::string& text, long long min, long long max)
{
    long long value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || value < min || value > max) {
        return std::nullopt;
    }
    return value;
}

// Only loopback addresses (127.0.0.0/8) are served: the server is a stand-in for tests.
std::variant<Endpoint, std::string> parseEndpoint(const std::string& text)
{
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) {
        return "--listen needs ADDR:PORT, got \"" + text + "\"";
    }
    Endpoint endpoint{text.substr(0, colon), 0};
    in_addr address{};
    if (inet_pton(AF_INET, endpoint.address.c_str(), &address) != 1 ||
        (ntohl(address.s_addr) >> 24) != 127) {
        return "--listen takes a loopback IPv4 address (127.x.y.z), got \"" + endpoint.address +
               "\"";
    }
    const auto port = parseNumber(text.substr(colon + 1), 1, 65535);
    if (!port) {
        return "bad port in \"" + text + "\"";
    }
    endpoint.port = static_cast<std::uint16_t>(*port);
    return endpoint;
}

} // namespace

std::vector<Endpoint> defaultEndpoints()
{
    return {{"127.0.0.1", 7011}, {"127.0.0.1", 7190}, {"127.0.0.2", 7011}, {"127.0.0.2", 7190}};
}

std::variant<Options, std::string> parseOptions(const std::vector<std::string>& args)
{
    Options options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name == "--help" || name == "-h") {
            options.help = true;
            continue;
        }
        if (name == "--no-logon-notice") {
            options.logonNotice = false;
            options.userLoggedOn = false;
            continue;
        }
        if (name == "--freeze-at-licensing") {
            options.freezeAtLicensing = true;
            continue;
        }
        if (name == "--logged-on-only") {
            options.logonNotice = false;
            options.userLoggedOn = true;
            continue;
        }
        if (name == "--offer-clipboard" || name == "--silent-clipboard") {
            (name == "--offer-clipboard" ? options.offerClipboard : options.silentClipboard) = true;
            continue;
        }
        if (i + 1 == args.size()) {
            return name.starts_with("--") ? name + " needs a value" : "unknown argument " + name;
        }
        const std::string& value = args[++i];
        const auto duration = [&](long long unit) -> std::optional<std::chrono::milliseconds> {
            const auto number = parseNumber(value, 0, 24LL * 3600 * 1000);
            if (!number) {
                return std::nullopt;
            }
            return std::chrono::milliseconds(*number * unit);
        };
        if (name == "--listen") {
            auto endpoint = parseEndpoint(value);
            if (auto* error = std::get_if<std::string>(&endpoint)) {
                return *error;
            }
            options.endpoints.push_back(std::get<Endpoint>(endpoint));
        } else if (name == "--user") {
            options.user = value;
        } else if (name == "--password") {
            options.password = value;
        } else if (name == "--report") {
            options.reportPath = value;
        } else if (name == "--tone-hz") {
            const auto hz = parseNumber(value, 0, 20000);
            if (!hz) {
                return name + " needs a whole number from 0 to 20000, got \"" + value + "\"";
            }
            options.toneHz = int(*hz);
        } else if (name == "--session-seconds" || name == "--drop-after-ms" ||
                   name == "--freeze-after-ms" || name == "--clipboard-delay-ms") {
            const auto length = duration(name == "--session-seconds" ? 1000 : 1);
            if (!length) {
                return name + " needs a non-negative whole number, got \"" + value + "\"";
            }
            (name == "--session-seconds"   ? options.sessionLength
             : name == "--drop-after-ms"   ? options.dropAfter
             : name == "--freeze-after-ms" ? options.freezeAfter
                                           : options.clipboardDelay) = length;
        } else {
            return "unknown argument " + name;
        }
    }
    if (options.endpoints.empty()) {
        options.endpoints = defaultEndpoints();
    }
    return options;
}

std::string usage()
{
    return "usage: tclink-demo-server [--listen ADDR:PORT]... [--user NAME] [--password WORD]\n"
           "           [--report PATH] [--session-seconds N] [--no-logon-notice]\n"
           "           [--logged-on-only] [--drop-after-ms N] [--freeze-after-ms N]\n"
           "           [--freeze-at-licensing] [--tone-hz N]\n"
           "           [--offer-clipboard] [--silent-clipboard] [--clipboard-delay-ms N]\n"
           "Without --listen it serves 127.0.0.1 and 127.0.0.2 on ports 7011 and 7190.\n";
}

} // namespace demo
