#pragma once

#include <cstdint>
#include <vector>

namespace talviren::sim {

// How the simulated meter behaves.
struct SimulatorOptions {
    int function = 0;        // 1, 2 or 3 for a fixed function; 0 cycles through all three
    int records = 0;         // stored readings, 0 to 25755
    std::uint32_t seed = 1;  // makes the stored readings repeatable
    double silentAfter = -1; // fall silent after this many seconds (negative: never)
    bool garbage = false;    // answer every command with bytes of the right length but no sense
    bool badCount = false;   // answer the count request with wrong markers
    bool cutBlock = false;   // send only the first half of the record block
};

// The meter's side of the protocol: one command byte in, the reply bytes out.
class MeterSimulator {
public:
    explicit MeterSimulator(SimulatorOptions options);

    // Reply to one command received at `seconds` since the meter started; empty when the
    // meter stays silent or does not know the command.
    std::vector<std::uint8_t> answer(std::uint8_t command, double seconds);

    // Switches the meter off (silent) or on again.
    void setSilent(bool silent) { silent_ = silent; }
    bool silent() const { return silent_; }

    // The live reading at `seconds`: plausible, slowly moving values.
    std::vector<std::uint8_t> liveReading(double seconds) const;
    // The stored readings as the record block carries them.
    const std::vector<std::uint8_t>& storedBlock() const { return stored_; }

    // Stored readings for a seed, covering every function, range and overload case.
    static std::vector<std::uint8_t> makeStoredBlock(int count, std::uint32_t seed);

private:
    SimulatorOptions options_;
    std::vector<std::uint8_t> stored_;
    std::uint32_t garbageState_;
    bool silent_ = false;
};

} // namespace talviren::sim
