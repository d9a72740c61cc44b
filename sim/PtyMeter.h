#pragma once

#include "sim/MeterSimulator.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <string>

namespace talviren::sim {

// Serves a simulated meter on a pseudo-terminal, optionally posing as port n through the
// pinned-ports folder, and paces its replies at the line's real speed.
class PtyMeter {
public:
    PtyMeter(MeterSimulator& meter, bool paced);
    ~PtyMeter();
    PtyMeter(const PtyMeter&) = delete;
    PtyMeter& operator=(const PtyMeter&) = delete;

    // Opens the pseudo-terminal; false with `error` set when the system refuses.
    bool open(std::string& error);
    // Puts the link COMn to the terminal into the pinned-ports folder.
    bool pinAsPort(int portNumber, std::string& error);
    // Removes the link again (also done by the destructor).
    void unpin();

    // The device the program opens.
    const std::string& devicePath() const { return slavePath_; }
    const std::filesystem::path& linkPath() const { return link_; }

    // Reads commands, answers them and sends due reply bytes; waits at most timeoutMs.
    void pump(int timeoutMs);

    // Bytes of replies not yet put on the line.
    std::size_t pendingBytes() const { return pending_.size(); }

private:
    double secondsSinceStart() const;
    void sendDue();

    MeterSimulator& meter_;
    bool paced_;
    int master_ = -1;
    int slave_ = -1; // held open so the terminal survives the program closing its side
    std::string slavePath_;
    std::filesystem::path link_;
    std::deque<std::uint8_t> pending_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point sendClock_;
    double sendCredit_ = 0;
};

} // namespace talviren::sim
