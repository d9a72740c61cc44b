#include "mqtt/ReadingMessages.h"

#include "measure/ValueText.h"
#include "power/ApparentPower.h"
#include "time/LocalTime.h"

#include <cmath>
#include <string>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace talviren::mqtt {

namespace {

QString text(std::string_view view) {
    return QString::fromUtf8(view.data(), static_cast<qsizetype>(view.size()));
}

// A JSON string: quotes, backslashes and control characters escaped, UTF-8 kept as it is.
void appendString(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            static constexpr char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[(c >> 4) & 0xf];
            out += kHex[c & 0xf];
        } else {
            out += c;
        }
    }
    out += '"';
}

// `"key":`, after a comma unless it is the object's first.
void appendKey(std::string& out, std::string_view key) {
    if (out.back() != '{') {
        out += ',';
    }
    appendString(out, key);
    out += ':';
}

// {"name","overload","text","unit","value"}: the value as the exact decimal the text shows.
void appendQuantity(std::string& out, const std::optional<Quantity>& q) {
    if (!q) {
        out += "null";
        return;
    }
    out += '{';
    appendKey(out, "name");
    appendString(out, q->symbol());
    appendKey(out, "overload");
    out += q->overload ? "true" : "false";
    appendKey(out, "text");
    appendString(out, q->text);
    appendKey(out, "unit");
    appendString(out, q->unit());
    appendKey(out, "value");
    out += q->overload ? std::string("null") : plainNumber(*q);
    out += '}';
}

// An energy rounded to 0.0001 of its unit, as its exact decimal text.
std::string energyText(double value, int decimals = 4) {
    return decimalText(std::llround(value * 1e4), decimals);
}

QByteArray topic(const std::string& prefix, std::string_view leaf) {
    return QByteArray::fromStdString(prefix) + '/' + QByteArray(leaf.data(), leaf.size());
}

} // namespace

QByteArray readingJson(std::uint64_t seq, const TimedReading& reading, double apparentEnergyVAh,
                       std::optional<PowerFactor> powerFactor) {
    // Written as text, keys in order, every number as the exact decimal it stands for: a
    // reading's messages are built in its path while the broker is there.
    thread_local LocalTime zone;
    thread_local std::string out;
    out.assign("{");
    const ApparentPower s = apparentPower(reading.raw);
    appendKey(out, "apparent_power");
    if (s.hasValue()) {
        out += "{\"unit\":\"VA\",\"value\":";
        out += apparentPowerNumber(s.units);
        out += '}';
    } else {
        out += "null";
    }
    appendKey(out, "current");
    appendQuantity(out, reading.current);
    appendKey(out, "energy");
    out += "{\"apparent_vah\":";
    out += energyText(apparentEnergyVAh);
    if (powerFactor) {
        out += ",\"wh\":";
        out += energyText(apparentEnergyVAh * powerFactor->value());
    }
    out += '}';
    appendKey(out, "function");
    out += std::to_string(reading.raw.function);
    if (powerFactor) {
        appendKey(out, "power");
        if (s.hasValue()) {
            out += "{\"power_factor\":";
            out += powerFactor->text();
            out += ",\"unit\":\"W\",\"value\":";
            out += realPowerNumber(s.units, *powerFactor);
            out += '}';
        } else {
            out += "null";
        }
    }
    appendKey(out, "second");
    appendQuantity(out, reading.second);
    appendKey(out, "seq");
    out += std::to_string(seq);
    appendKey(out, "time");
    out += '"';
    zone.appendIsoWithOffset(out, reading.wallMs);
    out += "\"}";
    return QByteArray(out.data(), static_cast<qsizetype>(out.size()));
}

Message alarmStateMessage(const MqttSettings& settings, const std::string& name, bool on) {
    return {topic(settings.topicPrefix, "alarm/" + name), on ? "ON" : "OFF", true};
}

QByteArray eventTopic(const MqttSettings& settings) {
    return topic(settings.topicPrefix, "event");
}

QByteArray alarmEventJson(const AlarmEvent& event, std::optional<PowerFactor> powerFactor) {
    std::string out = "{";
    appendKey(out, "alarm");
    appendString(out, event.rule->name);
    appendKey(out, "condition");
    appendString(out, event.rule->conditionText);
    appendKey(out, "state");
    appendString(out, event.raised ? "raised" : "cleared");
    appendKey(out, "time");
    out += '"';
    LocalTime().appendIsoWithOffset(out, event.wallMs);
    out += '"';
    appendKey(out, "value");
    const TimedReading* reading = event.reading ? &*event.reading : nullptr;
    const AlarmRule& rule = *event.rule;
    if (!reading || rule.condition == AlarmRule::Condition::NoReading) {
        out += "null";
    } else if (rule.condition == AlarmRule::Condition::Overload) {
        const bool second = reading->second && reading->second->overload &&
                            !(reading->current && reading->current->overload);
        appendQuantity(out, second ? reading->second : reading->current);
    } else if (rule.quantity == AlarmQuantity::Current) {
        appendQuantity(out, reading->current);
    } else if (rule.quantity == AlarmQuantity::ApparentPower ||
               rule.quantity == AlarmQuantity::Power) {
        const ApparentPower s = apparentPower(reading->raw);
        if (!s.hasValue()) {
            out += "null";
        } else if (rule.quantity == AlarmQuantity::ApparentPower || !powerFactor) {
            out += "{\"unit\":\"VA\",\"value\":" + apparentPowerNumber(s.units) + "}";
        } else {
            out += "{\"power_factor\":" + powerFactor->text() +
                   ",\"unit\":\"W\",\"value\":" + realPowerNumber(s.units, *powerFactor) + "}";
        }
    } else {
        appendQuantity(out, reading->second);
    }
    out += '}';
    return QByteArray(out.data(), static_cast<qsizetype>(out.size()));
}

std::vector<Message> readingMessages(const MqttSettings& settings, std::uint64_t seq,
                                     const TimedReading& reading, double apparentEnergyVAh) {
    std::vector<Message> messages;
    const auto& pf = settings.powerFactor;
    messages.push_back({topic(settings.topicPrefix, "reading"),
                        readingJson(seq, reading, apparentEnergyVAh, pf), false});
    for (const auto& q : {reading.current, reading.second}) {
        if (q && !q->overload) {
            messages.push_back({topic(settings.topicPrefix, quantityKindInfo(q->kind).key),
                                QByteArray::fromStdString(plainNumber(*q)), true});
        }
    }
    const ApparentPower s = apparentPower(reading.raw);
    if (s.hasValue()) {
        messages.push_back({topic(settings.topicPrefix, "apparent_power"),
                            QByteArray::fromStdString(apparentPowerNumber(s.units)), true});
        if (pf) {
            messages.push_back({topic(settings.topicPrefix, "power"),
                                QByteArray::fromStdString(realPowerNumber(s.units, *pf)), true});
        }
    }
    if (pf) {
        // In kWh, to 0.1 mWh: the run's total, which Home Assistant takes as ever increasing.
        messages.push_back(
            {topic(settings.topicPrefix, "energy"),
             QByteArray::fromStdString(energyText(apparentEnergyVAh * pf->value(), 7)), true});
    }
    return messages;
}

QByteArray statusTopic(const MqttSettings& settings) {
    return topic(settings.topicPrefix, "status");
}

Message linkMessage(const MqttSettings& settings, bool connected) {
    return {topic(settings.topicPrefix, "link"), connected ? "connected" : "lost", true};
}

QByteArray discoveryStatusTopic(const MqttSettings& settings) {
    return topic(settings.discoveryPrefix.value_or("homeassistant"), "status");
}

namespace {

QJsonObject deviceJson(const MqttSettings& settings) {
    const QString device = QStringLiteral("talviren_") + QString::fromStdString(settings.meterId);
    return QJsonObject{{QStringLiteral("identifiers"), QJsonArray{device}},
                       {QStringLiteral("name"),
                        QStringLiteral("talviren ") + QString::fromStdString(settings.meterId)}};
}

QByteArray alarmConfigStart(const MqttSettings& settings) {
    return QByteArray::fromStdString(*settings.discoveryPrefix) + "/binary_sensor/talviren_" +
           QByteArray::fromStdString(settings.meterId) + "_alarm_";
}

} // namespace

std::vector<Message> alarmDiscoveryMessages(const MqttSettings& settings,
                                            const std::vector<AlarmRule>& rules) {
    std::vector<Message> messages;
    for (const AlarmRule& rule : rules) {
        const QString id = QStringLiteral("talviren_") + QString::fromStdString(settings.meterId) +
                           QStringLiteral("_alarm_") + QString::fromStdString(rule.name);
        const QJsonObject config{
            {QStringLiteral("name"), QStringLiteral("Alarm ") + QString::fromStdString(rule.name)},
            {QStringLiteral("unique_id"), id},
            {QStringLiteral("state_topic"),
             QString::fromUtf8(alarmStateMessage(settings, rule.name, false).topic)},
            {QStringLiteral("device_class"), QStringLiteral("problem")},
            {QStringLiteral("payload_on"), QStringLiteral("ON")},
            {QStringLiteral("payload_off"), QStringLiteral("OFF")},
            {QStringLiteral("availability_topic"), QString::fromUtf8(statusTopic(settings))},
            {QStringLiteral("device"), deviceJson(settings)}};
        messages.push_back(
            {alarmConfigStart(settings) + QByteArray::fromStdString(rule.name) + "/config",
             QJsonDocument(config).toJson(QJsonDocument::Compact), true});
    }
    return messages;
}

QByteArray alarmConfigFilter(const MqttSettings& settings) {
    return QByteArray::fromStdString(*settings.discoveryPrefix) + "/binary_sensor/+/config";
}

std::optional<std::string> alarmOfConfigTopic(const MqttSettings& settings,
                                              const QByteArray& topic) {
    const QByteArray start = alarmConfigStart(settings);
    if (!topic.startsWith(start) || !topic.endsWith("/config")) {
        return std::nullopt;
    }
    return topic.mid(start.size(), topic.size() - start.size() - 7).toStdString();
}

std::vector<Message> discoveryMessages(const MqttSettings& settings) {
    struct Sensor {
        std::string_view key; // the leaf of its state topic
        const char* name;
        std::string_view unit;
        const char* deviceClass; // none for resistance
        const char* stateClass;
        bool announced; // else its config is removed
    };
    const bool pf = settings.powerFactor.has_value();
    const auto quantity = [](QuantityKind kind, const char* name, const char* deviceClass) {
        const QuantityKindInfo& info = quantityKindInfo(kind);
        return Sensor{info.key, name, info.baseUnit, deviceClass, "measurement", true};
    };
    const Sensor sensors[] = {
        quantity(QuantityKind::AcCurrent, "AC current", "current"),
        quantity(QuantityKind::AcVoltage, "AC voltage", "voltage"),
        quantity(QuantityKind::DcVoltage, "DC voltage", "voltage"),
        quantity(QuantityKind::Resistance, "Resistance", nullptr),
        {"apparent_power", "Apparent power", "VA", "apparent_power", "measurement", true},
        {"power", "Power (estimated from the power factor)", "W", "power", "measurement", pf},
        {"energy", "Energy (estimated from the power factor)", "kWh", "energy", "total_increasing",
         pf}};
    const QString device = QStringLiteral("talviren_") + QString::fromStdString(settings.meterId);
    std::vector<Message> messages;
    for (const Sensor& sensor : sensors) {
        const QString id = device + '_' + text(sensor.key);
        const QByteArray configTopic = QByteArray::fromStdString(*settings.discoveryPrefix) +
                                       "/sensor/" + id.toUtf8() + "/config";
        if (!sensor.announced) {
            messages.push_back({configTopic, QByteArray(), true}); // an empty config removes it
            continue;
        }
        QJsonObject config;
        config.insert(QStringLiteral("name"), QString::fromLatin1(sensor.name));
        config.insert(QStringLiteral("unique_id"), id);
        config.insert(QStringLiteral("state_topic"),
                      QString::fromUtf8(topic(settings.topicPrefix, sensor.key)));
        config.insert(QStringLiteral("unit_of_measurement"), text(sensor.unit));
        if (sensor.deviceClass) {
            config.insert(QStringLiteral("device_class"), QString::fromLatin1(sensor.deviceClass));
        }
        config.insert(QStringLiteral("state_class"), QString::fromLatin1(sensor.stateClass));
        config.insert(QStringLiteral("availability_topic"),
                      QString::fromUtf8(statusTopic(settings)));
        config.insert(QStringLiteral("device"), deviceJson(settings));
        messages.push_back(
            {configTopic, QJsonDocument(config).toJson(QJsonDocument::Compact), true});
    }
    return messages;
}

} // namespace talviren::mqtt
