#include "cli/RunSummary.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace talviren::cli {

namespace {

std::string formatted(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// "1:02:03.5": hours, minutes, seconds with a tenth.
std::string span(std::int64_t ms) {
    const std::int64_t tenths = (ms + 50) / 100;
    char text[48];
    std::snprintf(text, sizeof text, "%" PRId64 ":%02d:%02d.%d", tenths / 36000,
                  static_cast<int>(tenths / 600 % 60), static_cast<int>(tenths / 10 % 60),
                  static_cast<int>(tenths % 10));
    return text;
}

} // namespace

std::string runSummary(const Recording& recording, std::optional<PowerFactor> powerFactor) {
    const TrendHistory& history = recording.history();
    const std::int64_t covered =
        history.empty() ? 0 : history.keyMs(history.size() - 1) - history.firstKeyMs();
    std::string line =
        "summary: " + std::to_string(history.added()) + " readings over " + span(covered) + ", ";
    const PowerTally& power = recording.power();
    if (power.count() == 0) {
        return line + "no apparent power (no AC voltage reading in range)";
    }
    line += "energy " + formatted("%.4f", power.apparentEnergyVAh()) + " VAh";
    if (powerFactor) {
        line += " (" + formatted("%.4f", power.energyWh(*powerFactor)) + " Wh at PF " +
                powerFactor->text() + ")";
    }
    line += ", S min " + apparentPowerNumber(power.minimum().units) + " VA mean " +
            formatted("%.4f", power.meanVA()) + " VA max " +
            apparentPowerNumber(power.maximum().units) + " VA";
    return line;
}

} // namespace talviren::cli
