#pragma once

#include "power/PowerFactor.h"

#include <optional>
#include <string>

namespace talviren::mqtt {

// Where and as whom talviren-cli publishes, checked.
struct MqttSettings {
    bool tls = false;        // mqtts://
    std::string host;        // name or address, without brackets
    int port = 1883;         // 1883, or 8883 with TLS, unless the URL says
    std::string user;        // empty: anonymous
    std::string password;    // from TALVIREN_MQTT_PASSWORD or --mqtt-password-file
    std::string caFile;      // empty: the system's CA store
    std::string meterId;     // letters, digits, '-' and '_'
    std::string topicPrefix; // talviren/ID unless --mqtt-topic
    std::optional<std::string> discoveryPrefix; // Home Assistant discovery, when asked for
    std::optional<PowerFactor> powerFactor;     // real power and energy too

    // The client id the broker keeps the session under.
    std::string clientId() const { return "talviren-" + meterId; }
    // "HOST:PORT" for messages.
    std::string address() const;
};

// Reads mqtt://[USER@]HOST[:PORT] or mqtts://...; false with `error` naming what is wrong.
bool parseMqttUrl(const std::string& url, MqttSettings& settings, std::string& error);

// A meter id has letters, digits, '-' and '_' only, at least one of them.
bool isMeterId(const std::string& id);

// The meter id from a host name: characters other than letters, digits, '-' and '_' become '_'.
std::string meterIdFromHost(const std::string& hostName);

// A topic prefix that can carry our topics: not empty, no wildcards; a trailing '/' is dropped.
// `option` names where it came from in the error ("--mqtt-topic").
bool normaliseTopicPrefix(std::string& prefix, const std::string& option, std::string& error);

} // namespace talviren::mqtt
