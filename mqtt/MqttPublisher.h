#pragma once

#include "alarm/AlarmEngine.h"
#include "link/LinkEvents.h"
#include "mqtt/MqttSettings.h"
#include "mqtt/PublishQueue.h"
#include "trend/Recording.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <string>

struct mosquitto;
struct mosquitto_message;

namespace talviren::mqtt {

// Publishes the live readings and the link's state to an MQTT broker, with Home Assistant
// discovery when asked for. libmosquitto runs its network loop in a thread of its own: a
// connect, a TLS handshake or a reconnect (backing off from 1 s to 30 s) can take seconds,
// and the readings, the CSV log and the terminal must never wait for them. Its callbacks are
// handed to the Qt event loop as queued calls; everything here runs on the program's thread.
// Readings wait in a bounded queue while the broker is away and go out in order, QoS 1, from
// a persistent session, when it is back.
class MqttPublisher : public QObject,
                      public LinkEvents,
                      private RecordingListener, // through listenTo() alone: it reads the seq
                      public AlarmListener {
    Q_OBJECT

public:
    // How the publisher speaks to its owner.
    struct Reporting {
        std::function<void(const std::string&)> say;   // one line for standard error
        std::function<void(const std::string&)> fatal; // the broker refused us, or TLS failed
    };
    // Most readings handed to the library and not yet acknowledged.
    static constexpr std::size_t kWindow = 64;

    MqttPublisher(MqttSettings settings, std::string decimalSeparator, Reporting reporting,
                  QObject* parent = nullptr);
    ~MqttPublisher() override;

    // Starts connecting; false with `error` when the library cannot even begin.
    bool start(std::string& error);
    // A clean end: the queue gets up to `timeoutMs` to go out, then "offline" (retained) is
    // published and the connection closed, so that the last will is not sent.
    void finish(int timeoutMs);

    // Publishes the live readings of `recording`, with its energy, until stopListening().
    void listenTo(Recording& recording);
    void stopListening();

    // Publishes the alarms of `engine`: their states, raises and clears, and their Home
    // Assistant binary sensors, until stopListeningToAlarms().
    void listenToAlarms(AlarmEngine& engine);
    void stopListeningToAlarms();
    void alarmsConfigured() override;
    void alarmChanged(const AlarmEvent& event) override;

    void linkCameUp(const LinkUp& up) override;
    void linkLost(const LinkLoss& loss) override;

    bool connected() const { return connected_; }
    // Readings and link changes not yet acknowledged by the broker.
    std::size_t queued() const { return queue_.waiting() + queue_.inFlight(); }
    const MqttSettings& settings() const { return settings_; }

private:
    // The recording listened to took a live reading.
    void readingRecorded(const TimedReading& reading) override;

    static void connectCallback(struct mosquitto*, void* self, int rc);
    static void disconnectCallback(struct mosquitto*, void* self, int rc);
    static void publishCallback(struct mosquitto*, void* self, int mid);
    static void messageCallback(struct mosquitto*, void* self, const struct mosquitto_message*);
    static void logCallback(struct mosquitto*, void* self, int level, const char* text);

    void onConnected(int rc);
    void onDisconnected(int rc, const std::string& reason);
    void onPublished(int mid);
    void onMessage(const QByteArray& topic, const QByteArray& payload);
    void onTlsError(const QString& text);
    // The TLS handshake failed: fatal, with OpenSSL's reason when it gave one.
    void failTls();
    // Ends publishing for good and tells why, once.
    void fail(const std::string& reason);

    void enqueue(PublishQueue::Item item);
    void enqueue(std::vector<Message> messages);
    void pump();
    int publish(const QByteArray& topic, const QByteArray& payload, bool retain);
    void publishDiscovery();
    void reportDropped();
    void say(const std::string& text) const;

    MqttSettings settings_;
    Recording* recording_ = nullptr; // where readings and their energy come from
    AlarmEngine* alarms_ = nullptr;
    std::string separator_;
    Reporting reporting_;
    struct mosquitto* client_ = nullptr;
    bool started_ = false;
    bool connected_ = false;
    bool everConnected_ = false;
    bool toldAway_ = false;
    bool fatal_ = false;
    std::uint64_t droppedWhileAway_ = 0;
    PublishQueue queue_;
    QTimer unreachable_; // says once that a broker is not there at start
    QString lastTlsError_;
    int offlineMid_ = -1;
    bool offlineAcknowledged_ = false;
};

} // namespace talviren::mqtt
