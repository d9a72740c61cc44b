// talviren-cli watch --http against talviren-sim on a pseudo-terminal: the event stream read by
// a plain client and resumed, every limit of the security list over the wire, a real
// Prometheus scraping it, and what the command line refuses.

#include "HttpTestSupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <set>

using namespace talviren;
using namespace talviren::testing;

namespace {

// The simulator on a port, and then talviren-cli serving it over HTTP.
struct Served {
    explicit Served(int comPort, const QStringList& extra = {}) : httpPort(freeTcpPort()) {
        simStarted = sim.start({"--port", QString::number(comPort), "--function", "1"});
        process.emplace(config.path(),
                        QStringList{"watch", "--port", QString::number(comPort), "--http",
                                    QString::number(httpPort), "--meter-id", "bench"} +
                            extra);
    }
    // The server listens and the meter answers.
    bool ready() {
        return simStarted &&
               waitFor([&] { return cli().errors().contains("connected on COM"); }, 12000) &&
               cli().errors().contains("serving http://127.0.0.1:" + QString::number(httpPort));
    }
    CliProcess& cli() { return *process; }

    QTemporaryDir config;
    SimProcess sim{config.path()};
    bool simStarted = false;
    quint16 httpPort;
    std::optional<CliProcess> process;
};

bool consecutive(const std::vector<int>& ids) {
    for (std::size_t i = 1; i < ids.size(); ++i) {
        if (ids[i] != ids[i - 1] + 1) {
            return false;
        }
    }
    return !ids.empty();
}

TEST(WebCli, EventsReadByAPlainClientResumeWhereTheyLeftOff) {
    Served served(7);
    ASSERT_TRUE(served.ready()) << served.cli().errors().toStdString();
    EventStreamClient first(served.httpPort);
    ASSERT_TRUE(waitFor([&] { return first.readingIds().size() >= 3; }, 8000));
    EXPECT_EQ(first.statusLine(), "HTTP/1.1 200 OK");
    const auto events = first.events();
    EXPECT_EQ(events.front().name, "link");
    EXPECT_TRUE(events.front().data.contains("\"state\":\"connected\",\"port\":7"));
    for (const auto& event : events) {
        if (event.name == "reading") {
            const QJsonObject reading = QJsonDocument::fromJson(event.data).object();
            EXPECT_EQ(reading["seq"].toInt(), event.id.toInt());
            EXPECT_EQ(reading["current"].toObject()["unit"].toString(), "A");
            EXPECT_EQ(reading["second"].toObject()["name"].toString(), "AC U");
            EXPECT_TRUE(reading["apparent_power"].toObject()["value"].isDouble());
        }
    }
    const std::vector<int> before = first.readingIds();
    EXPECT_TRUE(consecutive(before));
    first.socket().abort();
    QTest::qWait(1300); // two or three readings go by unseen

    EventStreamClient resumed(served.httpPort,
                              "Last-Event-ID: " + QByteArray::number(before.back()) + "\r\n");
    ASSERT_TRUE(waitFor([&] { return resumed.readingIds().size() >= 4; }, 8000));
    const std::vector<int> after = resumed.readingIds();
    EXPECT_EQ(after.front(), before.back() + 1) << "nothing lost, nothing twice";
    EXPECT_TRUE(consecutive(after));

    const HttpReply kept =
        httpExchange(served.httpPort, httpRequest("GET", "/api/readings?since=" +
                                                             QByteArray::number(before.back())));
    ASSERT_EQ(kept.status, 200);
    EXPECT_EQ(kept.header("Content-Type"), "application/json");
    EXPECT_TRUE(kept.header("Talviren-Missed").isEmpty());
    const QJsonArray readings = QJsonDocument::fromJson(kept.body).array();
    ASSERT_GE(readings.size(), 4);
    for (int i = 0; i < readings.size(); ++i) {
        EXPECT_EQ(readings[i].toObject()["seq"].toInt(), before.back() + 1 + i);
    }
}

TEST(WebCli, EveryLimitOfTheSecurityListHolds) {
    QTemporaryDir folder;
    const QString tokenFile = folder.filePath("token");
    ASSERT_TRUE(writeTextFile(tokenFile, "s3cret\n"));
    Served served(8, {"--http-token-file", tokenFile});
    ASSERT_TRUE(served.ready()) << served.cli().errors().toStdString();
    const QByteArray bearer = "Authorization: Bearer s3cret\r\n";
    // Padding that makes a request exactly `size` bytes long.
    const auto sized = [](int size) {
        const QByteArray empty = httpRequest("GET", "/metrics?token=s3cret", "X-Pad: \r\n");
        return httpRequest("GET", "/metrics?token=s3cret",
                           "X-Pad: " + QByteArray(size - empty.size(), 'a') + "\r\n");
    };
    struct Case {
        const char* what;
        QByteArray request;
        int status;
    };
    const Case cases[] = {
        {"no token", httpRequest("GET", "/metrics"), 401},
        {"a wrong bearer token", httpRequest("GET", "/metrics", "Authorization: Bearer x\r\n"),
         401},
        {"a wrong token parameter", httpRequest("GET", "/?token=s3cre"), 401},
        {"the bearer token", httpRequest("GET", "/metrics", bearer), 200},
        {"the token parameter", httpRequest("GET", "/api/state?token=s3cret"), 200},
        {"HEAD", httpRequest("HEAD", "/", bearer), 200},
        {"POST", httpRequest("POST", "/metrics", bearer + "Content-Length: 3\r\n") + "a=1", 405},
        {"PUT", httpRequest("PUT", "/api/readings", bearer), 405},
        {"DELETE", httpRequest("DELETE", "/", bearer), 405},
        {"OPTIONS", httpRequest("OPTIONS", "/metrics", bearer), 405},
        {"an unknown path", httpRequest("GET", "/admin", bearer), 404},
        {"a file's path", httpRequest("GET", "/usr/share/javascript/dygraphs/dygraph.js", bearer),
         404},
        {"a way up", httpRequest("GET", "/%2e%2e/%2e%2e/etc/passwd", bearer), 404},
        {"8 KiB of request line and headers", sized(8192), 200},
        {"one byte more", sized(8193), 431},
        {"a request line of 9 KiB",
         httpRequest("GET", "/metrics?token=s3cret&x=" + QByteArray(9216, 'a')), 431},
    };
    for (const Case& c : cases) {
        const HttpReply reply = httpExchange(served.httpPort, c.request);
        EXPECT_EQ(reply.status, c.status) << c.what;
        if (c.status == 401) {
            EXPECT_EQ(reply.header("WWW-Authenticate"), "Bearer realm=\"talviren\"");
        } else if (c.status == 405) {
            EXPECT_EQ(reply.header("Allow"), "GET, HEAD");
        } else if (c.request.startsWith("HEAD")) {
            EXPECT_TRUE(reply.body.isEmpty());
            EXPECT_EQ(reply.header("Content-Type"), "text/html; charset=utf-8");
        }
    }

    // 64 clients at once, each on an event stream; one more is turned away until one leaves.
    std::vector<std::unique_ptr<EventStreamClient>> clients;
    for (int i = 0; i < 64; ++i) {
        clients.push_back(
            std::make_unique<EventStreamClient>(served.httpPort, bearer, "/api/events"));
    }
    ASSERT_TRUE(waitFor(
        [&] {
            return std::all_of(clients.begin(), clients.end(),
                               [](auto& c) { return c->readingIds().size() >= 1; });
        },
        10000));
    const HttpReply full = httpExchange(served.httpPort, httpRequest("GET", "/metrics", bearer));
    EXPECT_EQ(full.status, 503);
    EXPECT_EQ(full.header("Retry-After"), "5");
    clients.back()->socket().abort();
    clients.pop_back();
    EXPECT_TRUE(waitFor(
        [&] {
            return httpExchange(served.httpPort, httpRequest("GET", "/metrics", bearer)).status ==
                   200;
        },
        5000));
    const std::size_t seen = clients.front()->readingIds().size();
    EXPECT_TRUE(waitFor([&] { return clients.front()->readingIds().size() > seen; }, 3000))
        << "the streams go on";
}

// Prometheus as Debian packages it, scraping with the bearer token from a file.
class Prometheus {
public:
    Prometheus(quint16 target, const QString& tokenFile) : port_(freeTcpPort()) {
        const QString config = dir_.filePath("prometheus.yml");
        writeTextFile(config, QStringLiteral("global:\n"
                                             "  scrape_interval: 1s\n"
                                             "  scrape_timeout: 1s\n"
                                             "scrape_configs:\n"
                                             "  - job_name: talviren\n"
                                             "    authorization:\n"
                                             "      credentials_file: %1\n"
                                             "    static_configs:\n"
                                             "      - targets: ['127.0.0.1:%2']\n")
                                  .arg(tokenFile)
                                  .arg(target)
                                  .toUtf8());
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(QStringLiteral("prometheus"),
                       {"--config.file=" + config, "--storage.tsdb.path=" + dir_.filePath("data"),
                        "--web.listen-address=127.0.0.1:" + QString::number(port_)});
    }
    ~Prometheus() {
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished();
        }
    }
    // The instant vector of a query.
    QJsonArray query(const QByteArray& expression) {
        const HttpReply reply =
            httpExchange(port_, httpRequest("GET", "/api/v1/query?query=" + expression), 2000);
        const QJsonObject answer = QJsonDocument::fromJson(reply.body).object();
        return answer["data"].toObject()["result"].toArray();
    }
    QString log() { return QString::fromUtf8(process_.readAll()); }

private:
    QTemporaryDir dir_;
    quint16 port_;
    QProcess process_;
};

TEST(WebCli, PrometheusScrapesTheCurrentValueAndPromtoolPassesTheMetrics) {
    QTemporaryDir folder;
    const QString tokenFile = folder.filePath("token");
    ASSERT_TRUE(writeTextFile(tokenFile, "scrape-me\n"));
    Served served(9, {"--http-token-file", tokenFile, "--power-factor", "0.9", "--alarm",
                      "hi: current > 1A"});
    ASSERT_TRUE(served.ready()) << served.cli().errors().toStdString();
    Prometheus prometheus(served.httpPort, tokenFile);
    QJsonArray current;
    ASSERT_TRUE(waitFor(
        [&] {
            current = prometheus.query("talviren_current_amperes");
            return !current.isEmpty();
        },
        30000))
        << prometheus.log().toStdString();
    const QJsonObject sample = current[0].toObject();
    const QJsonObject labels = sample["metric"].toObject();
    EXPECT_EQ(labels["meter"].toString(), "bench");
    EXPECT_EQ(labels["job"].toString(), "talviren");
    // The value scraped is one the meter gave: a current printed on standard output.
    std::set<QString> printed;
    for (const QString& line : served.cli().lines().mid(1)) {
        printed.insert(line.split(',').value(6));
    }
    const QString value = sample["value"].toArray()[1].toString();
    EXPECT_TRUE(printed.count(value)) << value.toStdString();
    const QJsonArray alarm = prometheus.query("talviren_alarm_active");
    ASSERT_EQ(alarm.size(), 1);
    EXPECT_EQ(alarm[0].toObject()["metric"].toObject()["alarm"].toString(), "hi");
    EXPECT_EQ(alarm[0].toObject()["value"].toArray()[1].toString(), "1");
    EXPECT_FALSE(prometheus.query("talviren_energy_joules_total").isEmpty());

    const HttpReply metrics = httpExchange(
        served.httpPort, httpRequest("GET", "/metrics", "Authorization: Bearer scrape-me\r\n"));
    ASSERT_EQ(metrics.status, 200);
    EXPECT_EQ(metrics.header("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
    QProcess promtool;
    promtool.start(QStringLiteral("promtool"), {"check", "metrics"});
    promtool.write(metrics.body);
    promtool.closeWriteChannel();
    ASSERT_TRUE(promtool.waitForFinished(10000));
    EXPECT_EQ(promtool.exitCode(), 0) << promtool.readAll().toStdString();
}

TEST(WebCli, APortInUseExitsOneAndBadValuesExitTwoEachWithOneLine) {
    QTemporaryDir config;
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
    const QString port = QString::number(taken.serverPort());
    const CliRun busy = runCli(config.path(), {"watch", "--http", port, "--duration", "5"}, 10000);
    EXPECT_EQ(busy.exitCode, 1);
    EXPECT_EQ(busy.errors.trimmed(),
              "talviren-cli: cannot listen on 127.0.0.1:" + port + ": Address already in use");
    for (const QStringList& arguments :
         {QStringList{"watch", "--http", "abc"}, QStringList{"watch", "--http", "70000"},
          QStringList{"watch", "--http", "1.2.3.4.5:80"}}) {
        const CliRun run = runCli(config.path(), arguments, 5000);
        EXPECT_EQ(run.exitCode, 2);
        const QStringList lines = run.errors.split('\n', Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 2) << run.errors.toStdString();
        EXPECT_TRUE(lines[0].startsWith("talviren-cli: --http ")) << lines[0].toStdString();
    }
}

} // namespace
