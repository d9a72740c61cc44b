// talviren-sim: a clamp meter on a pseudo-terminal, for trying and testing talviren.

#include "app/Version.h"
#include "link/Protocol.h"
#include "sim/MeterSimulator.h"
#include "sim/PtyMeter.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

volatile std::sig_atomic_t stopRequested = 0;
volatile std::sig_atomic_t toggleSilence = 0;

void onStop(int) {
    stopRequested = 1;
}
void onToggle(int) {
    toggleSilence = 1;
}

const char* kUsage =
    "Usage: talviren-sim [OPTIONS]\n"
    "\n"
    "Serves a simulated clamp meter on a pseudo-terminal and makes it port COMn for\n"
    "talviren by a link in $XDG_CONFIG_HOME/talviren/ports/ (default ~/.config). The link\n"
    "is removed when the simulator ends (SIGINT, SIGTERM or --duration).\n"
    "\n"
    "Options:\n"
    "  --port N          pose as port N, 1 to 16 (default 1)\n"
    "  --function F      live function: 1 AC current + AC voltage, 2 AC current + DC\n"
    "                    voltage, 3 AC current + resistance; 0 cycles every 10 s (default)\n"
    "  --records N       stored readings, 0 to 25755 (default 0)\n"
    "  --seed S          seed of the stored readings (default 1); they cover every\n"
    "                    function, range and overload case\n"
    "  --no-pace         answer at once instead of at 960 bytes/s (9600 baud 8N1)\n"
    "  --silent-after S  fall silent S seconds after start (the meter switched off)\n"
    "  --garbage         answer every command with senseless bytes\n"
    "  --bad-count       answer the count request with wrong markers\n"
    "  --cut-block       stop halfway through the record block\n"
    "  --duration S      end after S seconds\n"
    "  --help            show this text\n"
    "  --version         show the version\n"
    "\n"
    "SIGUSR1 switches the meter off, and on again at the next SIGUSR1.\n"
    "The simulator prints the pseudo-terminal and the link on one line each, then serves.\n";

bool parseNumber(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0';
}

} // namespace

int main(int argc, char** argv) {
    talviren::sim::SimulatorOptions options;
    int port = 1;
    bool paced = true;
    double duration = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto number = [&](double& value) {
            if (i + 1 >= argc || !parseNumber(argv[i + 1], value)) {
                std::fprintf(stderr, "talviren-sim: %s needs a number\n", arg.c_str());
                std::exit(2);
            }
            ++i;
        };
        double value = 0;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--version") {
            std::printf("talviren-sim %s\n", TALVIREN_VERSION);
            return 0;
        } else if (arg == "--port") {
            number(value);
            port = static_cast<int>(value);
        } else if (arg == "--function") {
            number(value);
            options.function = static_cast<int>(value);
        } else if (arg == "--records") {
            number(value);
            options.records = static_cast<int>(value);
        } else if (arg == "--seed") {
            number(value);
            options.seed = static_cast<std::uint32_t>(value);
        } else if (arg == "--silent-after") {
            number(options.silentAfter);
        } else if (arg == "--duration") {
            number(duration);
        } else if (arg == "--no-pace") {
            paced = false;
        } else if (arg == "--garbage") {
            options.garbage = true;
        } else if (arg == "--bad-count") {
            options.badCount = true;
        } else if (arg == "--cut-block") {
            options.cutBlock = true;
        } else {
            std::fprintf(stderr, "talviren-sim: unknown option %s (see --help)\n", arg.c_str());
            return 2;
        }
    }
    if (port < 1 || port > talviren::protocol::kPortCount || options.function < 0 ||
        options.function > 3 || options.records < 0 ||
        options.records > talviren::protocol::kMaxRecordCount) {
        std::fputs("talviren-sim: --port 1..16, --function 0..3, --records 0..25755\n", stderr);
        return 2;
    }

    talviren::sim::MeterSimulator meter(options);
    talviren::sim::PtyMeter pty(meter, paced);
    std::string error;
    if (!pty.open(error) || !pty.pinAsPort(port, error)) {
        std::fprintf(stderr, "talviren-sim: %s\n", error.c_str());
        return 1;
    }
    std::signal(SIGINT, onStop);
    std::signal(SIGTERM, onStop);
    std::signal(SIGUSR1, onToggle);
    std::printf("pty %s\nlink %s\n", pty.devicePath().c_str(), pty.linkPath().c_str());
    std::fflush(stdout);

    const auto start = std::chrono::steady_clock::now();
    while (!stopRequested) {
        if (toggleSilence) {
            toggleSilence = 0;
            meter.setSilent(!meter.silent());
        }
        pty.pump(50);
        if (duration >= 0 &&
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >=
                duration) {
            break;
        }
    }
    pty.unpin();
    return 0;
}
