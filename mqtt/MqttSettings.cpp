#include "mqtt/MqttSettings.h"

#include <cctype>

namespace talviren::mqtt {

namespace {

bool isNameCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
}

bool isHostName(const std::string& host) {
    if (host.empty() || host.size() > 253) {
        return false;
    }
    for (char c : host) {
        if (!isNameCharacter(c) && c != '.') {
            return false;
        }
    }
    return host.front() != '.' && host.front() != '-';
}

bool isIpv6(const std::string& host) {
    if (host.empty()) {
        return false;
    }
    for (char c : host) {
        if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') {
            return false;
        }
    }
    return host.find(':') != std::string::npos;
}

} // namespace

std::string MqttSettings::address() const {
    const bool bracket = host.find(':') != std::string::npos;
    return (bracket ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool parseMqttUrl(const std::string& url, MqttSettings& settings, std::string& error) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string::npos) {
        error = "--mqtt takes mqtt://[USER@]HOST[:PORT] or mqtts://..., not '" + url + "'";
        return false;
    }
    const std::string name = url.substr(0, scheme);
    if (name == "mqtt") {
        settings.tls = false;
        settings.port = 1883;
    } else if (name == "mqtts") {
        settings.tls = true;
        settings.port = 8883;
    } else {
        error = "--mqtt: unknown scheme '" + name + "' (use mqtt:// or mqtts://)";
        return false;
    }
    std::string rest = url.substr(scheme + 3);
    if (!rest.empty() && rest.back() == '/') {
        rest.pop_back();
    }
    const auto malformed = [&](const std::string& why) {
        error = "--mqtt: malformed URL '" + url + "': " + why;
        return false;
    };
    if (rest.find_first_of("/?#") != std::string::npos) {
        return malformed("nothing may follow the port");
    }
    const std::size_t at = rest.rfind('@');
    if (at != std::string::npos) {
        settings.user = rest.substr(0, at);
        if (settings.user.empty() || settings.user.find(':') != std::string::npos) {
            return malformed(settings.user.empty()
                                 ? "the user name before '@' is empty"
                                 : "no password in the URL (use TALVIREN_MQTT_PASSWORD or "
                                   "--mqtt-password-file)");
        }
        rest = rest.substr(at + 1);
    }
    std::string port;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos) {
            return malformed("no ']' after the address");
        }
        settings.host = rest.substr(1, close - 1);
        const std::string after = rest.substr(close + 1);
        if (!after.empty() && after.front() != ':') {
            return malformed("text after the address");
        }
        port = after.empty() ? "" : after.substr(1);
        if (!isIpv6(settings.host)) {
            return malformed("'" + settings.host + "' is no IPv6 address");
        }
    } else {
        const std::size_t colon = rest.find(':');
        settings.host = rest.substr(0, colon);
        if (colon != std::string::npos) {
            port = rest.substr(colon + 1);
            if (port.empty()) {
                return malformed("no port after ':'");
            }
        }
        if (!isHostName(settings.host)) {
            return malformed(settings.host.empty() ? "no host"
                                                   : "'" + settings.host + "' is no host name");
        }
    }
    if (!port.empty()) {
        int value = 0;
        for (char c : port) {
            if (!std::isdigit(static_cast<unsigned char>(c)) || value > 65535) {
                return malformed("the port must be a number from 1 to 65535");
            }
            value = value * 10 + (c - '0');
        }
        if (value < 1 || value > 65535) {
            return malformed("the port must be a number from 1 to 65535");
        }
        settings.port = value;
    }
    return true;
}

bool isMeterId(const std::string& id) {
    if (id.empty()) {
        return false;
    }
    for (char c : id) {
        if (!isNameCharacter(c)) {
            return false;
        }
    }
    return true;
}

std::string meterIdFromHost(const std::string& hostName) {
    std::string id = hostName;
    for (char& c : id) {
        if (!isNameCharacter(c)) {
            c = '_';
        }
    }
    return id.empty() ? std::string("meter") : id;
}

bool normaliseTopicPrefix(std::string& prefix, const std::string& option, std::string& error) {
    while (!prefix.empty() && prefix.back() == '/') {
        prefix.pop_back();
    }
    if (prefix.empty()) {
        error = option + " needs a topic prefix";
        return false;
    }
    if (prefix.find_first_of("+#") != std::string::npos || prefix.find('\0') != std::string::npos) {
        error = option + ": '" + prefix + "' holds a wildcard (+ or #)";
        return false;
    }
    return true;
}

} // namespace talviren::mqtt
