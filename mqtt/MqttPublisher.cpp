#include "mqtt/MqttPublisher.h"

#include "log/CsvLog.h"
#include "mqtt/ReadingMessages.h"
#include "json/ReadingJson.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace talviren::mqtt {

namespace {

constexpr int kKeepAliveSeconds = 30;
constexpr int kQos = 1;

// libmosquitto wants its one-time set-up before the first client.
void initialiseLibrary() {
    static const bool done = [] {
        mosquitto_lib_init();
        return true;
    }();
    (void)done;
}

std::string now() {
    return csvlog::localTime(systemClock().wallMs());
}

// Runs the event loop until the condition holds or the time is up.
template <typename Condition> void runEventsUntil(Condition condition, int timeoutMs) {
    if (condition()) {
        return;
    }
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (condition()) {
            loop.quit();
        }
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    check.start(5);
    loop.exec();
}

MqttPublisher* self(void* data) {
    return static_cast<MqttPublisher*>(data);
}

} // namespace

MqttPublisher::MqttPublisher(MqttSettings settings, std::string decimalSeparator,
                             Reporting reporting, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), separator_(std::move(decimalSeparator)),
      reporting_(std::move(reporting)) {
    unreachable_.setSingleShot(true);
    unreachable_.setInterval(3000);
    connect(&unreachable_, &QTimer::timeout, this, [this] {
        if (!connected_ && !toldAway_ && !fatal_) {
            toldAway_ = true;
            say(now() + " MQTT broker " + settings_.address() +
                " is not reachable; readings are queued until it is");
        }
    });
}

MqttPublisher::~MqttPublisher() {
    stopListening();
    stopListeningToAlarms();
    if (client_) {
        if (started_) {
            mosquitto_disconnect(client_);
            // The loop may sleep before a reconnect for up to 30 s: do not wait for that.
            mosquitto_loop_stop(client_, true);
        }
        mosquitto_destroy(client_);
    }
}

void MqttPublisher::say(const std::string& text) const {
    if (reporting_.say) {
        reporting_.say(text);
    }
}

// ---- the library's thread: hand everything over to ours ------------------------------------

void MqttPublisher::connectCallback(struct mosquitto*, void* data, int rc) {
    QMetaObject::invokeMethod(
        self(data), [p = self(data), rc] { p->onConnected(rc); }, Qt::QueuedConnection);
}

void MqttPublisher::disconnectCallback(struct mosquitto*, void* data, int rc) {
    // The system's reason is in this thread's errno now; on ours it would be another's.
    const std::string reason =
        rc == MOSQ_ERR_ERRNO ? std::string(std::strerror(errno)) : mosquitto_strerror(rc);
    QMetaObject::invokeMethod(
        self(data), [p = self(data), rc, reason] { p->onDisconnected(rc, reason); },
        Qt::QueuedConnection);
}

void MqttPublisher::publishCallback(struct mosquitto*, void* data, int mid) {
    QMetaObject::invokeMethod(
        self(data), [p = self(data), mid] { p->onPublished(mid); }, Qt::QueuedConnection);
}

void MqttPublisher::messageCallback(struct mosquitto*, void* data,
                                    const struct mosquitto_message* message) {
    const QByteArray topic(message->topic);
    const QByteArray payload(static_cast<const char*>(message->payload), message->payloadlen);
    QMetaObject::invokeMethod(
        self(data), [p = self(data), topic, payload] { p->onMessage(topic, payload); },
        Qt::QueuedConnection);
}

void MqttPublisher::logCallback(struct mosquitto*, void* data, int level, const char* text) {
    // OpenSSL's own words are the only account of why a certificate did not verify.
    if ((level & MOSQ_LOG_ERR) && std::string_view(text).find("OpenSSL Error") == 0) {
        const QString line = QString::fromUtf8(text);
        QMetaObject::invokeMethod(
            self(data), [p = self(data), line] { p->onTlsError(line); }, Qt::QueuedConnection);
    }
}

// ---- our thread ---------------------------------------------------------------------------

bool MqttPublisher::start(std::string& error) {
    initialiseLibrary();
    // A stable id and no clean session: the broker keeps what we sent but it did not confirm.
    client_ = mosquitto_new(settings_.clientId().c_str(), false, this);
    if (!client_) {
        error = "cannot start the MQTT client";
        return false;
    }
    mosquitto_connect_callback_set(client_, connectCallback);
    mosquitto_disconnect_callback_set(client_, disconnectCallback);
    mosquitto_publish_callback_set(client_, publishCallback);
    mosquitto_message_callback_set(client_, messageCallback);
    mosquitto_log_callback_set(client_, logCallback);
    mosquitto_reconnect_delay_set(client_, 1, 30, true);
    mosquitto_max_inflight_messages_set(client_, 0); // our window keeps it bounded
    const QByteArray status = statusTopic(settings_);
    int rc = mosquitto_will_set(client_, status.constData(), 7, "offline", kQos, true);
    if (rc == MOSQ_ERR_SUCCESS && !settings_.user.empty()) {
        rc = mosquitto_username_pw_set(client_, settings_.user.c_str(),
                                       settings_.password.empty() ? nullptr
                                                                  : settings_.password.c_str());
    }
    if (rc == MOSQ_ERR_SUCCESS && settings_.tls) {
        if (settings_.caFile.empty()) {
            rc = mosquitto_int_option(client_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        } else {
            rc = mosquitto_tls_set(client_, settings_.caFile.c_str(), nullptr, nullptr, nullptr,
                                   nullptr);
        }
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        error = std::string("cannot set up the MQTT client: ") + mosquitto_strerror(rc);
        return false;
    }
    // The loop's thread first: started after a failed first attempt it would not try again,
    // started before it, it keeps trying until the broker is there.
    rc = mosquitto_loop_start(client_);
    if (rc != MOSQ_ERR_SUCCESS) {
        error = std::string("cannot start the MQTT client: ") + mosquitto_strerror(rc);
        return false;
    }
    started_ = true;
    rc =
        mosquitto_connect_async(client_, settings_.host.c_str(), settings_.port, kKeepAliveSeconds);
    if (rc == MOSQ_ERR_TLS) {
        // The handshake failed at once; OpenSSL's reason is queued behind us already, so the
        // failure is told from the event loop, after it.
        QMetaObject::invokeMethod(
            this, [this] { failTls(); }, Qt::QueuedConnection);
    }
    unreachable_.start();
    return true;
}

void MqttPublisher::onConnected(int rc) {
    if (fatal_) {
        return;
    }
    if (rc != 0) {
        fail("the MQTT broker " + settings_.address() +
             " refused the connection: " + mosquitto_connack_string(rc));
        return;
    }
    connected_ = true;
    if (!everConnected_ && !toldAway_) {
        say(now() + " MQTT: connected to " + settings_.address());
    } else if (toldAway_) {
        say(now() + " MQTT broker " + settings_.address() + " is back; " +
            std::to_string(queued()) + " queued items follow");
    }
    everConnected_ = true;
    toldAway_ = false;
    reportDropped();
    publish(statusTopic(settings_), "online", true);
    if (settings_.discoveryPrefix) {
        mosquitto_subscribe(client_, nullptr, discoveryStatusTopic(settings_).constData(), kQos);
        // The alarm sensors announced before, to take back those no longer configured.
        mosquitto_subscribe(client_, nullptr, alarmConfigFilter(settings_).constData(), kQos);
        publishDiscovery();
    }
    pump();
}

void MqttPublisher::onDisconnected(int rc, const std::string& reason) {
    const bool wasConnected = connected_;
    connected_ = false;
    if (fatal_ || rc == MOSQ_ERR_SUCCESS) {
        return; // our own disconnect
    }
    if (rc == MOSQ_ERR_TLS) {
        failTls();
        return;
    }
    if (!toldAway_) {
        toldAway_ = true;
        say(now() + " MQTT broker " + settings_.address() +
            (wasConnected || everConnected_ ? " lost (" : " is not reachable (") + reason +
            "); readings are queued until it is back");
    }
}

void MqttPublisher::onTlsError(const QString& text) {
    // The library's thread gives up after a TLS error, and tells nothing more than this line.
    lastTlsError_ = text;
    failTls();
}

void MqttPublisher::failTls() {
    fail("TLS with the MQTT broker " + settings_.address() + " failed" +
         (lastTlsError_.isEmpty() ? std::string() : ": " + lastTlsError_.toStdString()));
}

void MqttPublisher::fail(const std::string& reason) {
    if (fatal_) {
        return;
    }
    fatal_ = true;
    if (reporting_.fatal) {
        reporting_.fatal(reason);
    }
}

void MqttPublisher::onPublished(int mid) {
    if (mid == offlineMid_) {
        offlineAcknowledged_ = true;
    }
    queue_.acknowledged(mid);
    pump();
}

void MqttPublisher::onMessage(const QByteArray& topic, const QByteArray& payload) {
    // Home Assistant came (back) online: it needs the discovery configs again.
    if (settings_.discoveryPrefix && topic == discoveryStatusTopic(settings_) &&
        payload == "online") {
        publishDiscovery();
        return;
    }
    if (const auto alarm = alarmOfConfigTopic(settings_, topic); alarm && !payload.isEmpty()) {
        const auto& rules = alarms_ ? alarms_->rules() : std::vector<AlarmRule>();
        const bool configured = std::any_of(rules.begin(), rules.end(),
                                            [&](const AlarmRule& r) { return r.name == *alarm; });
        if (!configured) {
            publish(topic, QByteArray(), true); // an empty config removes the sensor
        }
    }
}

int MqttPublisher::publish(const QByteArray& topic, const QByteArray& payload, bool retain) {
    int mid = -1;
    const int rc =
        mosquitto_publish(client_, &mid, topic.constData(), static_cast<int>(payload.size()),
                          payload.constData(), kQos, retain);
    // Without a connection the library keeps a QoS 1 message and sends it when it is back.
    return rc == MOSQ_ERR_SUCCESS || rc == MOSQ_ERR_NO_CONN ? mid : -1;
}

void MqttPublisher::publishDiscovery() {
    for (const Message& message : discoveryMessages(settings_)) {
        publish(message.topic, message.payload, message.retain);
    }
    if (alarms_) {
        for (const Message& message : alarmDiscoveryMessages(settings_, alarms_->rules())) {
            publish(message.topic, message.payload, message.retain);
        }
    }
}

void MqttPublisher::listenToAlarms(AlarmEngine& engine) {
    stopListeningToAlarms();
    alarms_ = &engine;
    engine.addListener(this);
}

void MqttPublisher::stopListeningToAlarms() {
    if (alarms_) {
        alarms_->removeListener(this);
        alarms_ = nullptr;
    }
}

void MqttPublisher::alarmsConfigured() {
    std::vector<Message> states;
    for (const AlarmRule& rule : alarms_->rules()) {
        states.push_back(alarmStateMessage(settings_, rule.name, false));
    }
    enqueue(std::move(states));
    if (connected_ && settings_.discoveryPrefix) {
        publishDiscovery();
    }
}

void MqttPublisher::alarmChanged(const AlarmEvent& event) {
    enqueue(
        {alarmStateMessage(settings_, event.rule->name, event.raised),
         {eventTopic(settings_),
          QByteArray::fromStdString(json::alarmEventJson(event, settings_.powerFactor)), false}});
}

void MqttPublisher::listenTo(Recording& recording) {
    stopListening();
    recording_ = &recording;
    recording.addListener(this);
}

void MqttPublisher::stopListening() {
    if (recording_) {
        recording_->removeListener(this);
        recording_ = nullptr;
    }
}

void MqttPublisher::readingRecorded(const TimedReading& reading) {
    PublishQueue::Item item;
    item.kind = PublishQueue::Item::Reading;
    item.seq = recording_->liveCount();
    item.wallMs = reading.wallMs;
    item.reading = reading.raw;
    item.apparentEnergyVAh = recording_->power().apparentEnergyVAh();
    enqueue(item);
}

void MqttPublisher::linkCameUp(const LinkUp&) {
    PublishQueue::Item item;
    item.kind = PublishQueue::Item::Link;
    item.linkUp = true;
    enqueue(item);
}

void MqttPublisher::linkLost(const LinkLoss& loss) {
    if (!loss.wasUp) {
        return; // the search goes on: nothing new to tell
    }
    PublishQueue::Item item;
    item.kind = PublishQueue::Item::Link;
    item.linkUp = false;
    enqueue(item);
}

void MqttPublisher::enqueue(std::vector<Message> messages) {
    if (messages.empty()) {
        return;
    }
    PublishQueue::Item item;
    item.kind = PublishQueue::Item::Prepared;
    item.prepared = std::make_shared<const std::vector<Message>>(std::move(messages));
    enqueue(std::move(item));
}

void MqttPublisher::enqueue(PublishQueue::Item item) {
    queue_.push(std::move(item));
    if (const std::uint64_t dropped = queue_.takeDropped()) {
        if (droppedWhileAway_ == 0) {
            say(now() + " MQTT: the queue holds " + std::to_string(PublishQueue::kCapacity) +
                " items; the oldest are dropped until the broker is back");
        }
        droppedWhileAway_ += dropped;
    }
    pump();
}

void MqttPublisher::reportDropped() {
    if (droppedWhileAway_ > 0) {
        say(now() + " MQTT: " + std::to_string(droppedWhileAway_) +
            " of the oldest queued items were dropped while the broker was away");
        droppedWhileAway_ = 0;
    }
}

void MqttPublisher::pump() {
    if (!connected_ || fatal_ || !client_) {
        return;
    }
    while (queue_.inFlight() < kWindow) {
        const PublishQueue::Item* item = queue_.next();
        if (!item) {
            return;
        }
        std::vector<Message> messages;
        if (item->kind == PublishQueue::Item::Prepared) {
            messages = *item->prepared;
        } else if (item->kind == PublishQueue::Item::Link) {
            messages.push_back(linkMessage(settings_, item->linkUp));
        } else {
            TimedReading reading;
            static_cast<DecodedReading&>(reading) = decodeReading(item->reading, separator_);
            reading.wallMs = item->wallMs;
            messages = readingMessages(settings_, item->seq, reading, item->apparentEnergyVAh);
        }
        std::vector<int> mids;
        for (const Message& message : messages) {
            const int mid = publish(message.topic, message.payload, message.retain);
            if (mid >= 0) {
                mids.push_back(mid);
            }
        }
        queue_.handed(mids);
    }
}

void MqttPublisher::finish(int timeoutMs) {
    if (!started_ || fatal_) {
        return;
    }
    // What is queued gets its chance to go out first, then "offline" its chance to arrive.
    runEventsUntil([this] { return !connected_ || queued() == 0; }, timeoutMs);
    if (connected_) {
        offlineMid_ = publish(statusTopic(settings_), "offline", true);
        runEventsUntil([this] { return offlineAcknowledged_ || !connected_; }, 1000);
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, false);
    } else {
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, true);
    }
    started_ = false;
}

} // namespace talviren::mqtt
