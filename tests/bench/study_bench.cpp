// The load study's figures: a year of compressed daily logs made here, talviren-cli study timed
// on them as a user runs it (its peak resident memory too), and the decompression of a day by
// zlib and by libdeflate, which chose the one the reader uses.

#include "log/CsvLog.h"
#include "log/LogFile.h"
#include "measure/Reading.h"
#include "session/StudyRunner.h"
#include "time/LocalTime.h"
#include "ui/MainWindow.h"
#include "ui/StudyView.h"

#include <qcustomplot.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <future>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void report(const char* name, double value, const char* unit) {
    std::printf("%s\t%.3f\t%s\n", name, value, unit);
    std::fflush(stdout);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// One day of readings at 2 Hz in local time, as the service logs them (only those from
// `fromMs` to `toMs`): AC current and voltage that wander over the day.
std::string dayText(std::int64_t day, std::int64_t fromMs = INT64_MIN,
                    std::int64_t toMs = INT64_MAX) {
    const std::int64_t start = std::max(talviren::localDayStartMs(day), fromMs);
    const std::int64_t end = std::min(talviren::localDayStartMs(day + 1), toMs);
    std::string text = std::string(talviren::csvlog::kHeader) + "\n";
    text.reserve(static_cast<std::size_t>((end - start) / 500 * 68));
    for (std::int64_t t = start; t < end; t += 500) {
        const int i = static_cast<int>((t - start) / 500);
        talviren::TimedReading r;
        const int current = 800 + (i / 7 % 900) + (i % 13) * 3; // 8.00 to 17.38 A
        const int voltage = 2260 + i / 11 % 80;                 // 226.0 to 233.9 V
        static_cast<talviren::DecodedReading&>(r) =
            talviren::decodeReading({1, current, 1, voltage, 0}, ".");
        r.wallMs = t;
        talviren::csvlog::appendLine(text, r);
    }
    return text;
}

std::string gzipped(const std::string& text) {
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(6); // gzip's default
    std::string out(libdeflate_gzip_compress_bound(compressor, text.size()), '\0');
    out.resize(
        libdeflate_gzip_compress(compressor, text.data(), text.size(), out.data(), out.size()));
    libdeflate_free_compressor(compressor);
    return out;
}

// `days` days of readings from 2026-01-01 at noon, a file a day as logrotate leaves them:
// DIR/COM1.csv-YYYY-MM-DD.gz, the first and the last half a day (365 days: 366 files).
int writeYear(const char* folder, int days) {
    const std::int64_t first = talviren::daysFromCivil(2026, 1, 1);
    const std::int64_t fromMs = talviren::localDayStartMs(first) + 43'200'000;
    const std::int64_t toMs = fromMs + days * 86'400'000LL;
    days += 1;
    std::vector<std::future<void>> work;
    for (int d = 0; d < days; d += 2) {
        work.push_back(std::async(std::launch::async, [=] {
            for (int k = d; k < std::min(d + 2, days); ++k) {
                int y = 0, m = 0, dd = 0;
                talviren::civilFromDays(first + k, y, m, dd);
                char name[64];
                std::snprintf(name, sizeof name, "/COM1.csv-%04d-%02d-%02d.gz", y, m, dd);
                std::ofstream(std::string(folder) + name, std::ios::binary)
                    << gzipped(dayText(first + k, fromMs, toMs));
            }
        }));
        if (work.size() >= 2) {
            for (auto& w : work) {
                w.get();
            }
            work.clear();
        }
    }
    for (auto& w : work) {
        w.get();
    }
    return 0;
}

// talviren-cli study on the files, as a user runs it: the median time of the runs and the
// highest resident memory of any.
int studyCli(const char* cli, const char* name, int runs, std::vector<std::string> files) {
    std::vector<double> times;
    long peakKb = 0;
    for (int run = 0; run < runs; ++run) {
        const auto start = Clock::now();
        const pid_t child = ::fork();
        if (child == 0) {
            std::vector<char*> argv = {const_cast<char*>(cli), const_cast<char*>("study"),
                                       const_cast<char*>("--json"), const_cast<char*>("/dev/null")};
            for (std::string& file : files) {
                argv.push_back(file.data());
            }
            argv.push_back(nullptr);
            std::freopen("/dev/null", "w", stdout);
            ::execv(cli, argv.data());
            ::_exit(127);
        }
        int status = 0;
        rusage usage{};
        ::wait4(child, &status, 0, &usage);
        times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        peakKb = std::max(peakKb, usage.ru_maxrss);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "talviren-cli study failed\n");
            return 1;
        }
    }
    report(name, median(times), "s");
    report((std::string(name) + "_rss").c_str(), static_cast<double>(peakKb) / 1024.0, "MB");
    return 0;
}

// A day decompressed by zlib's inflate and by libdeflate: the median of nine of each.
int gunzipChoice() {
    const std::string packed = gzipped(dayText(talviren::daysFromCivil(2026, 1, 5)));
    std::vector<double> zlibTimes, deflateTimes;
    std::vector<char> out;
    std::string error;
    for (int run = 0; run < 9; ++run) {
        auto start = Clock::now();
        z_stream stream{};
        inflateInit2(&stream, 16 + MAX_WBITS);
        std::string text(packed.size() * 12, '\0');
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
        stream.avail_in = static_cast<uInt>(packed.size());
        stream.next_out = reinterpret_cast<Bytef*>(text.data());
        stream.avail_out = static_cast<uInt>(text.size());
        inflate(&stream, Z_FINISH);
        inflateEnd(&stream);
        zlibTimes.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        start = Clock::now();
        talviren::gunzip(packed, out, error);
        deflateTimes.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    report("gunzip_day_zlib", median(zlibTimes), "ms");
    report("gunzip_day_libdeflate", median(deflateTimes), "ms");
    report("gunzip_day_mb", static_cast<double>(out.size()) / 1e6, "MB");
    return 0;
}

// The window studies the files in its Study view: how late a 10 ms timer ever came meanwhile
// (the event loop's longest stall), the process's peak resident memory, and then the redraw of
// the four charts of what it studied.
int studyWindow(int argc, char** argv, std::vector<std::string> files) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    talviren::MainWindow window;
    window.resize(1360, 1020);
    window.show();
    window.TabStrip1->setCurrentIndex(4);
    QElapsedTimer clock;
    qint64 last = 0, latest = 0;
    QTimer beat;
    beat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&beat, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        latest = std::max(latest, now - last - 10);
        last = now;
    });
    bool done = false;
    talviren::StudyView& view = *window.studyView;
    QObject::connect(&view.runner(), &talviren::StudyRunner::finished, [&] {
        // What the result sets off on the loop's next turns counts too.
        QTimer::singleShot(500, [&] { done = true; });
    });
    std::vector<talviren::study::MeterFiles> meters{{"COM1", std::move(files)}};
    const auto start = Clock::now();
    clock.start();
    beat.start(10);
    window.studyPlan().setMeters(std::move(meters));
    while (!done) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    beat.stop();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count() - 0.5;
    if (!view.runner().result()) {
        std::fprintf(stderr, "the window did not study: %s\n", view.runner().error().c_str());
        return 1;
    }
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    report("study_window_year", seconds, "s");
    report("study_window_longest_stall", static_cast<double>(latest), "ms");
    report("study_window_rss", static_cast<double>(usage.ru_maxrss) / 1024.0, "MB");
    std::vector<double> times;
    for (int run = 0; run < 9; ++run) {
        const auto begin = Clock::now();
        for (QCustomPlot* chart :
             {view.demandChart, view.energyChart, view.dayChart, view.durationChart}) {
            chart->replot(QCustomPlot::rpImmediateRefresh);
        }
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
    }
    report("study_window_redraw_year", median(times), "ms");
    if (std::getenv("TALVIREN_BENCH_DETAIL")) {
        for (QCustomPlot* chart :
             {view.demandChart, view.energyChart, view.dayChart, view.durationChart}) {
            const auto begin = Clock::now();
            chart->replot(QCustomPlot::rpImmediateRefresh);
            std::fprintf(stderr, "%s %.1f ms\n", qPrintable(chart->accessibleName()),
                         std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
        }
    }
    return 0;
}

} // namespace

// The study's commands of talviren-bench; 2 when it is none of them.
int studyBench(int argc, char** argv, const char* cli) {
    const std::string command = argv[1];
    if (command == "write-year" && argc > 3) {
        return writeYear(argv[2], std::atoi(argv[3]));
    }
    if (command == "study-cli" && argc > 4) {
        return studyCli(cli, argv[2], std::atoi(argv[3]),
                        std::vector<std::string>(argv + 4, argv + argc));
    }
    if (command == "gunzip-choice") {
        return gunzipChoice();
    }
    if (command == "study-window" && argc > 2) {
        return studyWindow(argc, argv, std::vector<std::string>(argv + 2, argv + argc));
    }
    return 2;
}
