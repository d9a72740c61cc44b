#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace talviren::web {

// Where the web server listens: an IP address (never a host name) and a port.
struct HttpAddress {
    std::string host = "127.0.0.1"; // IPv4 or IPv6, without brackets
    std::uint16_t port = 0;

    bool ipv6() const { return host.find(':') != std::string::npos; }
    // "127.0.0.1:8080", "[::]:8080".
    std::string text() const;
};

// Reads [ADDRESS:]PORT as --http takes it: "8080" (127.0.0.1 only), "0.0.0.0:8080",
// "[::]:8080". Nothing, with `error` (one line after the option's name), for anything else.
std::optional<HttpAddress> parseHttpAddress(std::string_view text, std::string& error);

} // namespace talviren::web
