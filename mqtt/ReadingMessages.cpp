#include "mqtt/ReadingMessages.h"

#include "time/LocalTime.h"
#include "measure/ValueText.h"

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

QByteArray topic(const std::string& prefix, std::string_view leaf) {
    return QByteArray::fromStdString(prefix) + '/' + QByteArray(leaf.data(), leaf.size());
}

} // namespace

QByteArray readingJson(std::uint64_t seq, const TimedReading& reading) {
    thread_local LocalTime zone;
    std::string time;
    zone.appendIsoWithOffset(time, reading.wallMs);
    QJsonObject object;
    object.insert(QStringLiteral("seq"), static_cast<qint64>(seq));
    object.insert(QStringLiteral("time"), QString::fromStdString(time));
    object.insert(QStringLiteral("function"), reading.raw.function);
    object.insert(QStringLiteral("current"), quantityJson(reading.current));
    object.insert(QStringLiteral("second"), quantityJson(reading.second));
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::vector<Message> readingMessages(const MqttSettings& settings, std::uint64_t seq,
                                     const TimedReading& reading) {
    std::vector<Message> messages;
    messages.push_back({topic(settings.topicPrefix, "reading"), readingJson(seq, reading), false});
    for (const auto& q : {reading.current, reading.second}) {
        if (q && !q->overload) {
            messages.push_back({topic(settings.topicPrefix, quantityKindInfo(q->kind).key),
                                QByteArray::fromStdString(plainNumber(*q)), true});
        }
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
        QuantityKind kind;
        const char* name;
        const char* deviceClass; // none for resistance
    };
    const Sensor sensors[] = {{QuantityKind::AcCurrent, "AC current", "current"},
                              {QuantityKind::AcVoltage, "AC voltage", "voltage"},
                              {QuantityKind::DcVoltage, "DC voltage", "voltage"},
                              {QuantityKind::Resistance, "Resistance", nullptr}};
    const QString device = QStringLiteral("talviren_") + QString::fromStdString(settings.meterId);
    std::vector<Message> messages;
    for (const Sensor& sensor : sensors) {
        const QuantityKindInfo& info = quantityKindInfo(sensor.kind);
        const QString id = device + '_' + text(info.key);
        QJsonObject config;
        config.insert(QStringLiteral("name"), QString::fromLatin1(sensor.name));
        config.insert(QStringLiteral("unique_id"), id);
        config.insert(QStringLiteral("state_topic"),
                      QString::fromUtf8(topic(settings.topicPrefix, info.key)));
        config.insert(QStringLiteral("unit_of_measurement"), text(info.baseUnit));
        if (sensor.deviceClass) {
            config.insert(QStringLiteral("device_class"), QString::fromLatin1(sensor.deviceClass));
        }
        config.insert(QStringLiteral("state_class"), QStringLiteral("measurement"));
        config.insert(QStringLiteral("availability_topic"),
                      QString::fromUtf8(statusTopic(settings)));
        config.insert(
            QStringLiteral("device"),
            QJsonObject{{QStringLiteral("identifiers"), QJsonArray{device}},
                        {QStringLiteral("name"),
                         QStringLiteral("talviren ") + QString::fromStdString(settings.meterId)}});
        messages.push_back({QByteArray::fromStdString(*settings.discoveryPrefix) + "/sensor/" +
                                id.toUtf8() + "/config",
                            QJsonDocument(config).toJson(QJsonDocument::Compact), true});
    }
    return messages;
}

} // namespace talviren::mqtt
