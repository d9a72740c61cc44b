// talviren-bench: the measurements behind docs/performance.md, run by ./scripts/bench.
// Each command prints "name<TAB>value<TAB>unit" lines; every value is a median of several runs.

#include "FakeLink.h"
#include "HttpTestSupport.h"
#include "QtTestSupport.h"
#include "RecordBlocks.h"

#include "cli/QtIoLoop.h"
#include "export/AtomicFile.h"
#include "export/FileTypes.h"
#include "export/TextFiles.h"
#include "export/TrendFiles.h"
#include "export/Workbook.h"
#include "link/PortNaming.h"
#include "link/Protocol.h"
#include "log/CsvLog.h"
#include "log/CsvLogWriter.h"
#include "mqtt/MqttPublisher.h"
#include "mqtt/ReadingMessages.h"
#include "power/PowerTally.h"
#include "records/RecordDecoder.h"
#include "session/QtSerialPort.h"
#include "session/QtTimer.h"
#include "sim/MeterSimulator.h"
#include "time/TimeReader.h"
#include "trend/HistoryReadings.h"
#include "trend/ReadingStatistics.h"
#include "ui/DesktopNotifier.h"
#include "ui/MainWindow.h"
#include "ui/RecordTableModel.h"
#include "ui/TrendChart.h"
#include "ui/TrendCurve.h"
#include "ui/TrendView.h"
#include "web/HttpServer.h"
#include "web/LiveFeed.h"
#include "web/WebPage.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QSocketNotifier>
#include <QTabBar>
#include <QTableView>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <mosquitto.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace talviren;
using Clock = std::chrono::steady_clock;

namespace {

// What a child process's application is made with: the program's name alone.
struct ChildArguments {
    int argc = 1;
    char name[15] = "talviren-bench";
    char* argv[2] = {name, nullptr};
};

// Runs a real event loop (as the program does, without the test helpers' naps between
// rounds) until the condition holds or the time is up.
template <typename Condition> bool waitUntil(Condition condition, int timeoutMs) {
    if (condition()) {
        return true;
    }
    QEventLoop loop;
    QTimer check;
    check.setInterval(5);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (condition()) {
            loop.quit();
        }
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    check.start();
    loop.exec();
    return condition();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void report(const char* name, double value, const char* unit) {
    std::printf("%s\t%.3f\t%s\n", name, value, unit);
    std::fflush(stdout);
}

double residentMegabytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atof(line.c_str() + 6) / 1024.0;
        }
    }
    return 0;
}

std::vector<std::uint8_t> block(int readings) {
    return sim::MeterSimulator::makeStoredBlock(readings, 11);
}

RecordTable largestTable() {
    RecordTable table;
    talviren::testing::showBlock(table, block(25755), 25755, ".");
    return table;
}

int decode() {
    for (int readings : {4681, 25755}) {
        const auto bytes = block(readings);
        std::vector<double> times;
        for (int run = 0; run < 15; ++run) {
            RecordTable table;
            RecordTableModel model(table);
            const auto start = Clock::now();
            talviren::testing::showBlock(table, bytes, readings, ".");
            times.push_back(msSince(start));
        }
        report(("decode_" + std::to_string(readings)).c_str(), median(times), "ms");
    }
    return 0;
}

int save(const char* folder) {
    const RecordTable table = largestTable();
    struct Format {
        const char* name;
        const char* file;
    };
    for (const Format& f : {Format{"save_txt", "t.txt"}, Format{"save_xls", "t.xls"},
                            Format{"save_xlsx", "t.xlsx"}}) {
        std::vector<double> times;
        for (int run = 0; run < 7; ++run) {
            const std::string path = std::string(folder) + "/" + f.file;
            std::string error;
            const auto start = Clock::now();
            SaveData data;
            data.table = &table;
            // Each as talviren-cli download writes it, chosen by its name.
            const bool ok =
                writeDataFile(chooseFileType(SaveView::Download, 0, path), data, path, error);
            times.push_back(msSince(start));
            if (!ok) {
                std::fprintf(stderr, "%s\n", error.c_str());
                return 1;
            }
        }
        report(f.name, median(times), "ms");
    }
    return 0;
}

int dump(const char* path) {
    const RecordTable table = largestTable();
    std::ofstream out(path, std::ios::binary);
    for (int r = 0; r < table.rows(); ++r) {
        for (int c = 0; c < table.columns(); ++c) {
            out << (c ? "\t" : "") << table.cell(r, c);
        }
        out << '\n';
    }
    return 0;
}

// A pseudo-terminal whose far end this process answers itself, pinned as COM1.
struct OwnTerminal {
    OwnTerminal() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        ::grantpt(master);
        ::unlockpt(master);
        slavePath = ::ptsname(master);
        slave = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY);
        termios settings{};
        ::tcgetattr(slave, &settings);
        ::cfmakeraw(&settings);
        ::tcsetattr(slave, TCSANOW, &settings);
        std::filesystem::create_directories(ports::pinnedPortsFolder());
        std::filesystem::remove(ports::pinnedPortLink(1));
        std::filesystem::create_symlink(slavePath, ports::pinnedPortLink(1));
    }
    ~OwnTerminal() {
        ::close(slave);
        ::close(master);
    }
    int master = -1;
    int slave = -1;
    std::string slavePath;
};

// From the last byte of a live reply written to the line to the label showing it, through the
// window's presenter.
class LatencyView : public LinkView {
public:
    explicit LatencyView(bool showLabel) : showLabel_(showLabel) {}
    void showRealtime(const RealtimeDisplay& display) override {
        if (showLabel_) {
            label.setText(QString::fromStdString(display.value(0)));
        }
        if (waiting) {
            samples.push_back(msSince(lastByte));
            waiting = false;
        }
    }
    void showPortStatus(const std::string&, const PortDetail&) override {}
    void showLinkStatus(const std::string&) override {}
    void showDownloadProgress(int, int) override {}
    void hideDownloadProgress() override {}
    QLabel label;
    Clock::time_point lastByte;
    bool waiting = false;
    std::vector<double> samples;

private:
    bool showLabel_;
};

// A week of readings at 2 Hz into the statistics: the time per reading, and the heap it takes.
int statistics() {
    constexpr int kWeek = 7 * 24 * 3600 * 2;
    std::vector<TimedReading> day;
    for (int i = 0; i < 2000; ++i) {
        TimedReading r;
        const MeterReading raw{static_cast<std::uint8_t>(1 + i % 3), 1000 + i % 900,
                               static_cast<std::uint8_t>(i % 6), 500 + i % 1700,
                               static_cast<std::uint8_t>(i % 2)};
        static_cast<DecodedReading&>(r) = decodeReading(raw, ".");
        day.push_back(r);
    }
    ReadingStatistics stats;
    stats.add(day[0]);
    const double heapBefore = testing::heapInUseMegabytes();
    const auto start = Clock::now();
    for (int i = 0; i < kWeek; ++i) {
        TimedReading& r = day[static_cast<std::size_t>(i) % day.size()];
        r.wallMs = i * 500LL;
        stats.add(r);
    }
    const double ms = msSince(start);
    const double growth = (testing::heapInUseMegabytes() - heapBefore) * 1024 * 1024;
    report("stats_week_us_per_reading", ms * 1000 / kWeek, "us");
    report("stats_week_heap_growth", growth, "bytes");
    report("stats_size", static_cast<double>(sizeof stats), "bytes");
    return stats.of(QuantityKind::AcCurrent).count > 0 ? 0 : 1;
}

// Live readings over a pseudo-terminal this process answers itself. With the label: the time
// from the reply's last byte to the label. Without it: the time from the receive handler through
// the session to the statistics and the CSV line written, the path every reading takes.
int liveReadings(bool label) {
    QTemporaryDir config;
    ::setenv("XDG_CONFIG_HOME", qPrintable(config.path()), 1);
    OwnTerminal terminal;
    MeterSession session;
    QtSerialPort& port = session.port();
    port.setDeviceLister([] { return std::vector<std::string>{}; });
    MeterLink& link = session.link();
    LatencyView observer(label);
    LinkPresenter presenter(observer);
    session.addConsumer(&presenter);
    // The session's recording takes every reading into its history and statistics, and writes
    // its CSV line; an MQTT publisher queues it (no broker: it stays queued).
    std::unique_ptr<mqtt::MqttPublisher> publisher;
    if (!label) {
        std::string error;
        session.recording().startLog(config.filePath("stream.csv").toStdString(), error);
        mqtt::MqttSettings settings;
        settings.host = "127.0.0.1";
        settings.port = 1; // nobody there
        settings.meterId = "bench";
        settings.topicPrefix = "talviren/bench";
        publisher = std::make_unique<mqtt::MqttPublisher>(
            settings, ".",
            mqtt::MqttPublisher::Reporting{[](const std::string&) {}, [](const std::string&) {}});
        publisher->start(error);
        publisher->listenTo(session.recording());
    }
    std::vector<double> arrival;
    std::vector<double> stream;
    port.setDataHandler([&] {
        if (observer.waiting && port.bytesWaiting() >= 7) {
            arrival.push_back(msSince(observer.lastByte));
        }
        const std::size_t before = session.recording().history().size();
        const auto start = Clock::now();
        link.MSComm1_OnComm();
        if (session.recording().history().size() > before) {
            stream.push_back(msSince(start));
        }
    });
    link.startUp();
    int count = 0;
    QSocketNotifier notifier(terminal.master, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        std::uint8_t commands[16];
        const ssize_t n = ::read(terminal.master, commands, sizeof commands);
        for (ssize_t i = 0; i < n; ++i) {
            if (commands[i] == 5) {
                (void)!::write(terminal.master, "\xD5\x55\x55", 3);
            } else if (commands[i] == 35) {
                ++count;
                const std::uint8_t reply[7] = {
                    1, static_cast<std::uint8_t>(10 + count % 50), 34, 1, 23, 13, 0};
                (void)!::write(terminal.master, reply, 6);
                ::usleep(2000); // the last byte comes on its own, as on the wire
                (void)!::write(terminal.master, reply + 6, 1);
                observer.lastByte = Clock::now();
                observer.waiting = true;
            }
        }
    });
    waitUntil([&] { return observer.samples.size() >= 25; }, 30000);
    if (observer.samples.size() < 25) {
        std::fprintf(stderr, "only %zu live replies\n", observer.samples.size());
        return 1;
    }
    if (std::getenv("TALVIREN_BENCH_DEBUG")) {
        report("arrival_median", median(arrival), "ms");
    }
    if (!label) {
        publisher->stopListening();
        report("stream_median", median(stream), "ms");
        report("stream_max", *std::max_element(stream.begin(), stream.end()), "ms");
        const DurableLog* log = session.recording().log();
        return log && log->linesWritten() >= 25 && publisher->queued() >= 25 ? 0 : 1;
    }
    report("latency_median", median(observer.samples), "ms");
    report("latency_max", *std::max_element(observer.samples.begin(), observer.samples.end()),
           "ms");
    return 0;
}

// Child: prints the wall clock at the window's first paint, then the memory figures.
class FirstPaint : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && !seen) {
            seen = true;
            const auto now = std::chrono::system_clock::now().time_since_epoch();
            std::printf("painted\t%lld\n",
                        static_cast<long long>(
                            std::chrono::duration_cast<std::chrono::microseconds>(now).count()));
            std::fflush(stdout);
        }
        return false;
    }
    bool seen = false;
};

int startupChild() {
    ChildArguments arguments;
    QApplication app(arguments.argc, arguments.argv);
    MainWindow window;
    window.serialPort().setDeviceLister([] { return std::vector<std::string>{}; });
    FirstPaint paint;
    window.installEventFilter(&paint);
    window.show();
    waitUntil([&] { return paint.seen; }, 5000);
    waitUntil([] { return false; }, 300);
    report("rss_startup", residentMegabytes(), "MB");
    window.TabStrip1->setCurrentIndex(1);
    auto& table = const_cast<RecordTable&>(window.recordTable());
    talviren::testing::showBlock(table, block(25755), 25755, ".");
    window.DataGrid->scrollToBottom();
    waitUntil([] { return false; }, 300);
    window.DataGrid->scrollToTop();
    waitUntil([] { return false; }, 300);
    report("rss_largest_table", residentMegabytes(), "MB");
    return 0;
}

int startup(const char* self) {
    std::vector<double> times;
    std::vector<double> rssStart;
    std::vector<double> rssLarge;
    for (int run = 0; run < 9; ++run) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(env);
        const auto wall = std::chrono::system_clock::now().time_since_epoch();
        const long long startUs =
            std::chrono::duration_cast<std::chrono::microseconds>(wall).count();
        child.start(QString::fromLocal8Bit(self), {QStringLiteral("startup-child")});
        child.waitForFinished(30000);
        for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> fields = line.split('\t');
            if (fields.size() >= 2 && fields[0] == "painted") {
                times.push_back(static_cast<double>(fields[1].toLongLong() - startUs) / 1000.0);
            } else if (fields.size() >= 2 && fields[0] == "rss_startup") {
                rssStart.push_back(fields[1].toDouble());
            } else if (fields.size() >= 2 && fields[0] == "rss_largest_table") {
                rssLarge.push_back(fields[1].toDouble());
            }
        }
    }
    if (times.empty() || rssStart.empty() || rssLarge.empty()) {
        std::fprintf(stderr, "the start-up child reported nothing\n");
        return 1;
    }
    report("startup_to_first_paint", median(times), "ms");
    report("rss_startup", median(rssStart), "MB");
    report("rss_largest_table", median(rssLarge), "MB");
    return 0;
}

// ---- Trend view --------------------------------------------------------------------------

constexpr int kMonthReadings = 30 * 24 * 3600 * 2;

// Live reading i of a simulated run at 2 Hz: the simulator's moving values, its function
// cycling every ten seconds, a pause now and then, an overload among them.
TimedReading simulatedReading(int i) {
    static const sim::MeterSimulator meter(sim::SimulatorOptions{});
    auto bytes = meter.liveReading(i * 0.5);
    if (i % 997 == 0) {
        bytes[4] = 80;
    }
    TimedReading reading;
    static_cast<DecodedReading&>(reading) = decodeReading(*MeterReading::fromBytes(bytes), ".");
    const std::int64_t pause = i / 5000 * 3000; // three seconds lost every 5,000 readings
    reading.wallMs = 1'765'000'000'000 + i * 500LL + pause;
    reading.steadyNs = (i * 500LL + pause) * 1'000'000;
    return reading;
}

// A month of AC voltage readings at 2 Hz into the power tally (S, its statistics and energy):
// what power adds to every reading's path. And the MQTT messages of a reading with a power
// factor, which the publisher builds when the broker can take them.
int power() {
    std::vector<TimedReading> readings;
    for (int i = 0; i < 4000; ++i) {
        TimedReading r;
        static_cast<DecodedReading&>(r) =
            decodeReading(MeterReading{kAcCurrentAcVoltage, 1000 + i % 900,
                                       static_cast<std::uint8_t>(i % 5), 2200 + i % 300, 0},
                          ".");
        readings.push_back(r);
    }
    std::vector<double> perReading;
    double energy = 0;
    for (int run = 0; run < 7; ++run) {
        PowerTally tally;
        const auto start = Clock::now();
        for (int i = 0; i < kMonthReadings; ++i) {
            const TimedReading& r = readings[static_cast<std::size_t>(i) % readings.size()];
            tally.add(r.raw, i * 500LL, i * 500LL, i % 5000 == 0);
        }
        perReading.push_back(msSince(start) * 1000 / kMonthReadings);
        energy = tally.apparentEnergyVAh();
    }
    report("power_tally_us_per_reading", median(perReading), "us");
    // The same readings as DC voltage without a power factor carry no power: the difference is
    // what power adds to the messages.
    std::vector<TimedReading> dc = readings;
    for (TimedReading& r : dc) {
        r.raw.function = kAcCurrentDcVoltage;
        static_cast<DecodedReading&>(r) = decodeReading(r.raw, ".");
    }
    std::size_t messages = 0;
    const auto messagesUs = [&](const std::vector<TimedReading>& list,
                                std::optional<PowerFactor> factor) {
        mqtt::MqttSettings settings;
        settings.topicPrefix = "talviren/bench";
        settings.powerFactor = factor;
        std::vector<double> times;
        for (int run = 0; run < 7; ++run) {
            const auto start = Clock::now();
            for (int i = 0; i < 20'000; ++i) {
                messages +=
                    mqtt::readingMessages(settings, static_cast<std::uint64_t>(i),
                                          list[static_cast<std::size_t>(i) % list.size()], energy)
                        .size();
            }
            times.push_back(msSince(start) * 1000 / 20'000);
        }
        return median(times);
    };
    report("power_mqtt_messages_us", messagesUs(readings, PowerFactor{950'000}), "us");
    report("power_mqtt_messages_without_us", messagesUs(dc, std::nullopt), "us");
    return energy > 0 && messages > 0 ? 0 : 1;
}

// Opens the one file it is given.
struct GivenFile : OpenDialog {
    QStringList paths;
    QStringList exec(const QString&, const QString&) override { return paths; }
};

struct TrendBench {
    TrendBench() {
        view.setNotify([](const QString&, const QString& text) {
            std::fprintf(stderr, "%s\n", qPrintable(text));
        });
        view.resize(553, 495);
        view.show();
        view.setPowerFactorText(QStringLiteral("0.95")); // the power row shows P
        waitUntil([] { return false; }, 100);
    }
    void feed(int count) {
        for (int i = 0; i < count; ++i) {
            live.add(simulatedReading(i));
        }
    }
    // Median time of a full redraw of the chart with the given span.
    double repaintMs(TrendChart::Span span) {
        view.chart->setSpan(span);
        view.chart->follow();
        std::vector<double> times;
        for (int run = 0; run < 15; ++run) {
            const auto start = Clock::now();
            view.chart->replot(QCustomPlot::rpImmediateRefresh);
            times.push_back(msSince(start));
        }
        return median(times);
    }
    testing::ScriptedDialog saveDialog;
    GivenFile openDialog;
    RunSettings settings;
    Meter meter{defaultMeters().front()};
    Recording& live = meter.recording();
    FleetCore fleet{settings};
    bool given = (fleet.setMeters({&meter}), true);
    TrendView view{fleet, saveDialog, openDialog};
};

int trend(const char* folder) {
    const std::string base(folder);
    {
        // One live reading into history, statistics, chart and log, the drawing apart.
        TrendBench bench;
        const QString log = QString::fromStdString(base + "/live.csv");
        bench.saveDialog.answers.push_back({log, 1});
        bench.view.setLogging(true);
        std::vector<double> times;
        for (int i = 0; i < 400; ++i) {
            const TimedReading reading = simulatedReading(i);
            const auto start = Clock::now();
            bench.live.add(reading);
            times.push_back(msSince(start));
            QCoreApplication::processEvents(); // the queued redraw and table refresh
        }
        report("trend_reading_median", median(times), "ms");
    }
    TrendBench bench;
    bench.feed(172'800);
    report("trend_repaint_day", bench.repaintMs(TrendChart::Span::Day), "ms");
    TrendBench month;
    month.feed(kMonthReadings);
    report("trend_repaint_month_all", month.repaintMs(TrendChart::Span::All), "ms");
    report("trend_repaint_month_day", month.repaintMs(TrendChart::Span::Day), "ms");

    const TrendHistory& history = month.live.history();
    const HistoryReadings readings(history, history.size(), ".");
    const std::string csv = base + "/month.csv";
    const std::string xlsx = base + "/month.xlsx";
    std::string error;
    std::vector<double> csvTimes;
    for (int run = 0; run < 3; ++run) {
        const auto start = Clock::now();
        if (!writeReadingsCsv(readings, csv, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        csvTimes.push_back(msSince(start));
    }
    report("trend_save_csv", median(csvTimes) / 1000, "s");
    const auto start = Clock::now();
    if (!writeReadingsWorkbook(readings, xlsx, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    report("trend_save_xlsx", msSince(start) / 1000, "s");

    std::vector<double> openTimes;
    for (int run = 0; run < 3; ++run) {
        TrendBench opener;
        opener.openDialog.paths = {QString::fromStdString(csv)};
        const auto opened = Clock::now();
        opener.view.openLog();
        openTimes.push_back(msSince(opened));
        if (opener.view.chart->currentCurve()->series()->size() != history.size()) {
            std::fprintf(stderr, "the log did not open whole\n");
            return 1;
        }
    }
    report("trend_open_log", median(openTimes) / 1000, "s");
    report("trend_month_readings", static_cast<double>(history.size()), "readings");
    return 0;
}

// A month of the simulated readings as 30 daily logs, DIR/day-01.csv to day-30.csv, as the
// service writes them with --output DIR/day-%d.csv.
int writeMonth(const char* folder) {
    Recording recording;
    recording.keepLatestOnly();
    std::string error;
    if (!recording.startLog(std::string(folder) + "/day-%d.csv", error, 0, 1'765'000'000'000)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    for (int i = 0; i < kMonthReadings; ++i) {
        recording.add(simulatedReading(i));
    }
    recording.stopLog();
    return 0;
}

// Opens the logs given, as the Trend view's Open does: the time, with every line read.
int openLogs(const std::vector<QString>& paths) {
    std::vector<double> times;
    for (int run = 0; run < 3; ++run) {
        TrendBench opener;
        opener.openDialog.paths = QStringList(paths.begin(), paths.end());
        const auto opened = Clock::now();
        opener.view.openLog();
        times.push_back(msSince(opened));
        if (opener.view.chart->currentCurve()->series()->size() == 0) {
            std::fprintf(stderr, "the logs did not open\n");
            return 1;
        }
    }
    report("trend_open_month_of_days", median(times) / 1000, "s");
    return 0;
}

// Child: the whole window holding a month of live readings under "All", then its memory.
int trendMemoryChild() {
    ChildArguments arguments;
    QApplication app(arguments.argc, arguments.argv);
    MainWindow window;
    window.serialPort().setDeviceLister([] { return std::vector<std::string>{}; });
    window.show();
    window.TabStrip1->setCurrentIndex(2);
    for (int i = 0; i < kMonthReadings; ++i) {
        window.session().recording().add(simulatedReading(i));
    }
    window.trendView->spanButtons[4]->click();
    waitUntil([] { return false; }, 300);
    window.trendView->chart->replot(QCustomPlot::rpImmediateRefresh);
    waitUntil([] { return false; }, 300);
    report("rss_trend_month", residentMegabytes(), "MB");
    return 0;
}

// Runs this program again as `command` (a memory figure wants a process of its own) and
// passes its figures on.
int runChild(const char* self, const char* command) {
    QProcess child;
    child.start(QString::fromLocal8Bit(self), {QString::fromLatin1(command)});
    child.waitForFinished(120000);
    std::fputs(child.readAllStandardOutput().constData(), stdout);
    return child.exitCode();
}

// ---- A year unattended ---------------------------------------------------------------------

// A year of readings at 2 Hz (63,072,000) through the path every reading takes in talviren-cli
// watch, on the readings' clock without waiting: the recording (newest reading only, the
// statistics and power as tallies), its CSV line to standard output and to the log (rotated
// every day, as logrotate does), 8 alarms, the web's feed with its hour, and the reading's MQTT
// messages as the publisher builds them while the broker is up. The resident memory after the
// first hour and at the end, and the time per reading in the first and the last hour.
int yearBench(const char* folder, long long readingCount) {
    constexpr long long kHour = 7200;
    constexpr long long kDay = 24 * kHour;
    std::vector<TimedReading> pool;
    for (int i = 0; i < 4000; ++i) {
        pool.push_back(simulatedReading(i));
    }
    const std::string log = std::string(folder) + "/year.csv";
    FILE* standardOutput = std::fopen("/dev/null", "w");
    Recording recording;
    recording.keepLatestOnly();
    std::string error;
    if (!standardOutput || !recording.startLog(log, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    AlarmEngine alarms;
    std::vector<AlarmRule> rules;
    for (const char* line : {"a: current > 14A for 2s clear 13A", "b: current < 10.5A",
                             "c: ac_voltage outside 226V..234V", "d: dc_voltage inside -1V..1V",
                             "e: resistance > 1.2kohm for 1m", "f: overload",
                             "g: apparent_power > 3kVA for 5s", "h: no-reading for 30s"}) {
        rules.push_back(*parseAlarm(line).rule);
    }
    alarms.configure(rules, std::nullopt, 0);
    web::LiveFeed feed(recording, alarms, std::nullopt);
    struct Path : RecordingListener {
        FILE* out;
        AlarmEngine& alarms;
        web::LiveFeed& feed;
        const Recording& recording;
        mqtt::MqttSettings settings;
        std::size_t messages = 0;
        Path(FILE* o, AlarmEngine& a, web::LiveFeed& f, const Recording& r)
            : out(o), alarms(a), feed(f), recording(r) {
            settings.topicPrefix = "talviren/bench";
        }
        void readingRecorded(const TimedReading& reading) override {
            std::fputs(csvlog::line(reading).c_str(), out);
            alarms.reading(reading);
            feed.readingRecorded(reading);
            messages += mqtt::readingMessages(settings, recording.liveCount(), reading,
                                              recording.power().apparentEnergyVAh())
                            .size();
        }
    } path(standardOutput, alarms, feed, recording);
    recording.addListener(&path);
    double firstHourUs = 0;
    double lastHourUs = 0;
    double rssFirstHour = 0;
    std::vector<double> hourly;
    auto hourStart = Clock::now();
    for (long long i = 0; i < readingCount; ++i) {
        TimedReading reading = pool[static_cast<std::size_t>(i % 4000)];
        reading.wallMs = 1'765'000'000'000 + i * 500;
        reading.steadyNs = i * 500'000'000;
        recording.add(reading);
        if (i % 1000 == 0) {
            recording.tickLog(systemClock().steadyNs()); // synced once a second of real time
        }
        if (i % kDay == kDay - 1) {
            std::remove(log.c_str()); // rotated away
            recording.reopenLog(systemClock().steadyNs());
        }
        if (i % kHour == kHour - 1) {
            hourly.push_back(msSince(hourStart) * 1000 / kHour);
            hourStart = Clock::now();
            if (i == kHour - 1) {
                firstHourUs = hourly.back();
                rssFirstHour = residentMegabytes();
            }
        }
    }
    lastHourUs = hourly.back();
    const double rssEnd = residentMegabytes();
    recording.removeListener(&path);
    recording.stopLog();
    std::fclose(standardOutput);
    std::remove(log.c_str());
    report("year_readings", static_cast<double>(readingCount), "readings");
    report("year_us_first_hour", firstHourUs, "us");
    report("year_us_last_hour", lastHourUs, "us");
    report("year_us_per_reading", median(hourly), "us");
    report("rss_year_first_hour", rssFirstHour, "MB");
    report("rss_year_end", rssEnd, "MB");
    report("rss_year_growth", rssEnd - rssFirstHour, "MB");
    return path.messages > 0 && recording.liveCount() == static_cast<std::uint64_t>(readingCount)
               ? 0
               : 1;
}

// ---- MQTT ----------------------------------------------------------------------------------

// A Mosquitto broker of the benchmark's own on a free port of 127.0.0.1.
struct BenchBroker {
    BenchBroker() : port(testing::freeTcpPort()) {
        QFile config(dir.filePath("mosquitto.conf"));
        config.open(QIODevice::WriteOnly);
        config.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\n"
                                    "max_queued_messages 0\nuser root\n")
                         .arg(port)
                         .toUtf8());
    }
    ~BenchBroker() {
        process.terminate();
        process.waitForFinished(3000);
    }
    bool start() {
        process.start(QStringLiteral("mosquitto"), {"-c", dir.filePath("mosquitto.conf")});
        return waitUntil(
            [this] {
                QTcpSocket socket;
                socket.connectToHost(QHostAddress::LocalHost, port);
                return socket.waitForConnected(50);
            },
            5000);
    }
    QTemporaryDir dir;
    quint16 port = 0;
    QProcess process;
};

// A subscriber in the library's own thread: notes the seq of each reading and when it came.
struct BenchSubscriber {
    explicit BenchSubscriber(quint16 port, const char* topic = "talviren/bench/reading")
        : topic(topic) {
        client = mosquitto_new(nullptr, true, this);
        mosquitto_message_callback_set(
            client, [](struct mosquitto*, void* self, const struct mosquitto_message* message) {
                auto* me = static_cast<BenchSubscriber*>(self);
                const QByteArray payload(static_cast<const char*>(message->payload),
                                         message->payloadlen);
                const auto at = Clock::now().time_since_epoch().count();
                const int seq = QJsonDocument::fromJson(payload).object().value("seq").toInt();
                // Readings come in order: the last seq and its time tell all.
                me->lastArrival.store(at);
                me->lastSeq.store(seq);
                me->count.fetch_add(1);
            });
        mosquitto_connect_callback_set(client, [](struct mosquitto* m, void* self, int) {
            auto* me = static_cast<BenchSubscriber*>(self);
            mosquitto_subscribe(m, nullptr, me->topic, 1);
            static_cast<BenchSubscriber*>(self)->subscribed.store(true);
        });
        mosquitto_loop_start(client);
        mosquitto_connect_async(client, "127.0.0.1", port, 30);
    }
    ~BenchSubscriber() {
        mosquitto_disconnect(client);
        mosquitto_loop_stop(client, true);
        mosquitto_destroy(client);
    }
    const char* topic;
    struct mosquitto* client = nullptr;
    std::atomic<bool> subscribed{false};
    std::atomic<int> lastSeq{0};
    std::atomic<int> count{0};
    std::atomic<Clock::rep> lastArrival{0};
};

std::unique_ptr<mqtt::MqttPublisher> benchPublisher(quint16 port) {
    mqtt::MqttSettings settings;
    settings.host = "127.0.0.1";
    settings.port = port;
    settings.meterId = "bench";
    settings.topicPrefix = "talviren/bench";
    auto publisher = std::make_unique<mqtt::MqttPublisher>(
        settings, ".",
        mqtt::MqttPublisher::Reporting{
            [](const std::string&) {},
            [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }});
    std::string error;
    if (!publisher->start(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return nullptr;
    }
    return publisher;
}

int mqttBench() {
    mosquitto_lib_init();
    {
        // One reading to a subscriber, again and again.
        BenchBroker broker;
        if (!broker.start()) {
            std::fprintf(stderr, "the broker did not start\n");
            return 1;
        }
        BenchSubscriber subscriber(broker.port);
        Recording recording; // outlives the publisher that listens to it
        auto publisher = benchPublisher(broker.port);
        if (!publisher ||
            !waitUntil([&] { return publisher->connected() && subscriber.subscribed; }, 5000)) {
            return 1;
        }
        publisher->listenTo(recording);
        waitUntil([] { return false; }, 200);
        std::vector<double> times;
        for (int i = 0; i < 60; ++i) {
            const TimedReading reading = simulatedReading(i);
            const auto start = Clock::now();
            recording.add(reading);
            waitUntil([&] { return subscriber.lastSeq.load() == i + 1; }, 2000);
            const Clock::time_point arrived{Clock::duration(subscriber.lastArrival.load())};
            times.push_back(std::chrono::duration<double, std::milli>(arrived - start).count());
            waitUntil([] { return false; }, 20);
        }
        report("mqtt_latency_median", median(times), "ms");
        publisher->finish(1000);
    }
    // An hour of readings queued while the broker is away, then the broker returns.
    constexpr int kHour = 7200;
    BenchBroker broker;
    Recording recording;
    auto publisher = benchPublisher(broker.port);
    publisher->listenTo(recording);
    for (int i = 0; i < kHour; ++i) {
        recording.add(simulatedReading(i));
    }
    if (!broker.start()) {
        return 1;
    }
    const auto back = Clock::now();
    BenchSubscriber subscriber(broker.port);
    waitUntil([&] { return subscriber.subscribed.load(); }, 5000);
    if (!waitUntil([&] { return publisher->connected(); }, 40000)) {
        std::fprintf(stderr, "the publisher did not reconnect\n");
        return 1;
    }
    const auto connected = Clock::now();
    waitUntil([&] { return subscriber.lastSeq.load() == kHour; }, 30000);
    const Clock::time_point last{Clock::duration(subscriber.lastArrival.load())};
    if (subscriber.lastSeq.load() != kHour || subscriber.count.load() < kHour) {
        std::fprintf(stderr, "only %d of %d readings arrived\n", subscriber.count.load(), kHour);
        return 1;
    }
    report("mqtt_outage_delivery", std::chrono::duration<double>(last - connected).count(), "s");
    report("mqtt_outage_reconnect", std::chrono::duration<double>(connected - back).count(), "s");
    publisher->finish(1000);
    return 0;
}

// Child: a day of readings queued for a broker that is not there, then the memory.
int mqttMemoryChild() {
    ChildArguments arguments;
    QCoreApplication app(arguments.argc, arguments.argv);
    BenchBroker nobody; // its port, never started
    Recording recording;
    auto publisher = benchPublisher(nobody.port);
    publisher->listenTo(recording);
    constexpr int kDay = 172'800;
    for (int i = 0; i < kDay + 100; ++i) {
        recording.add(simulatedReading(i));
    }
    report("rss_mqtt_day_queued", residentMegabytes(), "MB");
    report("mqtt_day_queued", static_cast<double>(publisher->queued()), "items");
    return 0;
}

// From "Read" to the filled table over a paced pseudo-terminal (talviren-sim at 960 bytes/s).
int download(int readings, int runs) {
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        testing::SerialRig rig;
        if (!rig.sim.start({"--port", "1", "--records", QString::number(readings)})) {
            std::fprintf(stderr, "the simulator did not start\n");
            return 1;
        }
        MeterLink& link = rig.link;
        waitUntil([&] { return testing::handedOver(link.state()); }, 15000);
        rig.session.setPolling(Polling::KeepAlive);
        // Press "Read" between polls, as a person would: the last live reply is in by then.
        waitUntil([] { return false; }, 700);
        const auto start = Clock::now();
        link.Button_read_Click();
        waitUntil([&] { return !rig.events.ended.empty(); },
                  static_cast<int>(20000 + readings * 7 * 1000 / 900));
        const double seconds = msSince(start) / 1000.0;
        if (rig.events.ended != std::vector<bool>{true} || rig.table.rows() != 2 * readings) {
            std::fprintf(stderr, "download of %d failed\n", readings);
            return 1;
        }
        times.push_back(seconds);
    }
    const double limit = 0.5 + (4.0 + 7.0 * readings) / 960.0;
    report(("download_" + std::to_string(readings)).c_str(), median(times), "s");
    report(("download_" + std::to_string(readings) + "_limit").c_str(), limit, "s");
    return 0;
}

// The window against the simulator for MINUTES: live readings, then a download in the Record
// view, over and over. Reports memory after the first round and at the end, and every fault.
int soak(double minutes) {
    QTemporaryDir config;
    ::setenv("XDG_CONFIG_HOME", qPrintable(config.path()), 1);
    constexpr int kReadings = 400;
    testing::SimProcess sim(config.path());
    if (!sim.start({"--port", "2", "--records", QString::number(kReadings), "--seed", "21"})) {
        std::printf("fault\tthe simulator did not start\n");
        return 1;
    }
    RecordTable expected;
    talviren::testing::showBlock(expected, sim::MeterSimulator::makeStoredBlock(kReadings, 21),
                                 kReadings, ".");

    MainWindow window;
    window.serialPort().setDeviceLister([] { return std::vector<std::string>{}; });
    window.show();
    int rounds = 0;
    int losses = 0;
    QTimer lossWatch;
    QString lastStatus;
    QObject::connect(&lossWatch, &QTimer::timeout, [&] {
        const QString status = window.Lab_consta->text();
        if (status != lastStatus && lastStatus == QLatin1String("Connected")) {
            ++losses;
            std::printf("fault\tlink lost in round %d\n", rounds);
        }
        lastStatus = status;
    });
    lossWatch.start(50);
    const auto end = Clock::now() + std::chrono::duration<double, std::ratio<60>>(minutes);
    int liveReadings = 0;
    int faults = 0;
    double rssFirst = 0;
    while (Clock::now() < end) {
        if (!waitUntil([&] { return testing::handedOver(window.link().state()); }, 20000)) {
            std::printf("fault\tno link in round %d\n", rounds);
            ++faults;
            continue;
        }
        window.TabStrip1->setCurrentIndex(0);
        QString last = window.Lab_value[0]->text();
        const auto liveEnd = Clock::now() + std::chrono::seconds(10);
        while (Clock::now() < liveEnd) {
            waitUntil([&] { return window.Lab_value[0]->text() != last; }, 1500);
            if (window.Lab_value[0]->text() != last) {
                ++liveReadings;
                last = window.Lab_value[0]->text();
            }
        }
        window.Button_clear_Click();
        window.TabStrip1->setCurrentIndex(1);
        window.Button_read_Click();
        const bool filled = waitUntil(
            [&] {
                return window.recordTable().rows() == 2 * kReadings &&
                       !downloading(window.link().state());
            },
            15000);
        bool same = filled;
        for (int r = 0; same && r < 2 * kReadings; ++r) {
            for (int c = 0; c < 7; ++c) {
                same = same && window.recordTable().cell(r, c) == expected.cell(r, c);
            }
        }
        if (!same) {
            std::printf("fault\tdownload of round %d incomplete or wrong: %d rows, link state %d\n",
                        rounds, window.recordTable().rows(), int(window.link().state()));
            ++faults;
        }
        ++rounds;
        if (rounds == 1) {
            rssFirst = residentMegabytes();
        }
    }
    report("soak_rounds", rounds, "rounds");
    report("soak_live_readings", liveReadings, "readings");
    report("soak_downloaded_readings", static_cast<double>(rounds) * kReadings, "readings");
    report("soak_link_losses", losses, "losses");
    faults += losses;
    report("soak_faults", faults, "faults");
    report("soak_rss_after_first_round", rssFirst, "MB");
    report("soak_rss_end", residentMegabytes(), "MB");
    return faults == 0 ? 0 : 1;
}

} // namespace

// ---- Alarms --------------------------------------------------------------------------------

// 32 alarms of every kind, a month of readings at 2 Hz through them: the time per reading.
int alarmsBench() {
    std::vector<AlarmRule> rules;
    const char* kinds[] = {"current > 14.5A for 2s clear 14A",
                           "current < 10A",
                           "ac_voltage outside 210V..250V for 1m",
                           "ac_voltage inside 231V..232V",
                           "dc_voltage > 12.4V",
                           "resistance < 1.2kohm for 500ms",
                           "apparent_power > 3.4kVA clear 3.3kVA",
                           "power < 2kW for 1h"};
    for (int i = 0; i < 32; ++i) {
        rules.push_back(*parseAlarm("a" + std::to_string(i) + ": " + kinds[i % 8]).rule);
    }
    AlarmEngine engine;
    engine.configure(rules, PowerFactor{900'000}, 0);
    struct Count : AlarmListener {
        void alarmChanged(const AlarmEvent&) override { ++events; }
        int events = 0;
    } count;
    engine.addListener(&count);
    std::vector<TimedReading> readings;
    for (int i = 0; i < 4000; ++i) {
        readings.push_back(simulatedReading(i));
    }
    std::vector<double> times;
    for (int run = 0; run < 5; ++run) {
        const auto start = Clock::now();
        for (int i = 0; i < kMonthReadings; ++i) {
            TimedReading& r = readings[static_cast<std::size_t>(i) % readings.size()];
            r.steadyNs = i * 500'000'000LL;
            engine.reading(r);
        }
        times.push_back(msSince(start) * 1000 / kMonthReadings);
    }
    report("alarms_32_us_per_reading", median(times), "us");
    return count.events > 0 ? 0 : 1;
}

// A notification service of the benchmark's own: notes when each call came.
class BenchNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    std::vector<Clock::time_point> calls;

public slots:
    uint Notify(const QString&, uint, const QString&, const QString&, const QString&,
                const QStringList&, const QVariantMap&, int) {
        calls.push_back(Clock::now());
        return static_cast<uint>(calls.size());
    }
};

// From the reading that raises an alarm to its event at an MQTT subscriber (broker on
// 127.0.0.1), and to the desktop notification at a service on a private session bus.
int alarmLatencyBench() {
    mosquitto_lib_init();
    AlarmEngine engine;
    engine.configure({*parseAlarm("hi: current > 13A").rule}, std::nullopt, 0);
    const auto raiseAndClear = [&engine](int i) {
        TimedReading r = simulatedReading(0);
        const MeterReading raw{1, i % 2 == 0 ? 1400 : 1200, 1, 2300, 0};
        static_cast<DecodedReading&>(r) = decodeReading(raw, ".");
        r.steadyNs = i * 500'000'000LL;
        engine.reading(r);
    };
    {
        BenchBroker broker;
        if (!broker.start()) {
            return 1;
        }
        BenchSubscriber subscriber(broker.port, "talviren/bench/event");
        auto publisher = benchPublisher(broker.port);
        if (!publisher ||
            !waitUntil([&] { return publisher->connected() && subscriber.subscribed; }, 5000)) {
            return 1;
        }
        publisher->listenToAlarms(engine);
        waitUntil([] { return false; }, 200);
        std::vector<double> times;
        for (int i = 0; i < 40; ++i) {
            const int before = subscriber.count.load();
            const auto start = Clock::now();
            raiseAndClear(i);
            if (!waitUntil([&] { return subscriber.count.load() > before; }, 2000)) {
                return 1;
            }
            const Clock::time_point arrived{Clock::duration(subscriber.lastArrival.load())};
            if (i % 2 == 0) {
                times.push_back(std::chrono::duration<double, std::milli>(arrived - start).count());
            }
        }
        publisher->stopListeningToAlarms();
        report("alarm_to_mqtt_event_median", median(times), "ms");
    }
    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address"});
    daemon.waitForReadyRead(5000);
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    QDBusConnection service = QDBusConnection::connectToBus(address, QStringLiteral("service"));
    BenchNotifications fake;
    if (!service.registerService(QStringLiteral("org.freedesktop.Notifications")) ||
        !service.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake,
                                QDBusConnection::ExportAllSlots)) {
        return 1;
    }
    {
        DesktopNotifier notifier(QDBusConnection::connectToBus(address, QStringLiteral("bench")));
        engine.addListener(&notifier);
        std::vector<double> times;
        for (int i = 0; i < 40; ++i) {
            const std::size_t before = fake.calls.size();
            const auto start = Clock::now();
            raiseAndClear(i);
            if (!waitUntil([&] { return fake.calls.size() > before; }, 2000)) {
                return 1;
            }
            if (i % 2 == 0) {
                times.push_back(
                    std::chrono::duration<double, std::milli>(fake.calls.back() - start).count());
            }
        }
        engine.removeListener(&notifier);
        report("alarm_to_notification_median", median(times), "ms");
    }
    daemon.terminate();
    daemon.waitForFinished(3000);
    return 0;
}

// ---- Web --------------------------------------------------------------------------------

// Event-stream clients in a thread of their own, each noting when each reading's id reached it.
class StreamClients {
public:
    static constexpr int kIds = 256;

    StreamClients(quint16 port, int count) : arrivals_(static_cast<std::size_t>(count)) {
        for (int i = 0; i < count; ++i) {
            const int fd = testing::connectLoopback(port);
            const char request[] = "GET /api/events HTTP/1.0\r\n\r\n";
            ::send(fd, request, sizeof request - 1, 0);
            fds_.push_back(fd);
        }
        thread_ = std::thread([this] { run(); });
    }
    ~StreamClients() {
        stop_ = true;
        thread_.join();
        for (const int fd : fds_) {
            ::close(fd);
        }
    }
    // When reading `id` reached client `client` (0: not yet).
    Clock::rep arrival(int client, int id) const {
        return arrivals_[static_cast<std::size_t>(client)][static_cast<std::size_t>(id)].load();
    }
    bool allHave(int id) const {
        for (std::size_t c = 0; c < arrivals_.size(); ++c) {
            if (arrival(static_cast<int>(c), id) == 0) {
                return false;
            }
        }
        return true;
    }

private:
    void run() {
        const int poll = ::epoll_create1(0);
        for (std::size_t c = 0; c < fds_.size(); ++c) {
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.u64 = c;
            ::epoll_ctl(poll, EPOLL_CTL_ADD, fds_[c], &event);
        }
        std::vector<std::string> carry(fds_.size());
        epoll_event ready[64];
        char buffer[65536];
        while (!stop_) {
            const int n = ::epoll_wait(poll, ready, 64, 50);
            const auto now = Clock::now().time_since_epoch().count();
            for (int i = 0; i < n; ++i) {
                const std::size_t c = ready[i].data.u64;
                const ssize_t got = ::recv(fds_[c], buffer, sizeof buffer, 0);
                if (got <= 0) {
                    ::epoll_ctl(poll, EPOLL_CTL_DEL, fds_[c], nullptr);
                    continue;
                }
                std::string& text = carry[c];
                text.append(buffer, static_cast<std::size_t>(got));
                std::size_t at = 0;
                while ((at = text.find("\nid: ", at)) != std::string::npos) {
                    const std::size_t end = text.find('\n', at + 5);
                    if (end == std::string::npos) {
                        break;
                    }
                    const int id = std::atoi(text.c_str() + at + 5);
                    if (id > 0 && id < kIds) {
                        arrivals_[c][static_cast<std::size_t>(id)].store(now);
                    }
                    at = end;
                }
                text.erase(0, at == std::string::npos
                                  ? text.size() - std::min<std::size_t>(text.size(), 16)
                                  : at);
            }
        }
        ::close(poll);
    }

    std::vector<int> fds_;
    std::vector<std::array<std::atomic<Clock::rep>, kIds>> arrivals_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// One request after another on a kept-alive connection, from a thread of its own: the time
// from the request's first byte to the reply's last.
std::vector<double> timedRequests(quint16 port, const std::string& request, int count) {
    std::vector<double> times;
    const int fd = testing::connectLoopback(port);
    char buffer[65536];
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        ::send(fd, request.data(), request.size(), 0);
        std::string reply;
        std::size_t expected = std::string::npos;
        while (expected == std::string::npos || reply.size() < expected) {
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0) {
                ::close(fd);
                return times;
            }
            reply.append(buffer, static_cast<std::size_t>(got));
            const std::size_t head = reply.find("\r\n\r\n");
            const std::size_t length = reply.find("Content-Length: ");
            if (expected == std::string::npos && head != std::string::npos &&
                length != std::string::npos) {
                expected = head + 4 + std::stoul(reply.substr(length + 16));
            }
        }
        times.push_back(msSince(start));
    }
    ::close(fd);
    return times;
}

// The web server in this process, fed the simulator's readings by hand: a reading to its
// event at 50 clients, the reading's own path (feed and streams) while they listen, /metrics,
// the page in headless Chromium with an hour of readings kept, and the heap the hour takes.
int webBench(const char* pageScript) {
    Recording recording;
    AlarmEngine alarms;
    alarms.configure({*parseAlarm("hi: current > 13A").rule}, PowerFactor{950'000}, 0);
    web::LiveFeed feed(recording, alarms, PowerFactor{950'000});
    recording.addListener(&feed);
    alarms.addListener(&feed);
    web::WebSite::Settings settings;
    settings.meterId = "bench";
    std::string warning;
    settings.page = web::webPage(web::kChartFolder, warning);
    web::WebSite site(feed, settings);
    cli::QtIoLoop loop;
    web::HttpServer server(site, feed, loop);
    std::string error;
    if (!server.listen({"127.0.0.1", 0}, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    feed.linkCameUp({1, "/dev/ttyUSB0"});
    int next = 1;
    const auto add = [&] {
        TimedReading reading = simulatedReading(next++);
        recording.add(reading);
        alarms.reading(reading);
    };
    {
        constexpr int kClients = 50;
        StreamClients clients(server.port(), kClients);
        if (!waitUntil([&] { return server.streams() == kClients; }, 5000)) {
            std::fprintf(stderr, "the clients did not connect\n");
            return 1;
        }
        std::vector<double> latencies;
        std::vector<double> paths;
        for (int round = 0; round < 60; ++round) {
            const int id = next;
            const auto start = Clock::now();
            add();
            paths.push_back(msSince(start) * 1000);
            if (!waitUntil([&] { return clients.allHave(id); }, 2000)) {
                std::fprintf(stderr, "reading %d did not reach every client\n", id);
                return 1;
            }
            for (int c = 0; c < kClients; ++c) {
                const Clock::time_point arrived{Clock::duration(clients.arrival(c, id))};
                latencies.push_back(
                    std::chrono::duration<double, std::milli>(arrived - start).count());
            }
            waitUntil([] { return false; }, 20);
        }
        std::sort(latencies.begin(), latencies.end());
        report("web_event_50_median", median(latencies), "ms");
        report("web_event_50_p99", latencies[latencies.size() * 99 / 100], "ms");
        report("web_reading_path", median(paths), "us");
    }
    // An hour of readings kept, as the page and /api/readings see it after an hour's run.
    const double heapBefore = testing::heapInUseMegabytes();
    while (next <= 7200) {
        add();
    }
    report("web_hour_heap", testing::heapInUseMegabytes() - heapBefore, "MB");
    std::vector<double> metrics;
    std::atomic<bool> done{false};
    std::thread client([&] {
        metrics = timedRequests(server.port(), "GET /metrics HTTP/1.1\r\nHost: b\r\n\r\n", 200);
        done = true;
    });
    waitUntil([&] { return done.load(); }, 30000);
    client.join();
    if (metrics.size() != 200) {
        std::fprintf(stderr, "/metrics: %zu answers of 200\n", metrics.size());
        return 1;
    }
    report("web_metrics", median(metrics), "ms");
    QProcess page;
    page.start(QStringLiteral("/usr/bin/python3"),
               {QString::fromLocal8Bit(pageScript),
                QStringLiteral("http://127.0.0.1:%1/").arg(server.port()), QStringLiteral("9")});
    QTimer readings;
    QObject::connect(&readings, &QTimer::timeout, [&] { add(); });
    readings.start(500); // the meter goes on, two readings a second
    waitUntil([&] { return page.state() == QProcess::NotRunning; }, 120000);
    std::fputs(page.readAllStandardOutput().constData(), stdout);
    std::fputs(page.readAllStandardError().constData(), stderr);
    return page.exitCode();
}

// talviren-cli watch --http on the simulator, resident memory with no client and with 64
// event-stream clients reading.
int webMemory() {
    QTemporaryDir config;
    testing::SimProcess sim(config.path());
    if (!sim.start({"--port", "3", "--function", "1"})) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    const quint16 port = testing::freeTcpPort();
    testing::CliProcess cli(config.path(), {"watch", "--port", "3", "--http", QString::number(port),
                                            "--power-factor", "0.95"});
    if (!waitUntil([&] { return cli.errors().contains("connected on COM3"); }, 15000)) {
        std::fprintf(stderr, "talviren-cli did not connect: %s\n", qPrintable(cli.errors()));
        return 1;
    }
    const auto rss = [&] {
        std::ifstream status("/proc/" + std::to_string(cli.process.processId()) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("VmRSS:", 0) == 0) {
                return std::atof(line.c_str() + 6) / 1024.0;
            }
        }
        return 0.0;
    };
    waitUntil([] { return false; }, 3000);
    report("rss_web_idle", rss(), "MB");
    {
        StreamClients clients(port, 64);
        waitUntil([&] { return false; }, 5000);
        // Every client has the reading before the last one printed (ids are the readings' seq).
        const int latest = static_cast<int>(cli.lines().size()) - 2;
        if (latest < 1 || latest >= StreamClients::kIds || !clients.allHave(latest)) {
            std::fprintf(stderr, "the 64 clients do not all have reading %d\n", latest);
            return 1;
        }
        report("rss_web_64_clients", rss(), "MB");
    }
    cli.process.terminate();
    cli.finished(5000);
    return 0;
}

// ---- Several meters -----------------------------------------------------------------------

// Four meters in the window: this computer's (the scan), one more local port, two remote
// loggers on loopback (talviren-cli watch --http, each on a simulator), all at 2 Hz. The time
// from a line on a logger's standard output to its reading in the window (which the tile shows
// on the same turn of the event loop), and the window's processor time between readings.
int metersBench() {
    QTemporaryDir config;
    ::setenv("XDG_CONFIG_HOME", qPrintable(config.path()), 1);
    testing::SimProcess own(config.path()), second(config.path()), a(config.path()),
        b(config.path());
    if (!own.start({"--port", "1", "--function", "1"}) ||
        !second.start({"--port", "2", "--function", "1"}) ||
        !a.start({"--port", "3", "--function", "1"}) ||
        !b.start({"--port", "4", "--function", "1"})) {
        std::fprintf(stderr, "a simulator did not start\n");
        return 1;
    }
    struct Logger {
        quint16 port = testing::freeTcpPort();
        std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
        std::map<std::int64_t, Clock::time_point> printed; // reading time: when it was printed
        QByteArray pending;
    };
    Logger loggers[2];
    for (int i = 0; i < 2; ++i) {
        Logger& logger = loggers[i];
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", config.path());
        logger.process->setProcessEnvironment(env);
        QObject::connect(logger.process.get(), &QProcess::readyReadStandardOutput, [&logger] {
            const auto now = Clock::now();
            logger.pending += logger.process->readAllStandardOutput();
            TimeReader times;
            for (qsizetype end; (end = logger.pending.indexOf('\n')) >= 0;) {
                const QByteArray line = logger.pending.left(end);
                logger.pending.remove(0, end + 1);
                if (const auto ms = times.read(line.left(line.indexOf(',')).toStdString())) {
                    logger.printed[*ms] = now;
                }
            }
        });
        logger.process->start(
            QStringLiteral(TALVIREN_CLI_PATH),
            {"watch", "--port", QString::number(3 + i), "--http", QString::number(logger.port)});
        if (!waitUntil([&] { return logger.process->state() == QProcess::Running; }, 5000)) {
            return 1;
        }
        waitUntil([] { return false; }, 500);
    }
    if (!testing::writeTextFile(
            config.filePath("talviren/talviren.conf"),
            QStringLiteral("[meters]\nL1=scan\nL2=COM2\nL3=http://127.0.0.1:%1/\n"
                           "L4=http://127.0.0.1:%2/\n")
                .arg(loggers[0].port)
                .arg(loggers[1].port)
                .toUtf8())) {
        std::fprintf(stderr, "cannot write the settings\n");
        return 1;
    }
    MainWindow window;
    window.serialPort().setDeviceLister([] { return std::vector<std::string>{}; });
    window.show();
    window.TabStrip1->setCurrentIndex(3); // the tiles
    std::vector<double> latencies;
    struct Arrival : RecordingListener {
        Logger& logger;
        bool measuring = false;
        explicit Arrival(Logger& l) : logger(l) {}
        std::map<std::int64_t, Clock::time_point> arrived;
        void readingRecorded(const TimedReading& reading) override {
            if (measuring) {
                arrived[reading.wallMs] = Clock::now();
            }
        }
    };
    Arrival arrivals[2] = {Arrival(loggers[0]), Arrival(loggers[1])};
    for (int i = 0; i < 2; ++i) {
        window.fleet().meters()[2 + static_cast<std::size_t>(i)]->recording().addListener(
            &arrivals[i]);
    }
    const bool up = waitUntil(
        [&] {
            for (const Meter* meter : window.fleet().meters()) {
                if (!meter->latest()) {
                    return false;
                }
            }
            return true;
        },
        30000);
    if (!up) {
        std::fprintf(stderr, "not every meter came up\n");
        return 1;
    }
    waitUntil([] { return false; }, 2000);
    for (Arrival& arrival : arrivals) {
        arrival.measuring = true;
    }
    const double cpuBefore = testing::cpuSeconds();
    const auto start = Clock::now();
    waitUntil([] { return false; }, 20000);
    const double cpu = (testing::cpuSeconds() - cpuBefore) / (msSince(start) / 1000.0) * 100.0;
    for (int i = 0; i < 2; ++i) {
        window.fleet().meters()[2 + static_cast<std::size_t>(i)]->recording().removeListener(
            &arrivals[i]);
        loggers[i].process->terminate();
        loggers[i].process->waitForFinished(5000);
    }
    // Both reach this one event loop: a reading whose line was read after the reading itself
    // came counts as 0 (sooner than this can tell), never as dropped from the median.
    std::size_t first = 0;
    for (Arrival& arrival : arrivals) {
        for (const auto& [wallMs, when] : arrival.arrived) {
            const auto it = arrival.logger.printed.find(wallMs);
            if (it == arrival.logger.printed.end()) {
                continue;
            }
            const double ms = std::chrono::duration<double, std::milli>(when - it->second).count();
            first += ms <= 0 ? 1 : 0;
            latencies.push_back(std::max(ms, 0.0));
        }
    }
    if (latencies.size() < 40) {
        std::fprintf(stderr, "only %zu remote readings measured\n", latencies.size());
        return 1;
    }
    report("meters_remote_latency_median", median(latencies), "ms");
    report("meters_remote_before_its_line", static_cast<double>(first), "readings");
    report("meters_remote_measured", static_cast<double>(latencies.size()), "readings");
    report("meters_window_cpu", cpu, "%");
    return 0;
}

// Child: the Trend view with four meters of a week each under "All" (the sum drawn too): the
// redraw, then the memory.
int metersTrendChild() {
    ChildArguments arguments;
    QApplication app(arguments.argc, arguments.argv);
    QTemporaryDir config;
    ::setenv("XDG_CONFIG_HOME", qPrintable(config.path()), 1);
    ::mkdir(qPrintable(config.filePath("talviren")), 0755);
    // Remote meters nobody answers for: their recordings are fed here.
    if (!testing::writeTextFile(config.filePath("talviren/talviren.conf"),
                                "[meters]\nL1=scan\nL2=http://127.0.0.1:9/\n"
                                "L3=http://127.0.0.1:10/\nL4=http://127.0.0.1:11/\n")) {
        std::fprintf(stderr, "cannot write the settings\n");
        return 1;
    }
    MainWindow window;
    window.serialPort().setDeviceLister([] { return std::vector<std::string>{}; });
    window.resize(783, 670);
    window.show();
    window.TabStrip1->setCurrentIndex(2);
    constexpr int kWeek = 7 * 24 * 3600 * 2;
    const auto& meters = window.fleet().meters();
    if (meters.size() != 4) {
        std::fprintf(stderr, "%zu meters, not 4\n", meters.size());
        return 1;
    }
    for (int i = 0; i < kWeek; ++i) {
        for (Meter* meter : meters) {
            TimedReading reading = simulatedReading(i);
            reading.raw.function = kAcCurrentAcVoltage;
            static_cast<DecodedReading&>(reading) = decodeReading(reading.raw, ".");
            meter->recording().add(reading);
        }
        if (i % 20'000 == 0) {
            QCoreApplication::processEvents();
        }
    }
    TrendChart& chart = *window.trendView->chart;
    chart.setSpan(TrendChart::Span::All);
    chart.follow();
    std::vector<double> times;
    for (int run = 0; run < 9; ++run) {
        const auto start = Clock::now();
        chart.replot(QCustomPlot::rpImmediateRefresh);
        times.push_back(msSince(start));
    }
    report("meters_trend_repaint_week_all", median(times), "ms");
    report("meters_trend_sum_points", static_cast<double>(window.fleet().sum().points().size()),
           "points");
    report("rss_meters_trend_week", residentMegabytes(), "MB");
    return 0;
}

int studyBench(int argc, char** argv, const char* cli);

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (const int studied = argc > 1 ? studyBench(argc, argv, TALVIREN_CLI_PATH) : 2;
        studied != 2) {
        return studied;
    }
    if (command == "meters-trend-child") {
        return metersTrendChild();
    }
    if (command == "startup-child") {
        return startupChild();
    }
    if (command == "trend-memory-child") {
        return trendMemoryChild();
    }
    if (command == "mqtt-memory-child") {
        return mqttMemoryChild();
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    if (command == "decode") {
        return decode();
    }
    if (command == "save" && argc > 2) {
        return save(argv[2]);
    }
    if (command == "dump" && argc > 2) {
        return dump(argv[2]);
    }
    if (command == "trend" && argc > 2) {
        return trend(argv[2]);
    }
    if (command == "trend-memory") {
        return runChild(argv[0], "trend-memory-child");
    }
    if (command == "mqtt") {
        return mqttBench();
    }
    if (command == "mqtt-memory") {
        return runChild(argv[0], "mqtt-memory-child");
    }
    if (command == "statistics") {
        return statistics();
    }
    if (command == "power") {
        return power();
    }
    if (command == "alarms") {
        return alarmsBench();
    }
    if (command == "alarm-latency") {
        return alarmLatencyBench();
    }
    if (command == "latency") {
        return liveReadings(true);
    }
    if (command == "stream") {
        return liveReadings(false);
    }
    if (command == "startup") {
        return startup(argv[0]);
    }
    if (command == "soak" && argc > 2) {
        return soak(std::atof(argv[2]));
    }
    if (command == "web" && argc > 2) {
        return webBench(argv[2]);
    }
    if (command == "web-memory") {
        return webMemory();
    }
    if (command == "meters") {
        return metersBench();
    }
    if (command == "meters-trend") {
        return runChild(argv[0], "meters-trend-child");
    }
    if (command == "write-month" && argc > 2) {
        return writeMonth(argv[2]);
    }
    if (command == "open-logs" && argc > 2) {
        return openLogs(std::vector<QString>(argv + 2, argv + argc));
    }
    if (command == "year" && argc > 2) {
        return yearBench(argv[2], argc > 3 ? std::atoll(argv[3]) : 63'072'000LL);
    }
    if (command == "download" && argc > 2) {
        return download(std::atoi(argv[2]), argc > 3 ? std::atoi(argv[3]) : 3);
    }
    std::fprintf(
        stderr,
        "usage: talviren-bench decode | save DIR | dump FILE | latency | stream | statistics | "
        "trend DIR | trend-memory | mqtt | mqtt-memory | power | alarms | alarm-latency | "
        "web PAGE_SCRIPT | web-memory | year DIR [READINGS] | meters | meters-trend | startup | "
        "download READINGS [RUNS] | write-year DIR DAYS | study-cli NAME RUNS FILE... | "
        "gunzip-choice | "
        "soak MINUTES\n");
    return 2;
}

#include "bench.moc"
