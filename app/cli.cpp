// talviren-cli: the meter without a window, for scripts and small computers.
//   talviren-cli watch    [--port N] [--duration SECONDS] [--output FILE.csv]
//   talviren-cli download [--port N] [--timeout SECONDS] --output FILE

#include "export/AtomicFile.h"
#include "export/FileName.h"
#include "export/TextFiles.h"
#include "export/Workbook.h"
#include "link/MeterLink.h"
#include "link/Protocol.h"
#include "link/QtSerialPort.h"
#include "link/QtTimer.h"
#include "measure/ValueText.h"
#include "records/RecordDecoder.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

using namespace talviren;

namespace {

// Exit codes, as the help text documents them.
enum ExitCode {
    kOk = 0,
    kFailure = 1,  // the output file cannot be written
    kUsage = 2,    // wrong arguments
    kNoMeter = 3,  // no meter answered within the timeout
    kLinkLost = 4, // the link was lost during the download
};

const char* kHelp =
    "Usage:\n"
    "  talviren-cli watch    [--port N] [--duration SECONDS] [--output FILE.csv]\n"
    "  talviren-cli download [--port N] [--timeout SECONDS] --output FILE\n"
    "\n"
    "watch     finds the meter (ports 1 to 16, or only port N), asks for a reading every\n"
    "          500 ms and writes one CSV line per reading to standard output (and appends it\n"
    "          to FILE.csv): local time (ISO 8601, milliseconds), function code, both quantity\n"
    "          names and value texts as the window shows them, and both values as numbers in\n"
    "          A, V or ohm (empty on overload). A lost link is reported on standard error and\n"
    "          logging resumes when the meter answers again. Runs until --duration has passed\n"
    "          or SIGINT/SIGTERM arrives, then exits 0.\n"
    "download  finds the meter, downloads every stored reading and writes FILE by its\n"
    "          extension: .txt fixed-column text, .xls or .xlsx workbook, .csv one row per\n"
    "          reading. The file is written whole or not at all.\n"
    "\n"
    "Ports: COMn is the device linked as $XDG_CONFIG_HOME/talviren/ports/COMn, else the n-th\n"
    "serial device (USB adapters first).\n"
    "\n"
    "Exit codes: 0 success; 1 the file cannot be written; 2 wrong arguments; 3 no meter\n"
    "answered within --timeout (default 20 s); 4 the link was lost during the download.\n";

volatile std::sig_atomic_t stopRequested = 0;
void onSignal(int) {
    stopRequested = 1;
}

QString now() {
    return QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
}

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    quoted += '"';
    return quoted;
}

// The CSV fields of one reading: function, names, texts, numbers.
std::string readingFields(const MeterReading& reading, const std::string& separator) {
    const auto symbols = quantitySymbols(reading.function);
    std::string line = std::to_string(reading.function);
    const auto add = [&line](const std::string& field) {
        line += ',';
        line += field;
    };
    add(csvField(symbols ? std::string(symbols->current) : std::string()));
    add(csvField(currentText(reading, separator).value_or("")));
    add(csvField(symbols ? std::string(symbols->second) : std::string()));
    add(csvField(secondText(reading, separator).value_or("")));
    add(currentInBaseUnit(reading).value_or(""));
    add(secondInBaseUnit(reading).value_or(""));
    return line;
}

const char* kReadingHeader = "function,name1,text1,name2,text2,value1,value2";

struct Options {
    std::string command;
    int port = 0;
    double duration = -1;
    double timeout = 20;
    std::string output;
};

bool parse(int argc, char** argv, Options& options) {
    if (argc < 2) {
        return false;
    }
    options.command = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--port" && hasValue) {
            options.port = std::atoi(argv[++i]);
        } else if (arg == "--duration" && hasValue) {
            options.duration = std::atof(argv[++i]);
        } else if (arg == "--timeout" && hasValue) {
            options.timeout = std::atof(argv[++i]);
        } else if (arg == "--output" && hasValue) {
            options.output = argv[++i];
        } else {
            return false;
        }
    }
    if (options.port < 0 || options.port > MeterLink::kPortCount) {
        return false;
    }
    if (options.command == "watch") {
        return true;
    }
    return options.command == "download" && !options.output.empty();
}

// The engine on the real port and timers, reporting to the command that runs it.
class Session : public LinkObserver {
public:
    explicit Session(const Options& options) : options_(options) {
        link_.setObserver(this);
        link_.setOnlyPort(static_cast<std::int16_t>(options.port));
        link_.setDecimalSeparator(separator_);
        for (QtTimer* t : {&poll_, &watchdog_}) {
            t->setEnabled(true);
        }
        link_.startUp();
        QTimer::singleShot(0, &scan_, [this] { link_.Findcomtim_Timer(); }); // first port now
    }
    ~Session() override {
        link_.setObserver(nullptr);
        link_.shutDown();
    }

    int watch();
    int download();

private:
    void portStatusChanged(const std::string& caption, const PortDetail&) override {
        lastPort_ = caption;
    }
    void linkStatusChanged(const std::string& caption) override;
    void realtimeChanged() override;
    void downloadProgress(int received, int expected) override;
    void downloadEnded(bool completed) override;

    int writeDownload();
    void finish(int code) {
        exitCode_ = code;
        QCoreApplication::exit(code);
    }

    Options options_;
    std::string separator_ = QLocale().decimalPoint().toStdString();
    QtSerialPort port_;
    QtTimer scan_{MeterLink::kTickMs}, poll_{MeterLink::kTickMs}, watchdog_{MeterLink::kTickMs},
        blockDelay_{MeterLink::kTickMs};
    RecordTable table_;
    MeterLink link_{port_, LinkTimers{scan_, poll_, watchdog_, blockDelay_}, table_};
    std::string lastPort_;
    bool wasConnected_ = false;
    bool downloading_ = false;
    int appendFd_ = -1;
    int exitCode_ = kOk;
};

void Session::linkStatusChanged(const std::string& caption) {
    if (caption == MeterLink::kLinkStatusConnected) {
        std::fprintf(stderr, "%s connected (%s)\n", qPrintable(now()), lastPort_.c_str());
        wasConnected_ = true;
        // Unattended, there is no reason to wait for the next ticks: hand over to polling and
        // ask for the first reading at once.
        QTimer::singleShot(0, &scan_, [this] {
            if (scan_.isEnabled()) {
                link_.Findcomtim_Timer();
                link_.comtim_Timer();
            }
        });
    } else if (wasConnected_) {
        std::fprintf(stderr, "%s link lost, searching for the meter\n", qPrintable(now()));
        wasConnected_ = false;
        if (downloading_) {
            std::fprintf(stderr, "talviren-cli: the link was lost during the download\n");
            finish(kLinkLost);
        }
    }
}

void Session::realtimeChanged() {
    if (options_.command != "watch") {
        return;
    }
    const std::string line =
        now().toStdString() + "," + readingFields(link_.lastReading(), separator_) + "\n";
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
    if (appendFd_ >= 0) {
        // One write per line on an append-only descriptor: a crash loses at most this line.
        if (::write(appendFd_, line.data(), line.size()) < 0) {
            std::fprintf(stderr, "talviren-cli: cannot append to %s: %s\n", options_.output.c_str(),
                         std::strerror(errno));
        }
    }
}

void Session::downloadProgress(int received, int expected) {
    if (!::isatty(STDERR_FILENO) || expected <= 0) {
        return;
    }
    const int readings = expected / static_cast<int>(kReadingSize);
    const int done = received / static_cast<int>(kReadingSize);
    const int width = 40;
    const int filled = static_cast<int>(static_cast<long long>(width) * done / readings);
    std::fprintf(stderr, "\r[%s%s] %d/%d readings",
                 std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 std::string(static_cast<std::size_t>(width - filled), ' ').c_str(), done,
                 readings);
    std::fflush(stderr);
}

void Session::downloadEnded(bool completed) {
    if (!downloading_) {
        return;
    }
    if (::isatty(STDERR_FILENO)) {
        std::fputc('\n', stderr);
    }
    downloading_ = false;
    if (!completed) {
        std::fprintf(stderr, "talviren-cli: the download did not complete\n");
        finish(kLinkLost);
        return;
    }
    finish(writeDownload());
}

int Session::writeDownload() {
    const std::string& path = options_.output;
    std::string error;
    bool ok = false;
    if (hasExtension(path, ".csv")) {
        std::string csv = std::string("number,") + kReadingHeader + "\n";
        const std::span<const std::uint8_t> block = link_.rxBuffer();
        const int count = link_.lastCommand() == protocol::kBlockRequest
                              ? decodableReadings(block, link_.recordCount())
                              : 0;
        for (int n = 1; n <= count; ++n) {
            csv +=
                std::to_string(n) + "," + readingFields(storedReading(block, n), separator_) + "\n";
        }
        ok = writeFileAtomically(path, csv, error);
    } else if (hasExtension(path, ".xls") || hasExtension(path, ".xlsx")) {
        ok = ExportRecordWorkbook(table_, path, error);
    } else {
        ok = writeFileAtomically(path, recordTableText(table_), error);
    }
    if (!ok) {
        std::fprintf(stderr, "talviren-cli: cannot write %s: %s\n", path.c_str(), error.c_str());
        return kFailure;
    }
    std::fprintf(stderr, "%d readings written to %s\n", table_.rows() / 2, path.c_str());
    return kOk;
}

int Session::watch() {
    if (!options_.output.empty()) {
        appendFd_ =
            ::open(options_.output.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
        if (appendFd_ < 0) {
            std::fprintf(stderr, "talviren-cli: cannot open %s: %s\n", options_.output.c_str(),
                         std::strerror(errno));
            return kFailure;
        }
        if (::lseek(appendFd_, 0, SEEK_END) == 0) {
            const std::string header = std::string("time,") + kReadingHeader + "\n";
            (void)!::write(appendFd_, header.data(), header.size());
        }
    }
    std::printf("time,%s\n", kReadingHeader);
    std::fflush(stdout);
    if (options_.duration >= 0) {
        QTimer::singleShot(static_cast<int>(options_.duration * 1000), [this] { finish(kOk); });
    }
    const int code = QCoreApplication::exec();
    if (appendFd_ >= 0) {
        ::close(appendFd_);
    }
    return code;
}

int Session::download() {
    // Once the link is handed over to polling, ask for the stored readings.
    QTimer start;
    start.setInterval(50);
    QObject::connect(&start, &QTimer::timeout, [this, &start] {
        if (link_.linkUp() && !scan_.isEnabled() && !link_.downloadActive()) {
            link_.setViewMode(MeterLink::kRecordView);
            link_.Button_read_Click();
            if (link_.downloadActive() || link_.readRequested()) {
                downloading_ = true;
                start.stop();
            }
        }
    });
    start.start();
    QTimer::singleShot(static_cast<int>(options_.timeout * 1000), [this] {
        if (!downloading_ && exitCode_ == kOk) {
            std::fprintf(stderr, "talviren-cli: no meter answered within %g s\n", options_.timeout);
            finish(kNoMeter);
        }
    });
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs(kHelp, stdout);
            return kOk;
        }
    }
    QCoreApplication app(argc, argv);
    Options options;
    if (!parse(argc, argv, options)) {
        std::fputs(kHelp, stderr);
        return kUsage;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    QTimer stopWatch;
    QObject::connect(&stopWatch, &QTimer::timeout, [] {
        if (stopRequested) {
            QCoreApplication::exit(kOk);
        }
    });
    stopWatch.start(100);
    Session session(options);
    return options.command == "watch" ? session.watch() : session.download();
}
