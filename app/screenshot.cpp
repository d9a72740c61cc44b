// talviren-screenshot: runs the window until it shows a live reading (or, with --record,
// downloaded readings; with --trend, a log of the simulator's readings in the Trend view, and
// with --alarm, the banner the live readings raise) and saves a picture of it. For the demo without
// a display and for the pictures in the README; not installed.

#include "log/CsvLogWriter.h"
#include "sim/MeterSimulator.h"
#include "ui/MainWindow.h"
#include "ui/NamedLabel.h"
#include "ui/Settings.h"
#include "ui/TrendView.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace {

// Opens the one log it was made with.
class GivenLog : public talviren::OpenDialog {
public:
    explicit GivenLog(QString path) : path_(std::move(path)) {}
    QStringList exec(const QString&, const QString&) override { return {path_}; }

private:
    QString path_;
};

// Twelve minutes of the simulator's live readings, a reading every 500 ms, with a short pause
// and two readings beyond the range.
bool writeSimulatedLog(const QString& path) {
    using namespace talviren;
    sim::SimulatorOptions options;
    options.function = 1;
    sim::MeterSimulator meter(options);
    CsvLogWriter log(path.toStdString());
    if (!log.open()) {
        return false;
    }
    const std::int64_t start = systemClock().wallMs() - 12 * 60 * 1000;
    for (int i = 0; i < 12 * 120; ++i) {
        if (i > 900 && i < 930) {
            continue; // the meter was off for a moment
        }
        const double seconds = i * 0.5;
        auto bytes = meter.liveReading(seconds);
        if (i == 400 || i == 401) {
            bytes[4] = 80; // two readings beyond the range
        }
        TimedReading reading;
        static_cast<DecodedReading&>(reading) = decodeReading(*MeterReading::fromBytes(bytes), ".");
        reading.wallMs = start + i * 500;
        if (!log.append(reading)) {
            return false;
        }
    }
    log.close();
    return !log.failed();
}

} // namespace

int main(int argc, char** argv) {
    using talviren::LinkState;
    QApplication app(argc, argv);
    QString output = QStringLiteral("talviren.png");
    bool record = false;
    bool trend = false;
    double timeoutSeconds = 30;
    QString alarm; // NAME: RULE, raised by the live readings
    int tab = -1;  // --tab N: that view, live, after --wait seconds
    double waitSeconds = 5;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--record")) {
            record = true;
        } else if (!std::strcmp(argv[i], "--trend")) {
            trend = true;
        } else if (!std::strcmp(argv[i], "--output") && i + 1 < argc) {
            output = QString::fromLocal8Bit(argv[++i]);
        } else if (!std::strcmp(argv[i], "--tab") && i + 1 < argc) {
            tab = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--wait") && i + 1 < argc) {
            waitSeconds = std::atof(argv[++i]);
        } else if (!std::strcmp(argv[i], "--alarm") && i + 1 < argc) {
            alarm = QString::fromLocal8Bit(argv[++i]);
        } else if (!std::strcmp(argv[i], "--timeout") && i + 1 < argc) {
            timeoutSeconds = std::atof(argv[++i]);
        } else {
            std::fprintf(stderr,
                         "usage: talviren-screenshot [--record | --trend [--alarm 'NAME: RULE'] | "
                         "--tab N [--wait SECONDS]] [--output FILE.png] [--timeout SECONDS]\n");
            return 2;
        }
    }
    QTemporaryDir folder;
    const QString log = folder.filePath(QStringLiteral("trend.csv"));
    if (trend && !writeSimulatedLog(log)) {
        std::fprintf(stderr, "talviren-screenshot: cannot write %s\n", qPrintable(log));
        return 1;
    }
    if (const qsizetype colon = alarm.indexOf(QLatin1Char(':')); colon > 0) {
        talviren::storeAlarms({{alarm.left(colon).trimmed(), alarm.mid(colon + 1).trimmed()}});
    }
    talviren::MainWindow window(nullptr, nullptr, std::make_unique<GivenLog>(log));
    window.show();
    if (tab >= 0) {
        // A view as it stands after some seconds of live readings (the meters of the settings).
        window.TabStrip1->setCurrentIndex(tab);
        QTimer::singleShot(static_cast<int>(waitSeconds * 1000), [&] {
            const bool ok = window.grab().save(output);
            std::printf("%s %s\n", ok ? "saved" : "could not save", qPrintable(output));
            QCoreApplication::exit(ok ? 0 : 1);
        });
        return QApplication::exec();
    }
    if (trend) {
        window.TabStrip1->setCurrentIndex(2);
        window.trendView->setPowerFactorText(QStringLiteral("0.95"));
        window.trendView->openLog();
        // With an alarm, once the live readings have raised it.
        QTimer* wait = new QTimer(&window);
        QObject::connect(wait, &QTimer::timeout, [&, wait] {
            if (!alarm.isEmpty() && window.trendView->alarmBanner->isHidden()) {
                return;
            }
            wait->stop();
            QTimer::singleShot(500, [&] {
                const bool ok = window.grab().save(output);
                std::printf("%s %s\n", ok ? "saved" : "could not save", qPrintable(output));
                QCoreApplication::exit(ok ? 0 : 1);
            });
        });
        wait->start(100);
        QTimer::singleShot(static_cast<int>(timeoutSeconds * 1000), [&] {
            std::fprintf(stderr, "talviren-screenshot: no alarm within %.0f s\n", timeoutSeconds);
            QCoreApplication::exit(1);
        });
        return QApplication::exec();
    }

    bool readPressed = false;
    auto save = [&](int code) {
        const bool ok = window.grab().save(output);
        std::printf("%s %s\n", ok ? "saved" : "could not save", qPrintable(output));
        QCoreApplication::exit(ok ? code : 1);
    };
    QTimer poll;
    poll.setInterval(100);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const LinkState state = window.link().state();
        if (!linkIsUp(state)) {
            return;
        }
        if (!record) {
            if (window.Lab_value[0]->text() != QLatin1String("0mA")) {
                poll.stop();
                QTimer::singleShot(600, [&] { save(0); }); // one more reading for good measure
            }
            return;
        }
        if (!readPressed && state == LinkState::Polling) {
            window.TabStrip1->setCurrentIndex(1);
            window.Button_read_Click();
            readPressed = downloading(window.link().state());
            return;
        }
        if (readPressed && !downloading(state) && window.recordTable().rows() > 2) {
            poll.stop();
            save(0);
        }
    });
    poll.start();
    QTimer::singleShot(static_cast<int>(timeoutSeconds * 1000), [&] {
        std::fprintf(stderr, "talviren-screenshot: no %s within %.0f s\n",
                     record ? "download" : "reading", timeoutSeconds);
        save(1);
    });
    return QApplication::exec();
}
