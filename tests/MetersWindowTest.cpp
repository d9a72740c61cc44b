// Several meters in the window against the real programs: talviren-sim on local ports,
// talviren-cli watch --http loggers, a server that answers garbage, a wrong token, a logger
// started again, and a connection cut for ten seconds.

#include "HttpTestSupport.h"
#include "QtTestSupport.h"

#include "time/TimeReader.h"
#include "ui/LinkTexts.h"
#include "ui/MainWindow.h"
#include "ui/MetersView.h"
#include "ui/TrendView.h"

#include <QLabel>
#include <QTabBar>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <cmath>
#include <set>

using namespace talviren;
using namespace talviren::testing;

namespace {

// The times of the readings a logger printed on standard output.
std::set<std::int64_t> printedTimes(const QStringList& lines) {
    std::set<std::int64_t> times;
    TimeReader reader;
    for (const QString& line : lines) {
        if (const auto ms = reader.read(line.section(',', 0, 0).toStdString())) {
            times.insert(*ms);
        }
    }
    return times;
}

std::set<std::int64_t> recordedTimes(const Recording& recording) {
    std::set<std::int64_t> times;
    const TrendHistory& history = recording.history();
    for (std::size_t i = 0; i < history.size(); ++i) {
        times.insert(history[i].wallMs);
    }
    return times;
}

// Whether the window has the newest reading the logger printed.
bool caughtUp(const QStringList& printedLines, const Recording& recording) {
    const std::set<std::int64_t> printed = printedTimes(printedLines);
    return !printed.empty() && recordedTimes(recording).contains(*printed.rbegin());
}

// A logger on a simulator, serving its page on a port of its own.
struct Logger {
    Logger(const QString& config, int port, const QStringList& more = {})
        : sim(config), http(freeTcpPort()), config_(config), port_(port), more_(more) {
        sim.start({"--port", QString::number(port), "--function", "1"});
        start();
    }
    void start() {
        cli = std::make_unique<CliProcess>(
            config_, QStringList{"watch", "--port", QString::number(port_), "--http",
                                 QString::number(http), "--power-factor", "0.9"} +
                         more_);
        // Up before anything else takes a free port: it may be this one.
        waitFor([this] { return cli->errors().contains("serving http://"); }, 5000);
    }
    void stop() {
        printed += cli->lines();
        cli->process.terminate();
        cli->finished(8000);
    }
    QStringList allPrinted() { return printed + cli->lines(); }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/").arg(http); }

    SimProcess sim;
    quint16 http;
    std::unique_ptr<CliProcess> cli;
    QStringList printed; // by runs that ended

private:
    QString config_;
    int port_;
    QStringList more_;
};

// Forwards 127.0.0.1:port to a logger, and can cut every connection for a while.
class CuttingProxy : public QObject {
public:
    CuttingProxy(quint16 target) : target_(target), port_(freeTcpPort()) {
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* client = server_.nextPendingConnection()) {
                if (cut_) {
                    ++refused_;
                    client->abort();
                    client->deleteLater();
                    continue;
                }
                auto* upstream = new QTcpSocket(client);
                upstream->connectToHost(QHostAddress::LocalHost, target_);
                // What the client sent before the logger answered goes once it has.
                const auto forward = [client, upstream] {
                    if (upstream->state() == QAbstractSocket::ConnectedState) {
                        upstream->write(client->readAll());
                    }
                };
                connect(upstream, &QTcpSocket::connected, client, forward);
                connect(client, &QTcpSocket::readyRead, upstream, forward);
                connect(upstream, &QTcpSocket::readyRead, client,
                        [client, upstream] { client->write(upstream->readAll()); });
                connect(upstream, &QTcpSocket::disconnected, client, &QTcpSocket::close);
                connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
                clients_.push_back(client);
            }
        });
        listen();
    }
    void listen() {
        cut_ = false;
        if (!server_.isListening()) {
            server_.listen(QHostAddress::LocalHost, port_);
        }
    }
    // Every connection goes, and each one tried is cut at once until listen() again.
    void cut() {
        cut_ = true;
        for (QTcpSocket* client : clients_) {
            if (client) {
                client->abort();
            }
        }
        clients_.clear();
    }
    quint16 port() const { return port_; }
    // The connections tried while cut.
    int refused() const { return refused_; }

private:
    bool cut_ = false;
    int refused_ = 0;
    quint16 target_;
    quint16 port_;
    QTcpServer server_;
    std::vector<QPointer<QTcpSocket>> clients_;
};

const Meter& meterNamed(MainWindow& w, const char* name) {
    return *w.fleet().meter(name);
}

QString linkOf(MainWindow& w, const char* name) {
    return linkText(meterNamed(w, name).linkStatus());
}

TEST(MetersWindow, LocalPortsRemoteLoggersTheirSumAlarmsAndALoggerStartedAgain) {
    QTemporaryDir config;
    ::setenv("XDG_CONFIG_HOME", qPrintable(config.path()), 1);
    SimProcess own(config.path()), second(config.path());
    ASSERT_TRUE(own.start({"--port", "1", "--function", "1"}));
    ASSERT_TRUE(second.start({"--port", "3", "--function", "1"}));
    Logger cellar(config.path(), 4);
    const QString token = config.filePath("token");
    ASSERT_TRUE(writeTextFile(token, "right\n"));
    ASSERT_TRUE(writeTextFile(config.filePath("wrong"), "wrong\n"));
    Logger guarded(config.path(), 5, {"--http-token-file", token});
    // A server that is no talviren logger.
    QTcpServer garbage;
    ASSERT_TRUE(garbage.listen(QHostAddress::LocalHost));
    QObject::connect(&garbage, &QTcpServer::newConnection, [&] {
        QTcpSocket* s = garbage.nextPendingConnection();
        s->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 6\r\n\r\n<html>");
        s->disconnectFromHost();
    });
    ASSERT_TRUE(writeTextFile(
        config.filePath("talviren/talviren.conf"),
        QStringLiteral("[meters]\nL1=scan\nL2=COM3\nL3=%1\nL4=%2 token-file %3\nL5=%2 token-file "
                       "%4\nL6=http://127.0.0.1:%5/\n\n[alarms]\nl2=L2.current > 1A\n"
                       "sum=total.apparent_power > 1VA\n\n[trend]\npower_factor=0.95\n")
            .arg(cellar.url(), guarded.url(), token, config.filePath("wrong"))
            .arg(garbage.serverPort())
            .toUtf8()));
    MainWindow w;
    w.serialPort().setDeviceLister([] { return std::vector<std::string>{}; });
    w.show();
    ASSERT_EQ(w.fleet().meters().size(), 6u);
    // Every sum is the sum of the meters' S at that moment, worked out here from the values.
    struct Check : PhaseSumListener {
        MeterFleet& fleet;
        int checked = 0, wrong = 0;
        explicit Check(MeterFleet& f) : fleet(f) {}
        void sumAdded(const SumPoint& point) override {
            double va = 0;
            for (const Meter* m : fleet.meters()) {
                const auto& latest = m->latest();
                if (latest && latest->raw.function == 1 && latest->current && latest->second) {
                    va += latest->current->value() * latest->second->value();
                }
            }
            ++checked;
            wrong += std::abs(va - point.va()) > 1e-6 * va ? 1 : 0;
        }
    } check(w.fleet());
    w.fleet().sum().addListener(&check);
    ASSERT_TRUE(waitFor(
        [&] {
            return linkOf(w, "L1") == "connected on COM1" &&
                   linkOf(w, "L2") == "connected on COM3" &&
                   linkOf(w, "L3").startsWith("connected to 127.0.0.1") &&
                   linkOf(w, "L4").startsWith("connected to") && check.checked >= 6;
        },
        20000))
        << linkOf(w, "L1").toStdString() << " | " << linkOf(w, "L3").toStdString();
    EXPECT_EQ(linkOf(w, "L5"), "wrong token");
    EXPECT_EQ(linkOf(w, "L6"), "not a talviren logger: it answers text/html");
    EXPECT_EQ(check.wrong, 0) << "of " << check.checked;
    ASSERT_NE(w.fleet().sum().latest(), std::nullopt);
    EXPECT_EQ(w.fleet().sum().latest()->meters, 4u);
    EXPECT_TRUE(w.fleet().sum().latest()->realPower)
        << "each has a power factor: the PF or its own";
    // The tiles and the banner, as a screen reader hears them.
    w.TabStrip1->setCurrentIndex(3);
    ASSERT_TRUE(waitFor(
        [&] { return w.metersView->tiles()[2].current->text().startsWith("AC I: "); }, 3000));
    const MetersView::Tile& l3 = w.metersView->tiles()[2];
    EXPECT_EQ(l3.link->accessibleName(), "L3 link");
    EXPECT_EQ(l3.link->accessibleDescription(), l3.link->text());
    EXPECT_TRUE(l3.current->text().startsWith("AC I: "));
    EXPECT_TRUE(w.metersView->totalPower->text().startsWith(QString::fromUtf8("\u03A3 S ")));
    EXPECT_EQ(w.metersView->totalPower->accessibleName(), "total power");
    ASSERT_TRUE(waitFor(
        [&] {
            const QString banner = w.trendView->alarmBanner->text();
            return banner.contains("L2 current") && banner.contains("total apparent_power");
        },
        5000))
        << w.trendView->alarmBanner->text().toStdString();

    // The logger stops and starts again (its readings counting from 1): nothing it printed is
    // missing from the window.
    cellar.stop();
    ASSERT_TRUE(waitFor([&] { return linkOf(w, "L3").startsWith("offline since"); }, 5000));
    cellar.start();
    ASSERT_TRUE(waitFor([&] { return cellar.cli->lines().size() >= 8; }, 20000));
    ASSERT_TRUE(waitFor(
        [&] { return caughtUp(cellar.allPrinted(), meterNamed(w, "L3").recording()); }, 5000));
    const std::set<std::int64_t> printed = printedTimes(cellar.allPrinted());
    const std::set<std::int64_t> recorded = recordedTimes(meterNamed(w, "L3").recording());
    ASSERT_GT(printed.size(), 10u);
    std::vector<std::int64_t> missing;
    for (const std::int64_t t : printed) {
        if (t <= *recorded.rbegin() && !recorded.contains(t)) {
            missing.push_back(t);
        }
    }
    EXPECT_TRUE(missing.empty()) << missing.size() << " of " << printed.size()
                                 << " missing, the first "
                                 << (missing.empty() ? 0 : missing.front() - *printed.begin())
                                 << " ms after the first printed, of "
                                 << *printed.rbegin() - *printed.begin();
    w.fleet().sum().removeListener(&check);
    cellar.stop();
    guarded.stop();
}

// A connection cut for three tries (after 1, 2 and 4 s), resumed after the last reading the
// window has; every reading the logger printed is in the window.
TEST(MetersWindow, AConnectionCutForThreeTriesLosesNothing) {
    QTemporaryDir config;
    ::setenv("XDG_CONFIG_HOME", qPrintable(config.path()), 1);
    Logger cellar(config.path(), 6);
    CuttingProxy proxy(cellar.http);
    ASSERT_TRUE(writeTextFile(config.filePath("talviren/talviren.conf"),
                              QStringLiteral("[meters]\nlocal=scan\ncellar=http://127.0.0.1:%1/\n")
                                  .arg(proxy.port())
                                  .toUtf8()));
    MainWindow w;
    w.serialPort().setDeviceLister([] { return std::vector<std::string>{}; });
    ASSERT_TRUE(waitFor([&] { return linkOf(w, "cellar").startsWith("connected to"); }, 10000))
        << linkOf(w, "cellar").toStdString();
    ASSERT_TRUE(
        waitFor([&] { return meterNamed(w, "cellar").recording().history().size() >= 4; }, 5000));
    proxy.cut();
    const std::size_t printedBeforeCut = printedTimes(cellar.allPrinted()).size();
    ASSERT_TRUE(waitFor([&] { return linkOf(w, "cellar").startsWith("offline since"); }, 3000))
        << linkOf(w, "cellar").toStdString();
    ASSERT_TRUE(waitFor([&] { return proxy.refused() >= 3; }, 15000)) << proxy.refused();
    // Readings went by unseen while the line was cut.
    ASSERT_TRUE(waitFor(
        [&] { return printedTimes(cellar.allPrinted()).size() >= printedBeforeCut + 6; }, 10000));
    proxy.listen();
    ASSERT_TRUE(waitFor([&] { return linkOf(w, "cellar").startsWith("connected to"); }, 20000));
    ASSERT_TRUE(waitFor(
        [&] { return caughtUp(cellar.allPrinted(), meterNamed(w, "cellar").recording()); }, 5000));
    const std::set<std::int64_t> printed = printedTimes(cellar.allPrinted());
    const std::set<std::int64_t> recorded = recordedTimes(meterNamed(w, "cellar").recording());
    int missing = 0;
    for (const std::int64_t t : printed) {
        missing += t <= *recorded.rbegin() && !recorded.contains(t) ? 1 : 0;
    }
    EXPECT_EQ(missing, 0) << "of " << printed.size();
    EXPECT_EQ(meterNamed(w, "cellar").missedReadings(), 0u);
    cellar.stop();
}

} // namespace
