// talviren-cli watch publishing to a real Mosquitto broker on 127.0.0.1, the simulator on a
// pseudo-terminal, and mosquitto_sub as the subscriber.

#include "HttpTestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpSocket>

#include <gtest/gtest.h>

using namespace talviren;
using namespace talviren::testing;

namespace {

// A Mosquitto broker of the test's own, configured by the test. It runs as root here, so it
// must not drop to its own user (which could not read the test's files).
class Broker {
public:
    explicit Broker(const QString& extraConfig = {}) : port_(freeTcpPort()) {
        QFile config(dir_.filePath("mosquitto.conf"));
        config.open(QIODevice::WriteOnly);
        config.write(QStringLiteral("per_listener_settings false\n"
                                    "persistence true\n"
                                    "persistence_location %1/\n"
                                    "autosave_interval 1\n"
                                    "max_queued_messages 0\n"
                                    "user root\n")
                         .arg(dir_.path())
                         .toUtf8());
        const QString listener =
            extraConfig.isEmpty() ? QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\n")
                                  : extraConfig;
        config.write(listener.arg(port_).toUtf8());
    }
    ~Broker() { stop(); }

    bool start() {
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(QStringLiteral("mosquitto"), {"-c", dir_.filePath("mosquitto.conf")});
        return waitFor(
            [this] {
                QTcpSocket socket;
                socket.connectToHost(QHostAddress::LocalHost, port_);
                return socket.waitForConnected(100);
            },
            5000);
    }
    // Gone at once, as a crash or a power cut would take it.
    void kill() {
        process_.kill();
        process_.waitForFinished(3000);
    }
    void stop() {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            process_.waitForFinished(3000);
        }
    }
    quint16 port() const { return port_; }
    QString url(const QString& user = {}) const {
        return QStringLiteral("mqtt://") + (user.isEmpty() ? QString() : user + "@") +
               QStringLiteral("127.0.0.1:") + QString::number(port_);
    }
    QString path(const QString& name) const { return dir_.filePath(name); }
    QString log() { return QString::fromUtf8(process_.readAll()); }
    // Waits until the broker has saved its state (a session, say) once more after now.
    bool saved() {
        const QFileInfo db(path("mosquitto.db"));
        const QDateTime before = db.exists() ? db.lastModified() : QDateTime();
        return waitFor(
            [&] {
                const QFileInfo now(path("mosquitto.db"));
                return now.exists() && (!before.isValid() || now.lastModified() > before);
            },
            5000);
    }

private:
    QTemporaryDir dir_;
    quint16 port_;
    QProcess process_;
};

// mosquitto_sub collecting "topic payload" lines. It is subscribed once ready() says so: a
// message published before may rightly never reach it.
class Subscriber {
public:
    Subscriber(quint16 port, const QStringList& topics, const QStringList& extra = {})
        : port_(port) {
        QStringList arguments = {"-h", "127.0.0.1", "-p", QString::number(port), "-v", "-q", "1"};
        for (const QString& topic : topics + QStringList{kProbe}) {
            arguments << "-t" << topic;
        }
        process_.start(QStringLiteral("mosquitto_sub"), arguments + extra);
        process_.waitForStarted(3000);
    }
    // Publishes to a topic of the subscriber's own until it hears it.
    bool ready() {
        return waitFor(
            [&] {
                QProcess::execute("mosquitto_pub", {"-h", "127.0.0.1", "-p", QString::number(port_),
                                                    "-t", kProbe, "-m", "probe"});
                return waitFor([&] { return !payloads(kProbe).isEmpty(); }, 200);
            },
            10000);
    }
    ~Subscriber() {
        process_.terminate();
        process_.waitForFinished(2000);
    }
    QStringList lines() {
        buffer_ += process_.readAllStandardOutput();
        return QString::fromUtf8(buffer_).split('\n', Qt::SkipEmptyParts);
    }
    // Lines of one topic, payloads only.
    QStringList payloads(const QString& topic) {
        QStringList out;
        for (const QString& line : lines()) {
            if (line.startsWith(topic + ' ')) {
                out << line.mid(topic.size() + 1);
            }
        }
        return out;
    }
    bool waitForPayload(const QString& topic, const QString& payload, int timeoutMs) {
        return waitFor([&] { return payloads(topic).contains(payload); }, timeoutMs);
    }

private:
    static constexpr const char* kProbe = "talviren-test/probe";
    quint16 port_;
    QProcess process_;
    QByteArray buffer_;
};

// The retained message of a topic, as a subscriber arriving now gets it.
QString retained(quint16 port, const QString& topic, const QStringList& extra = {}) {
    QProcess sub;
    sub.start(QStringLiteral("mosquitto_sub"),
              QStringList{"-h", "127.0.0.1", "-p", QString::number(port), "-t", topic, "-C", "1",
                          "-W", "2"} +
                  extra);
    sub.waitForFinished(4000);
    return QString::fromUtf8(sub.readAllStandardOutput()).trimmed();
}

// The sequence numbers of the readings a subscriber saw, in the order it saw them.
std::vector<int> seqs(Subscriber& subscriber, const QString& prefix) {
    std::vector<int> out;
    for (const QString& payload : subscriber.payloads(prefix + "/reading")) {
        out.push_back(QJsonDocument::fromJson(payload.toUtf8()).object().value("seq").toInt());
    }
    return out;
}

// Every number from 1 to last, new ones in order. A number seen before may come again: QoS 1
// repeats, and a broker killed outright replays what its last saved state had not seen
// confirmed, which can be a short run of numbers.
::testing::AssertionResult allInOrder(const std::vector<int>& seen, int last) {
    int highest = 0;
    for (int seq : seen) {
        if (seq >= 1 && seq <= highest) {
            continue;
        }
        if (seq != highest + 1) {
            ::testing::AssertionResult failure = ::testing::AssertionFailure();
            failure << "after " << highest << " came " << seq << "; seen:";
            for (int s : seen) {
                failure << ' ' << s;
            }
            return failure;
        }
        highest = seq;
    }
    if (highest != last) {
        return ::testing::AssertionFailure() << "ended at " << highest << " of " << last;
    }
    return ::testing::AssertionSuccess();
}

// Within five seconds the subscriber has every reading up to the last one, in order.
::testing::AssertionResult deliveredInOrder(Subscriber& sub, const QString& prefix, int last) {
    waitFor([&] { return !seqs(sub, prefix).empty() && seqs(sub, prefix).back() == last; }, 5000);
    return allInOrder(seqs(sub, prefix), last);
}

// Standard error told of the loss once and of the return once.
::testing::AssertionResult toldOnce(const QString& errors, const char* away, const char* back) {
    if (errors.count(QLatin1String(away)) == 1 && errors.count(QLatin1String(back)) == 1) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << errors.toStdString();
}

TEST(Mqtt, ReadingsPlainTopicsStatusLinkAndDiscovery) {
    Broker broker;
    ASSERT_TRUE(broker.start());
    QTemporaryDir config;
    SimProcess sim(config.path());
    ASSERT_TRUE(sim.start({"--port", "3", "--function", "2"}));
    Subscriber sub(broker.port(), {"talviren/#", "homeassistant/#"});
    ASSERT_TRUE(sub.ready());
    CliProcess cli(config.path(), {"watch", "--port", "3", "--duration", "4", "--mqtt",
                                   broker.url(), "--meter-id", "m1", "--homeassistant"});
    ASSERT_TRUE(sub.waitForPayload("talviren/m1/status", "online", 5000))
        << cli.errors().toStdString();
    // Home Assistant restarts: it asks for the configs again, once the first are here (the
    // watcher subscribes to its status before it sends them).
    ASSERT_TRUE(waitFor(
        [&] {
            for (const char* key : {"ac_current", "ac_voltage", "dc_voltage", "resistance"}) {
                if (sub.payloads(QStringLiteral("homeassistant/sensor/talviren_m1_%1/config")
                                     .arg(QLatin1String(key)))
                        .isEmpty()) {
                    return false;
                }
            }
            return true;
        },
        5000));
    QProcess::execute("mosquitto_pub", {"-h", "127.0.0.1", "-p", QString::number(broker.port()),
                                        "-t", "homeassistant/status", "-m", "online"});
    ASSERT_TRUE(cli.finished(10000));
    EXPECT_EQ(cli.process.exitCode(), 0) << cli.errors().toStdString();
    ASSERT_TRUE(sub.waitForPayload("talviren/m1/status", "offline", 3000));

    // The readings as JSON, one for each CSV line and with the same values.
    const QStringList csv = cli.lines();
    ASSERT_GE(csv.size(), 6);
    const QStringList json = sub.payloads("talviren/m1/reading");
    ASSERT_EQ(json.size(), csv.size() - 1) << "every reading published";
    const QRegularExpression time(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$"));
    for (qsizetype i = 0; i < json.size(); ++i) {
        const QJsonObject reading = QJsonDocument::fromJson(json[i].toUtf8()).object();
        const QStringList fields = csv[i + 1].split(',');
        ASSERT_EQ(fields.size(), 8);
        EXPECT_EQ(reading.value("seq").toInt(), i + 1);
        EXPECT_TRUE(time.match(reading.value("time").toString()).hasMatch())
            << reading.value("time").toString().toStdString();
        EXPECT_TRUE(reading.value("time").toString().startsWith(fields[0]));
        EXPECT_EQ(reading.value("function").toInt(), 2);
        const QJsonObject current = reading.value("current").toObject();
        const QJsonObject second = reading.value("second").toObject();
        EXPECT_EQ(current.value("name").toString(), "AC I");
        EXPECT_EQ(current.value("text").toString(), fields[3]);
        EXPECT_EQ(current.value("value").toDouble(), fields[6].toDouble());
        EXPECT_EQ(current.value("unit").toString(), "A");
        EXPECT_FALSE(current.value("overload").toBool());
        EXPECT_EQ(second.value("name").toString(), "DC U");
        EXPECT_EQ(second.value("text").toString(), fields[5]);
        EXPECT_EQ(second.value("value").toDouble(), fields[7].toDouble());
        EXPECT_EQ(second.value("unit").toString(), "V");
    }
    QStringList currents;
    for (qsizetype i = 1; i < csv.size(); ++i) {
        currents << csv[i].split(',')[6];
    }
    EXPECT_EQ(sub.payloads("talviren/m1/ac_current"), currents);
    EXPECT_EQ(sub.payloads("talviren/m1/dc_voltage").size(), currents.size());
    EXPECT_TRUE(sub.payloads("talviren/m1/ac_voltage").isEmpty());
    EXPECT_EQ(sub.payloads("talviren/m1/link"), QStringList{"connected"});

    // Discovery: four configs, sent again when Home Assistant said it is online.
    struct Sensor {
        const char* key;
        const char* unit;
        const char* deviceClass;
    };
    for (const Sensor& s :
         {Sensor{"ac_current", "A", "current"}, Sensor{"ac_voltage", "V", "voltage"},
          Sensor{"dc_voltage", "V", "voltage"}, Sensor{"resistance", "\u03A9", ""}}) {
        const QString id = QStringLiteral("talviren_m1_") + s.key;
        const QStringList configs = sub.payloads("homeassistant/sensor/" + id + "/config");
        ASSERT_EQ(configs.size(), 2) << s.key;
        const QJsonObject c = QJsonDocument::fromJson(configs[0].toUtf8()).object();
        EXPECT_EQ(c.value("unique_id").toString(), id);
        EXPECT_EQ(c.value("state_topic").toString(), QStringLiteral("talviren/m1/") + s.key);
        EXPECT_EQ(c.value("unit_of_measurement").toString(), QString::fromUtf8(s.unit));
        EXPECT_EQ(c.value("device_class").toString(), s.deviceClass);
        EXPECT_EQ(c.contains("device_class"), *s.deviceClass != '\0');
        EXPECT_EQ(c.value("state_class").toString(), "measurement");
        EXPECT_EQ(c.value("availability_topic").toString(), "talviren/m1/status");
        EXPECT_FALSE(c.value("name").toString().isEmpty());
        const QJsonObject device = c.value("device").toObject();
        EXPECT_EQ(device.value("identifiers").toArray().first().toString(), "talviren_m1");
        EXPECT_EQ(device.value("name").toString(), "talviren m1");
    }
    // What stays for later subscribers.
    EXPECT_EQ(retained(broker.port(), "talviren/m1/status"), "offline");
    EXPECT_EQ(retained(broker.port(), "talviren/m1/link"), "connected");
    EXPECT_EQ(retained(broker.port(), "talviren/m1/ac_current"), currents.back());
    EXPECT_EQ(retained(broker.port(), "talviren/m1/reading"), "") << "readings are not retained";
}

// a × b × factor (plain decimals such as "12.34") as the nearest double to the exact decimal.
double exactProduct(const QString& a, const QString& b, const QString& factor = "1") {
    qint64 mantissa = 1;
    int scale = 0;
    for (const QString& number : {a, b, factor}) {
        const qsizetype point = number.indexOf('.');
        const QString digits = QString(number).remove('.');
        mantissa *= digits.toLongLong();
        scale += point < 0 ? 0 : static_cast<int>(number.size() - point - 1);
    }
    QString text = QString::number(mantissa).rightJustified(scale + 1, '0');
    text.insert(text.size() - scale, '.');
    return text.toDouble();
}

TEST(Mqtt, PowerAndEnergyFollowTheCsvAndHomeAssistantGetsTheirSensors) {
    Broker broker;
    ASSERT_TRUE(broker.start());
    QTemporaryDir config;
    SimProcess sim(config.path());
    ASSERT_TRUE(sim.start({"--port", "5", "--function", "1"}));
    Subscriber sub(broker.port(), {"talviren/#", "homeassistant/#"});
    ASSERT_TRUE(sub.ready());
    CliProcess cli(config.path(),
                   {"watch", "--port", "5", "--duration", "4", "--power-factor", "0.95", "--mqtt",
                    broker.url(), "--meter-id", "p1", "--homeassistant"});
    ASSERT_TRUE(cli.finished(15000));
    EXPECT_EQ(cli.process.exitCode(), 0) << cli.errors().toStdString();
    ASSERT_TRUE(sub.waitForPayload("talviren/p1/status", "offline", 3000));

    // Each JSON against its CSV line: S = U × I exactly, P = S × 0.95, and the energy up to it,
    // integrated here from the CSV's times and values.
    const QStringList csv = cli.lines();
    const QStringList json = sub.payloads("talviren/p1/reading");
    ASSERT_GE(csv.size(), 6);
    ASSERT_EQ(json.size(), csv.size() - 1);
    double energy = 0;
    double previousVA = -1;
    qint64 previousMs = 0;
    int withPower = 0;
    for (qsizetype i = 0; i < json.size(); ++i) {
        const QJsonObject reading = QJsonDocument::fromJson(json[i].toUtf8()).object();
        const QStringList fields = csv[i + 1].split(',');
        ASSERT_EQ(fields.size(), 8);
        const qint64 ms = QDateTime::fromString(fields[0], Qt::ISODateWithMs).toMSecsSinceEpoch();
        const bool hasS = !fields[6].isEmpty() && !fields[7].isEmpty();
        if (!hasS) {
            EXPECT_TRUE(reading.value("apparent_power").isNull()) << json[i].toStdString();
            EXPECT_TRUE(reading.value("power").isNull()) << json[i].toStdString();
            previousVA = -1;
        } else {
            ++withPower;
            const double va = exactProduct(fields[6], fields[7]);
            const QJsonObject s = reading.value("apparent_power").toObject();
            EXPECT_EQ(s.value("value").toDouble(), va) << json[i].toStdString();
            EXPECT_EQ(s.value("unit").toString(), "VA");
            const QJsonObject p = reading.value("power").toObject();
            EXPECT_EQ(p.value("value").toDouble(), exactProduct(fields[6], fields[7], "0.95"));
            EXPECT_EQ(p.value("unit").toString(), "W");
            EXPECT_EQ(p.value("power_factor").toDouble(), 0.95);
            if (previousVA >= 0 && ms - previousMs <= 1250) {
                energy += (previousVA + va) / 2 * static_cast<double>(ms - previousMs) / 3.6e6;
            }
            previousVA = va;
            previousMs = ms;
        }
        const QJsonObject e = reading.value("energy").toObject();
        EXPECT_NEAR(e.value("apparent_vah").toDouble(), energy, 0.00006) << i;
        EXPECT_NEAR(e.value("wh").toDouble(), energy * 0.95, 0.00006) << i;
    }
    EXPECT_GT(energy, 0);
    EXPECT_EQ(sub.payloads("talviren/p1/apparent_power").size(), withPower);
    EXPECT_EQ(sub.payloads("talviren/p1/power").size(), withPower);
    EXPECT_NEAR(retained(broker.port(), "talviren/p1/energy").toDouble(), energy * 0.95 / 1000,
                1e-7);
    EXPECT_TRUE(cli.errors().contains(" readings over ")) << cli.errors().toStdString();

    struct Sensor {
        const char* key;
        const char* unit;
        const char* deviceClass;
        const char* stateClass;
    };
    const Sensor sensors[] = {{"apparent_power", "VA", "apparent_power", "measurement"},
                              {"power", "W", "power", "measurement"},
                              {"energy", "kWh", "energy", "total_increasing"}};
    for (const Sensor& sensor : sensors) {
        const QString id = QStringLiteral("talviren_p1_") + sensor.key;
        const QJsonObject c =
            QJsonDocument::fromJson(
                retained(broker.port(), "homeassistant/sensor/" + id + "/config").toUtf8())
                .object();
        EXPECT_EQ(c.value("state_topic").toString(), QStringLiteral("talviren/p1/") + sensor.key);
        EXPECT_EQ(c.value("unit_of_measurement").toString(), sensor.unit);
        EXPECT_EQ(c.value("device_class").toString(), sensor.deviceClass);
        EXPECT_EQ(c.value("state_class").toString(), sensor.stateClass);
        EXPECT_EQ(c.value("device").toObject().value("identifiers").toArray().first().toString(),
                  "talviren_p1");
    }

    // A run without a power factor takes back the sensors of power and energy.
    CliProcess again(config.path(), {"watch", "--port", "5", "--duration", "1.5", "--mqtt",
                                     broker.url(), "--meter-id", "p1", "--homeassistant"});
    ASSERT_TRUE(again.finished(15000));
    EXPECT_EQ(again.process.exitCode(), 0) << again.errors().toStdString();
    EXPECT_EQ(retained(broker.port(), "homeassistant/sensor/talviren_p1_power/config"), "");
    EXPECT_EQ(retained(broker.port(), "homeassistant/sensor/talviren_p1_energy/config"), "");
    EXPECT_NE(retained(broker.port(), "homeassistant/sensor/talviren_p1_apparent_power/config"),
              "");
    const QStringList plain = again.lines();
    ASSERT_GE(plain.size(), 2);
    EXPECT_EQ(plain[0], "time,function,name1,text1,name2,text2,value1,value2")
        << "standard output keeps its columns";
}

TEST(Mqtt, AlarmStatesEventsAndTheirHomeAssistantSensors) {
    Broker broker;
    ASSERT_TRUE(broker.start());
    QTemporaryDir config;
    SimProcess sim(config.path());
    ASSERT_TRUE(sim.start({"--port", "9", "--function", "1"}));
    // An alarm of an earlier run, which this one no longer has.
    QProcess::execute("mosquitto_pub",
                      {"-h", "127.0.0.1", "-p", QString::number(broker.port()), "-r", "-t",
                       "homeassistant/binary_sensor/talviren_a1_alarm_gone/config", "-m", "{}"});
    Subscriber sub(broker.port(), {"talviren/#"});
    ASSERT_TRUE(sub.ready());
    // Above 14 A after about 2 s, under 13 A after about 8.6 s.
    CliProcess cli(config.path(), {"watch", "--port", "9", "--duration", "10", "--alarm",
                                   "hi: current > 14A clear 13A", "--alarm", "never: current > 99A",
                                   "--mqtt", broker.url(), "--meter-id", "a1", "--homeassistant"});
    ASSERT_TRUE(cli.finished(20000));
    EXPECT_EQ(cli.process.exitCode(), 0) << cli.errors().toStdString();
    ASSERT_TRUE(sub.waitForPayload("talviren/a1/status", "offline", 3000));
    EXPECT_EQ(sub.payloads("talviren/a1/alarm/hi"), (QStringList{"OFF", "ON", "OFF"}));
    EXPECT_EQ(sub.payloads("talviren/a1/alarm/never"), QStringList{"OFF"});
    const QStringList events = sub.payloads("talviren/a1/event");
    ASSERT_EQ(events.size(), 2);
    const QJsonObject raised = QJsonDocument::fromJson(events[0].toUtf8()).object();
    EXPECT_EQ(raised.value("alarm").toString(), "hi");
    EXPECT_EQ(raised.value("state").toString(), "raised");
    EXPECT_EQ(raised.value("condition").toString(), "current > 14A");
    const QJsonObject value = raised.value("value").toObject();
    EXPECT_EQ(value.value("name").toString(), "AC I");
    EXPECT_GT(value.value("value").toDouble(), 14);
    EXPECT_EQ(value.value("text").toString(),
              QString::number(value.value("value").toDouble()) + "A");
    // The event's reading is one of the readings published, at the same time.
    bool same = false;
    for (const QString& reading : sub.payloads("talviren/a1/reading")) {
        const QJsonObject r = QJsonDocument::fromJson(reading.toUtf8()).object();
        same = same ||
               (r.value("time") == raised.value("time") && r.value("current").toObject() == value);
    }
    EXPECT_TRUE(same) << events[0].toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(events[1].toUtf8()).object().value("state").toString(),
              "cleared");

    const QJsonObject sensor =
        QJsonDocument::fromJson(
            retained(broker.port(), "homeassistant/binary_sensor/talviren_a1_alarm_hi/config")
                .toUtf8())
            .object();
    EXPECT_EQ(sensor.value("device_class").toString(), "problem");
    EXPECT_EQ(sensor.value("state_topic").toString(), "talviren/a1/alarm/hi");
    EXPECT_EQ(sensor.value("payload_on").toString(), "ON");
    EXPECT_EQ(sensor.value("payload_off").toString(), "OFF");
    EXPECT_EQ(sensor.value("device").toObject().value("identifiers").toArray().first().toString(),
              "talviren_a1");
    EXPECT_EQ(retained(broker.port(), "homeassistant/binary_sensor/talviren_a1_alarm_gone/config"),
              "")
        << "the alarm no longer configured is taken back";
    EXPECT_EQ(retained(broker.port(), "talviren/a1/alarm/hi"), "OFF");
}

TEST(Mqtt, AKilledCliLeavesItsLastWill) {
    Broker broker;
    ASSERT_TRUE(broker.start());
    QTemporaryDir config;
    Subscriber sub(broker.port(), {"talviren/#"});
    ASSERT_TRUE(sub.ready());
    // No meter at all: the status is about talviren-cli, not the meter.
    CliProcess cli(config.path(),
                   {"watch", "--port", "9", "--mqtt", broker.url(), "--meter-id", "w"});
    ASSERT_TRUE(sub.waitForPayload("talviren/w/status", "online", 5000))
        << cli.errors().toStdString();
    ::kill(static_cast<pid_t>(cli.process.processId()), SIGKILL);
    EXPECT_TRUE(sub.waitForPayload("talviren/w/status", "offline", 5000));
    EXPECT_EQ(retained(broker.port(), "talviren/w/status"), "offline");
}

TEST(Mqtt, ABrokerKilledAndRestartedMidRunLosesNoReading) {
    Broker broker;
    ASSERT_TRUE(broker.start());
    QTemporaryDir config;
    SimProcess sim(config.path());
    ASSERT_TRUE(sim.start({"--port", "2", "--function", "1"}));
    // A subscriber with a persistent session of its own.
    Subscriber sub(broker.port(), {"talviren/r/reading"}, {"-c", "-i", "restart-subscriber"});
    ASSERT_TRUE(sub.ready());
    CliProcess cli(config.path(), {"watch", "--port", "2", "--duration", "16", "--mqtt",
                                   broker.url(), "--meter-id", "r"});
    ASSERT_TRUE(waitFor([&] { return seqs(sub, "talviren/r").size() >= 4; }, 8000))
        << cli.errors().toStdString();
    ASSERT_TRUE(broker.saved()) << "the subscriber's session";
    broker.kill();
    ASSERT_TRUE(waitFor([&] { return cli.errors().contains(" lost ("); }, 5000))
        << cli.errors().toStdString();
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(cli.finished(25000));
    EXPECT_EQ(cli.process.exitCode(), 0) << cli.errors().toStdString();
    const int last = static_cast<int>(cli.lines().size()) - 1;
    ASSERT_GT(last, 8) << "readings before, during and after the outage";
    EXPECT_TRUE(deliveredInOrder(sub, "talviren/r", last));
    EXPECT_TRUE(toldOnce(cli.errors(), " lost (", " is back;"));
}

TEST(Mqtt, ABrokerThatIsDownAtStartGetsEveryReadingWhenItComes) {
    Broker broker;
    // A subscriber with a persistent session, known to the broker before it goes down: what
    // is published when the broker is back is kept for it until it reconnects.
    const QStringList session = {"-c", "-i", "late-subscriber"};
    ASSERT_TRUE(broker.start());
    {
        Subscriber registered(broker.port(), {"talviren/late/reading"}, session);
        ASSERT_TRUE(registered.ready());
    }
    ASSERT_TRUE(broker.saved()) << "the session";
    broker.stop();
    QTemporaryDir config;
    SimProcess sim(config.path());
    ASSERT_TRUE(sim.start({"--port", "4", "--function", "3"}));
    CliProcess cli(config.path(), {"watch", "--port", "4", "--duration", "10", "--mqtt",
                                   broker.url(), "--meter-id", "late"});
    ASSERT_TRUE(waitFor([&] { return cli.lines().size() >= 4; }, 6000)) << "the CSV never waits";
    ASSERT_TRUE(broker.start());
    Subscriber sub(broker.port(), {"talviren/late/reading"}, session);
    ASSERT_TRUE(cli.finished(20000));
    EXPECT_EQ(cli.process.exitCode(), 0);
    const int last = static_cast<int>(cli.lines().size()) - 1;
    EXPECT_TRUE(deliveredInOrder(sub, "talviren/late", last));
    EXPECT_TRUE(toldOnce(cli.errors(), "is not reachable", " is back;"));
    // The reason as the system gave it when the connection failed, not a later errno's.
    const QString errors = cli.errors();
    const qsizetype reason = errors.indexOf("is not reachable (");
    if (reason >= 0) {
        EXPECT_EQ(errors.mid(reason + 18, 19), "Connection refused)") << errors.toStdString();
    }
}

TEST(Mqtt, APasswordFileLogsInAndAWrongPasswordIsRefusedWithExitFive) {
    Broker probe; // only for a free port and a folder
    const QString passwords = probe.path("passwords");
    ASSERT_EQ(QProcess::execute("mosquitto_passwd", {"-c", "-b", passwords, "alice", "s3cret"}), 0);
    Broker broker(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous false\npassword_file ") +
                  passwords + "\n");
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    QTemporaryDir config;
    const QString file = config.filePath("password");
    {
        QFile f(file);
        f.open(QIODevice::WriteOnly);
        f.write("s3cret\n");
    }
    const CliRun good =
        runCli(config.path(),
               {"watch", "--port", "9", "--duration", "2", "--mqtt", broker.url("alice"),
                "--mqtt-password-file", file, "--meter-id", "p"},
               10000);
    EXPECT_EQ(good.exitCode, 0) << good.errors.toStdString();
    EXPECT_EQ(retained(broker.port(), "talviren/p/status", {"-u", "alice", "-P", "s3cret"}),
              "offline");
    QProcessEnvironment wrong;
    wrong.insert("TALVIREN_MQTT_PASSWORD", "guess");
    const CliRun refused = runCli(
        config.path(), {"watch", "--port", "9", "--mqtt", broker.url("alice"), "--meter-id", "p"},
        10000, wrong);
    EXPECT_EQ(refused.exitCode, 5) << refused.errors.toStdString();
    const QStringList lines =
        refused.errors.split('\n', Qt::SkipEmptyParts).filter("talviren-cli:");
    ASSERT_EQ(lines.size(), 1) << refused.errors.toStdString();
    EXPECT_TRUE(lines[0].contains("refused")) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains("Connection Refused: ")) << "the broker's reason";
}

// A CA and a broker certificate for localhost, made with openssl for the test.
bool makeCertificates(const QString& dir) {
    const auto run = [&](const QStringList& arguments) {
        QProcess openssl;
        openssl.setWorkingDirectory(dir);
        openssl.start(QStringLiteral("openssl"), arguments);
        return openssl.waitForFinished(30000) && openssl.exitCode() == 0;
    };
    QFile extensions(dir + "/san.ext");
    extensions.open(QIODevice::WriteOnly);
    extensions.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n");
    extensions.close();
    for (const char* ca : {"ca", "other"}) {
        if (!run({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                  QStringLiteral("/CN=talviren test %1").arg(ca), "-keyout",
                  QStringLiteral("%1.key").arg(ca), "-out", QStringLiteral("%1.pem").arg(ca)})) {
            return false;
        }
    }
    return run({"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-keyout",
                "broker.key", "-out", "broker.csr"}) &&
           run({"x509", "-req", "-in", "broker.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                "-CAcreateserial", "-days", "2", "-extfile", "san.ext", "-out", "broker.pem"});
}

TEST(Mqtt, TlsWithTheTestCaWorksAndACertificateThatDoesNotVerifyEndsWithExitFive) {
    QTemporaryDir certs;
    ASSERT_TRUE(makeCertificates(certs.path()));
    Broker broker(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\ncafile ") +
                  certs.filePath("ca.pem") + "\ncertfile " + certs.filePath("broker.pem") +
                  "\nkeyfile " + certs.filePath("broker.key") + "\n");
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    QTemporaryDir config;
    const QString url = QStringLiteral("mqtts://localhost:%1").arg(broker.port());
    const CliRun good = runCli(config.path(),
                               {"watch", "--port", "9", "--duration", "2", "--mqtt", url,
                                "--mqtt-ca", certs.filePath("ca.pem"), "--meter-id", "t"},
                               10000);
    EXPECT_EQ(good.exitCode, 0) << good.errors.toStdString();
    EXPECT_TRUE(good.errors.contains("MQTT: connected to localhost:")) << good.errors.toStdString();
    EXPECT_EQ(retained(broker.port(), "talviren/t/status",
                       {"--cafile", certs.filePath("ca.pem"), "-h", "localhost"}),
              "offline");
    const CliRun bad = runCli(config.path(),
                              {"watch", "--port", "9", "--mqtt", url, "--mqtt-ca",
                               certs.filePath("other.pem"), "--meter-id", "t"},
                              10000);
    EXPECT_EQ(bad.exitCode, 5) << bad.errors.toStdString();
    const QStringList lines = bad.errors.split('\n', Qt::SkipEmptyParts).filter("talviren-cli:");
    ASSERT_EQ(lines.size(), 1) << bad.errors.toStdString();
    EXPECT_TRUE(lines[0].contains("certificate verify failed")) << lines[0].toStdString();
}

} // namespace
