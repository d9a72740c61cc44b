#pragma once

#include "measure/Reading.h"
#include "mqtt/MqttSettings.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

namespace talviren::mqtt {

// One MQTT message: where, what, and whether the broker keeps it for later subscribers.
struct Message {
    QByteArray topic;
    QByteArray payload;
    bool retain = false;
};

// The JSON object of a reading on PREFIX/reading:
// {"seq", "time" (local, milliseconds, UTC offset), "function", "current", "second"}.
QByteArray readingJson(std::uint64_t seq, const TimedReading& reading);

// Everything one reading publishes: the JSON object, then the plain number of each quantity
// it carries that is not overloaded (PREFIX/ac_current, ...; retained).
std::vector<Message> readingMessages(const MqttSettings& settings, std::uint64_t seq,
                                     const TimedReading& reading);

// PREFIX/status and PREFIX/link.
QByteArray statusTopic(const MqttSettings& settings);
Message linkMessage(const MqttSettings& settings, bool connected);

// The Home Assistant discovery configs of the four quantities (retained).
std::vector<Message> discoveryMessages(const MqttSettings& settings);
// The topic Home Assistant announces itself on: DISCOVERY_PREFIX/status.
QByteArray discoveryStatusTopic(const MqttSettings& settings);

} // namespace talviren::mqtt
