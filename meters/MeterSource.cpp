#include "meters/MeterSource.h"

#include "measure/Trimmed.h"

#include <algorithm>
#include <cctype>

namespace talviren {

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// "http://HOST[:PORT][/]" or https: the base of a logger's routes, and HOST:PORT as shown.
bool readUrl(std::string_view text, MeterSource& source, std::string& error) {
    const bool tls = text.starts_with("https://");
    if (!tls && !text.starts_with("http://")) {
        error = "a remote meter is an http:// or https:// address";
        return false;
    }
    std::string_view rest = text.substr(tls ? 8 : 7);
    const std::size_t slash = rest.find('/');
    const std::string_view authority = rest.substr(0, slash);
    const std::string_view path = slash == std::string_view::npos ? "/" : rest.substr(slash);
    if (authority.empty() || authority.find('@') != std::string_view::npos) {
        error = "the address names no host (and no user: a token goes in its file)";
        return false;
    }
    std::string_view host = authority;
    std::string_view port;
    if (authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            error = "an IPv6 address is written [ADDRESS]:PORT";
            return false;
        }
        host = authority.substr(0, close + 1);
        port = authority.substr(close + 1);
        if (!port.empty() && port.front() != ':') {
            error = "after ] comes :PORT";
            return false;
        }
        port = port.empty() ? port : port.substr(1);
    } else if (const std::size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    const bool digits =
        std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (host.empty() || !digits || port.size() > 5 ||
        (!port.empty() && std::stoi(std::string(port)) > 65535)) {
        error = "'" + std::string(authority) + "' is no HOST:PORT";
        return false;
    }
    if (path != "/" || text.find_first_of("?# ") != std::string_view::npos) {
        error = "a logger is named by its address alone, as http://HOST:PORT/";
        return false;
    }
    const std::string shownPort = port.empty() ? (tls ? "443" : "80") : std::string(port);
    source.url =
        std::string(tls ? "https://" : "http://") + std::string(host) + ":" + shownPort + "/";
    source.host = std::string(host) + ":" + shownPort;
    return true;
}

} // namespace

bool isMeterName(std::string_view name) {
    return !name.empty() && name.size() <= 32 && lower(name) != "total" &&
           std::all_of(name.begin(), name.end(),
                       [](unsigned char c) { return std::isalnum(c) || c == '-' || c == '_'; });
}

MeterParse parseMeter(std::string_view givenName, std::string_view givenValue) {
    MeterParse parsed;
    const std::string_view name = trimmed(givenName);
    const std::string_view value = trimmed(givenValue);
    const std::string who = "meter '" + std::string(name) + "': ";
    if (!isMeterName(name)) {
        parsed.error =
            who + (lower(name) == "total" ? "total is the sum's name"
                                          : "a name takes letters, digits, - and _ (L1, cellar-2)");
        return parsed;
    }
    MeterSource source;
    source.name = std::string(name);
    source.line = std::string(value);
    if (value == "scan") {
        source.kind = MeterSource::Kind::Scan;
    } else if (value.starts_with("COM") && value.size() > 3) {
        const std::string_view number = value.substr(3);
        const bool digits =
            number.size() <= 2 &&
            std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
        const int port = digits ? std::stoi(std::string(number)) : 0;
        if (port < 1 || port > 16) {
            parsed.error = who + "a local port is COM1 to COM16, not " + std::string(value);
            return parsed;
        }
        source.kind = MeterSource::Kind::Port;
        source.port = port;
    } else if (value.starts_with("http")) {
        source.kind = MeterSource::Kind::Remote;
        const std::size_t space = value.find(' ');
        std::string error;
        if (!readUrl(value.substr(0, space), source, error)) {
            parsed.error = who + error;
            return parsed;
        }
        if (space != std::string_view::npos) {
            const std::string_view rest = trimmed(value.substr(space));
            if (!rest.starts_with("token-file ") || trimmed(rest.substr(11)).empty()) {
                parsed.error = who + "after the address comes only token-file PATH";
                return parsed;
            }
            source.tokenFile = std::string(trimmed(rest.substr(11)));
        }
    } else {
        parsed.error =
            who + "is scan, COMn or an http:// address, not '" + std::string(value) + "'";
        return parsed;
    }
    parsed.source = std::move(source);
    return parsed;
}

std::optional<std::string> checkMeters(const std::vector<MeterSource>& meters) {
    for (std::size_t i = 0; i < meters.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            const std::string who = "meter '" + meters[i].name + "': ";
            if (lower(meters[i].name) == lower(meters[j].name)) {
                return who + "the name is given twice";
            }
            if (meters[i].kind == MeterSource::Kind::Scan &&
                meters[j].kind == MeterSource::Kind::Scan) {
                return who + "only one meter is the window's own (scan)";
            }
            if (meters[i].kind == MeterSource::Kind::Port &&
                meters[j].kind == MeterSource::Kind::Port && meters[i].port == meters[j].port) {
                return who + "COM" + std::to_string(meters[i].port) + " is " + meters[j].name +
                       "'s already";
            }
        }
    }
    return std::nullopt;
}

std::vector<MeterSource> defaultMeters() {
    MeterSource local;
    local.name = "local";
    local.line = "scan";
    return {local};
}

} // namespace talviren
