// talviren-screenshot: runs the window until it shows a live reading (or, with --record,
// downloaded readings; with --trend, a log of the simulator's readings in the Trend view, and
// with --alarm, the banner the live readings raise; with --study, a week of three phases' logs
// in the Study view, the window grown) and saves a picture of it. For the demo without
// a display and for the pictures in the README; not installed.

#include "log/CsvLog.h"
#include "log/CsvLogWriter.h"
#include "session/StudyRunner.h"
#include "sim/MeterSimulator.h"
#include "time/LocalTime.h"
#include "ui/MainWindow.h"
#include "ui/NamedLabel.h"
#include "ui/Settings.h"
#include "ui/StudyView.h"
#include "ui/TrendView.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTimer>

#include <cmath>
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

// A week of one phase at 2 Hz, a file a day (DIR/NAME-N.csv) as the service writes them: a
// load that rises in the morning and the evening, less at weekends, the phases apart, and an
// hour missing from one of them. The files' paths.
std::vector<std::string> writeWeek(const QString& folder, const std::string& name, int phase) {
    using namespace talviren;
    std::vector<std::string> files;
    const std::int64_t first = daysFromCivil(2026, 11, 30); // a Monday
    for (int d = 0; d < 7; ++d) {
        const std::int64_t start = localDayStartMs(first + d);
        const std::int64_t end = localDayStartMs(first + d + 1);
        std::string text = std::string(csvlog::kHeader) + "\n";
        for (std::int64_t t = start; t < end; t += 500) {
            const double hour = static_cast<double>(t - start) / 3'600'000.0;
            if (phase == 1 && d == 2 && hour >= 13 && hour < 14) {
                continue; // the clamp was off for an hour
            }
            const double morning = std::exp(-(hour - 7.5) * (hour - 7.5) / 2);
            const double evening = std::exp(-(hour - 19) * (hour - 19) / 3);
            const double weekend = d >= 5 ? 0.6 : 1.0;
            const double wobble = ((t / 500) * 2654435761u % 1000) / 1000.0;
            const double amperes =
                (6 + 3 * phase) * (0.5 + weekend * (morning + 1.4 * evening)) + wobble * 1.5;
            TimedReading r;
            static_cast<DecodedReading&>(r) =
                decodeReading({1, static_cast<int>(amperes * 100), 1,
                               2280 + static_cast<int>(wobble * 60) - phase * 10, 0},
                              ".");
            r.wallMs = t;
            csvlog::appendLine(text, r);
        }
        const std::string path =
            (folder + QStringLiteral("/%1-%2.csv").arg(QString::fromStdString(name)).arg(d))
                .toStdString();
        FILE* file = std::fopen(path.c_str(), "w");
        if (!file || std::fwrite(text.data(), 1, text.size(), file) != text.size()) {
            return {};
        }
        std::fclose(file);
        files.push_back(path);
    }
    return files;
}

} // namespace

int main(int argc, char** argv) {
    using talviren::LinkState;
    QApplication app(argc, argv);
    QString output = QStringLiteral("talviren.png");
    bool record = false;
    bool trend = false;
    bool studying = false;
    double timeoutSeconds = 30;
    QString alarm; // NAME: RULE, raised by the live readings
    int tab = -1;  // --tab N: that view, live, after --wait seconds
    double waitSeconds = 5;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--record")) {
            record = true;
        } else if (!std::strcmp(argv[i], "--trend")) {
            trend = true;
        } else if (!std::strcmp(argv[i], "--study")) {
            studying = true;
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
                         "--study | --tab N [--wait SECONDS]] [--output FILE.png] "
                         "[--timeout SECONDS]\n");
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
    if (studying) {
        // A week of three phases, the window as a laptop's screen leaves it.
        std::vector<talviren::study::MeterFiles> meters;
        for (int k = 0; k < 3; ++k) {
            const std::string name = "L" + std::to_string(k + 1);
            meters.push_back({name, writeWeek(folder.path(), name, k)});
            if (meters.back().files.empty()) {
                std::fprintf(stderr, "talviren-screenshot: cannot write the week's logs\n");
                return 1;
            }
        }
        window.resize(1360, 1020);
        window.runSettings().setPowerFactor(talviren::PowerFactor{950'000});
        talviren::study::StudySettings settings = window.studyPlan().settings();
        settings.ratingA = 100;
        settings.newLoadA = 32;
        window.studyPlan().setSettings(settings);
        window.TabStrip1->setCurrentIndex(4);
        QObject::connect(&window.studyView->runner(), &talviren::StudyRunner::finished, [&] {
            QTimer::singleShot(800, [&] {
                const bool ok = window.grab().save(output);
                std::printf("%s %s\n", ok ? "saved" : "could not save", qPrintable(output));
                QCoreApplication::exit(ok ? 0 : 1);
            });
        });
        window.studyPlan().setMeters(std::move(meters));
        QTimer::singleShot(static_cast<int>(timeoutSeconds * 1000), [&] {
            std::fprintf(stderr, "talviren-screenshot: no study within %.0f s\n", timeoutSeconds);
            QCoreApplication::exit(1);
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
