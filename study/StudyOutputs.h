#pragma once

#include "study/LoadStudy.h"

#include <array>
#include <string>
#include <vector>

namespace talviren::study {

// The study as JSON, under the names the manual page gives: a scripting interface, kept stable.
std::string studyJson(const StudyResult& result);

// The columns of an interval's row, as the CSV (after its meter) and the workbook name them.
inline constexpr std::array<const char*, 11> kIntervalColumns = {
    "start",   "measured_s",     "coverage",   "current_a", "max_current_a", "apparent_power_va",
    "power_w", "power_coverage", "energy_vah", "energy_wh", "overloads"};

// The intervals as CSV, a row per interval and meter (the total's rows under "total").
std::string studyCsv(const StudyResult& result);

// The lines a person reads of one meter (or the total), as the window's labels hold them too.
struct MeterSummary {
    std::string name;
    std::string period;      // "2026-01-01 to 2026-01-31"
    std::string days;        // "31 of 31 days measured"
    std::string peak;        // "Peak 15 min 23.41 A at 17:45 on 2026-01-12"
    std::string slidingPeak; // "Sliding peak 15 min 24.02 A at 17:41 on 2026-01-12"
    std::string loadFactor;  // "Load factor 0.42"
    std::string energy;      // "Energy 1234.568 kVAh, 1172.840 kWh"
};
std::vector<MeterSummary> meterSummaries(const StudyResult& result);
// The total's lines, of S (the current is not summed) and with no load factor; needs a total.
MeterSummary totalSummary(const StudyResult& result);
// "Imbalance max 12.3 % at 18:00 on 2026-01-12, mean 4.1 % over 2976 intervals"; empty with
// one meter.
std::string imbalanceLine(const StudyResult& result);
// The 220.87 verdict in one line, and why the recording does not qualify; empty without it.
std::string necLine(const StudyResult& result);
std::vector<std::string> necNotes(const StudyResult& result);
// The whole summary for standard output.
std::string summaryText(const StudyResult& result);

// "17:45 on 2026-01-12": a local time as the summary gives it.
std::string whenText(std::int64_t wallMs);
// "2026-01-12": a local day.
std::string dateText(std::int64_t day);

// Whether a day had anything measured.
inline bool measured(const Day& day) {
    return day.measuredS > 0 || day.energyVAh.has_value();
}

} // namespace talviren::study
