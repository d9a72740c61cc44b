#include "web/HttpAddress.h"

#include <arpa/inet.h>
#include <charconv>
#include <netinet/in.h>

namespace talviren::web {

namespace {

bool isIpAddress(const std::string& host) {
    in6_addr address{};
    return inet_pton(host.find(':') != std::string::npos ? AF_INET6 : AF_INET, host.c_str(),
                     &address) == 1;
}

} // namespace

std::string HttpAddress::text() const {
    return (ipv6() ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::optional<HttpAddress> parseHttpAddress(std::string_view text, std::string& error) {
    const std::string given(text);
    HttpAddress address;
    std::string_view portText = text;
    if (!text.empty() && text.front() == '[') {
        // An IPv6 address in brackets, as in URLs: its own colons are no port separator.
        const auto close = text.find(']');
        if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            error = "takes [ADDRESS]:PORT for IPv6, such as [::]:8080, not '" + given + "'";
            return std::nullopt;
        }
        address.host = std::string(text.substr(1, close - 1));
        portText = text.substr(close + 2);
    } else if (const auto colon = text.find(':'); colon != std::string_view::npos) {
        if (text.find(':', colon + 1) != std::string_view::npos) {
            error = "takes an IPv6 address in brackets, such as [::1]:8080, not '" + given + "'";
            return std::nullopt;
        }
        address.host = std::string(text.substr(0, colon));
        portText = text.substr(colon + 1);
    }
    unsigned port = 0;
    const auto [end, ec] =
        std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (portText.empty() || ec != std::errc() || end != portText.data() + portText.size() ||
        port < 1 || port > 65535) {
        error = "takes [ADDRESS:]PORT with a port from 1 to 65535, such as 8080 or 0.0.0.0:8080, "
                "not '" +
                given + "'";
        return std::nullopt;
    }
    if (!isIpAddress(address.host)) {
        error = "takes an IP address such as 127.0.0.1, 0.0.0.0 or [::] before the port, not '" +
                address.host + "' in '" + given + "'";
        return std::nullopt;
    }
    address.port = static_cast<std::uint16_t>(port);
    return address;
}

} // namespace talviren::web
