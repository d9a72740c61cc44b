#include "mqtt/ReadingMessages.h"

#include "measure/ValueText.h"
#include "power/ApparentPower.h"
#include "json/ReadingJson.h"

#include <string>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace talviren::mqtt {

namespace {

QString text(std::string_view view) {
    return QString::fromUtf8(view.data(), static_cast<qsizetype>(view.size()));
}

QByteArray topic(const std::string& prefix, std::string_view leaf) {
    return QByteArray::fromStdString(prefix) + '/' + QByteArray(leaf.data(), leaf.size());
}

} // namespace

Message alarmStateMessage(const MqttSettings& settings, const std::string& name, bool on) {
    return {topic(settings.topicPrefix, "alarm/" + name), on ? "ON" : "OFF", true};
}

QByteArray eventTopic(const MqttSettings& settings) {
    return topic(settings.topicPrefix, "event");
}

std::vector<Message> readingMessages(const MqttSettings& settings, std::uint64_t seq,
                                     const TimedReading& reading, double apparentEnergyVAh) {
    std::vector<Message> messages;
    const auto& pf = settings.powerFactor;
    messages.push_back({topic(settings.topicPrefix, "reading"),
                        QByteArray::fromStdString(json::readingJson(seq, reading, apparentEnergyVAh, pf)), false});
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
             QByteArray::fromStdString(json::energyText(apparentEnergyVAh * pf->value(), 7)),
             true});
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
