#pragma once

#include "alarm/AlarmRule.h"
#include "measure/Reading.h"
#include "mqtt/MqttSettings.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace talviren::mqtt {

// One MQTT message: where, what, and whether the broker keeps it for later subscribers.
struct Message {
    QByteArray topic;
    QByteArray payload;
    bool retain = false;
};

// Everything one reading publishes: its JSON object (json::readingJson) on PREFIX/reading, then
// the plain number of each quantity it carries that is not overloaded (PREFIX/ac_current, ...;
// retained), of its apparent power (PREFIX/apparent_power, VA) and, with a power factor, of
// real power (PREFIX/power, W) and the run's energy (PREFIX/energy, kWh).
std::vector<Message> readingMessages(const MqttSettings& settings, std::uint64_t seq,
                                     const TimedReading& reading, double apparentEnergyVAh);

// PREFIX/status and PREFIX/link.
QByteArray statusTopic(const MqttSettings& settings);
Message linkMessage(const MqttSettings& settings, bool connected);

// The Home Assistant discovery configs of the four quantities and apparent power, and with a
// power factor of real power and energy; without one, empty configs that remove those two
// (retained).
std::vector<Message> discoveryMessages(const MqttSettings& settings);
// PREFIX/alarm/NAME: ON while the alarm is raised, else OFF (retained).
Message alarmStateMessage(const MqttSettings& settings, const std::string& name, bool on);
// PREFIX/event, where json::alarmEventJson tells each raise and clear.
QByteArray eventTopic(const MqttSettings& settings);
// A Home Assistant binary_sensor per alarm (device class problem, ON/OFF), on the device of
// the quantities' sensors (retained).
std::vector<Message> alarmDiscoveryMessages(const MqttSettings& settings,
                                            const std::vector<AlarmRule>& rules);
// The topic filter of every alarm config this meter may have announced, and the alarm a topic
// of it names (none for other topics).
QByteArray alarmConfigFilter(const MqttSettings& settings);
std::optional<std::string> alarmOfConfigTopic(const MqttSettings& settings,
                                              const QByteArray& topic);

// The topic Home Assistant announces itself on: DISCOVERY_PREFIX/status.
QByteArray discoveryStatusTopic(const MqttSettings& settings);

} // namespace talviren::mqtt
