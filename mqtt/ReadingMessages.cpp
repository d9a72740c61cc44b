#include "mqtt/ReadingMessages.h"

#include "measure/ValueText.h"
#include "power/ApparentPower.h"
#include "time/LocalTime.h"

#include <cmath>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace talviren::mqtt {

namespace {

QString text(std::string_view view) {
    return QString::fromUtf8(view.data(), static_cast<qsizetype>(view.size()));
}

QJsonValue quantityJson(const std::optional<Quantity>& q) {
    if (!q) {
        return QJsonValue::Null;
    }
    QJsonObject object;
    object.insert(QStringLiteral("name"), text(q->symbol()));
    object.insert(QStringLiteral("text"), QString::fromStdString(q->text));
    object.insert(QStringLiteral("value"),
                  q->overload ? QJsonValue(QJsonValue::Null) : QJsonValue(q->value()));
    object.insert(QStringLiteral("unit"), text(q->unit()));
    object.insert(QStringLiteral("overload"), q->overload);
    return object;
}

// An energy rounded to 0.0001 of its unit, as its exact decimal text.
std::string energyText(double value, int decimals = 4) {
    return decimalText(std::llround(value * 1e4), decimals);
}

QJsonValue apparentPowerJson(const ApparentPower& s) {
    if (!s.hasValue()) {
        return QJsonValue::Null;
    }
    return QJsonObject{{QStringLiteral("value"), s.va()}, {QStringLiteral("unit"), "VA"}};
}

QJsonValue realPowerJson(const ApparentPower& s, PowerFactor pf) {
    if (!s.hasValue()) {
        return QJsonValue::Null;
    }
    return QJsonObject{{QStringLiteral("value"), decimalValue(realPowerNumber(s.units, pf))},
                       {QStringLiteral("unit"), "W"},
                       {QStringLiteral("power_factor"), pf.value()}};
}

QByteArray topic(const std::string& prefix, std::string_view leaf) {
    return QByteArray::fromStdString(prefix) + '/' + QByteArray(leaf.data(), leaf.size());
}

} // namespace

QByteArray readingJson(std::uint64_t seq, const TimedReading& reading, double apparentEnergyVAh,
                       std::optional<PowerFactor> powerFactor) {
    thread_local LocalTime zone;
    std::string time;
    zone.appendIsoWithOffset(time, reading.wallMs);
    QJsonObject object;
    object.insert(QStringLiteral("seq"), static_cast<qint64>(seq));
    object.insert(QStringLiteral("time"), QString::fromStdString(time));
    object.insert(QStringLiteral("function"), reading.raw.function);
    object.insert(QStringLiteral("current"), quantityJson(reading.current));
    object.insert(QStringLiteral("second"), quantityJson(reading.second));
    const ApparentPower s = apparentPower(reading.raw);
    object.insert(QStringLiteral("apparent_power"), apparentPowerJson(s));
    QJsonObject energy{
        {QStringLiteral("apparent_vah"), decimalValue(energyText(apparentEnergyVAh))}};
    if (powerFactor) {
        object.insert(QStringLiteral("power"), realPowerJson(s, *powerFactor));
        energy.insert(QStringLiteral("wh"),
                      decimalValue(energyText(apparentEnergyVAh * powerFactor->value())));
    }
    object.insert(QStringLiteral("energy"), energy);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
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
        config.insert(
            QStringLiteral("device"),
            QJsonObject{{QStringLiteral("identifiers"), QJsonArray{device}},
                        {QStringLiteral("name"),
                         QStringLiteral("talviren ") + QString::fromStdString(settings.meterId)}});
        messages.push_back(
            {configTopic, QJsonDocument(config).toJson(QJsonDocument::Compact), true});
    }
    return messages;
}

} // namespace talviren::mqtt
