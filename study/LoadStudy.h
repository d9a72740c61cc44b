#pragma once

#include "study/MeterMinutes.h"
#include "study/StudySettings.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace talviren::study {

// One figure for each quantity a study measures: the current, S and P.
template <typename T> struct ByQuantity { T current{}, apparent{}, power{}; };

// The highest mean of a kind of span (an interval, a window), and where that span starts;
// no value when no span qualifies.
struct Peak {
    std::optional<double> value;
    std::int64_t startMs = 0;
};

// One interval of one meter, aligned to the local clock.
struct Interval {
    std::int64_t startMs = 0;
    int lengthS = 0;
    double measuredS = 0;                      // of the current
    double coverage = 0;                       // measuredS / lengthS
    std::optional<double> current;             // A, the mean
    std::optional<double> maxCurrent;          // A, the highest reading whose time lies in it
    std::optional<double> apparent, power;     // VA and W, the means
    double powerCoverage = 0;                  // of S
    std::optional<double> energyVAh, energyWh; // the integrals / 3600
    int overloads = 0;                         // readings over range in it
    std::optional<double> slidingCurrent;      // the highest qualifying window starting in it
};

// One local calendar day.
struct Day {
    std::int64_t day = 0; // days since 1970-01-01
    std::int64_t startMs = 0;
    double hours = 24;    // 23 or 25 on the days the clocks change
    double measuredS = 0; // of the current
    double coverage = 0;  // against the day's true length
    std::optional<double> energyVAh, energyWh;
    std::optional<double> peakCurrent, peakApparent; // the day's block peaks
    std::optional<double> maxCurrent;
};

// One interval of the average day: its local time, and the qualifying intervals' means.
struct DayShape {
    std::string time; // "17:45"
    double mean = 0, p10 = 0, p90 = 0;
    int count = 0;
};

// What a study says of one meter.
struct MeterStudy {
    std::string name;
    std::vector<std::string> files;
    std::int64_t readings = 0, skippedLines = 0, duplicates = 0;
    std::optional<std::int64_t> firstMs, lastMs;
    double measuredS = 0, coverage = 0;
    std::optional<double> energyVAh, energyWh;
    ByQuantity<std::optional<double>> mean;
    ByQuantity<Peak> peak, slidingPeak;
    ByQuantity<std::optional<double>> loadFactor;
    std::vector<Interval> intervals;
    std::vector<std::size_t> top; // the ten highest qualifying intervals by current
    std::vector<Day> days;
    std::vector<DayShape> weekday, weekend;
    ByQuantity<std::vector<double>> durationCurve;
    std::int64_t longestGapMs = 0, longestGapFromMs = 0;
    std::vector<MeterMinutes::Gap> gaps; // the longest, longest first
    Peak demandBlock, demandSliding;     // of the current over 15 minutes, for 220.87
};

// The sum of the meters' S and P at one interval where every meter's S qualifies.
struct TotalInterval {
    std::int64_t startMs = 0;
    double apparent = 0;
    std::optional<double> power;
};

// The sum of several meters.
struct TotalStudy {
    std::vector<TotalInterval> intervals;
    ByQuantity<Peak> peak, slidingPeak; // of S and P (the current is not summed)
    std::vector<Day> days;              // energies summed, the lowest coverage among the meters
};

// How unbalanced the meters' currents are: per interval where every meter's current
// qualifies, max |Iₖ − Ī| / Ī × 100.
struct Imbalance {
    std::optional<double> maxPercent;
    std::int64_t startMs = 0;
    std::optional<double> meanPercent;
    int intervals = 0;
};

// NEC 220.87: a service sized from 30 days of 15-minute demand on the highest loaded phase.
struct NecCheck {
    std::string meter; // the phase with the highest peak current
    Demand demand = Demand::Sliding;
    double ratingA = 0, newLoadA = 0;
    double days = 0;                  // from the first reading to the last
    double longestGapS = 0;           // the longest step between two consecutive readings
    bool qualifies = false;           // at least 30 days, no step longer than 15 minutes
    std::vector<std::string> reasons; // why it does not qualify
    std::optional<double> maxDemandA;
    std::int64_t atMs = 0;
    std::optional<double> loadA, headroomA; // 1.25 × max demand + new load; rating − load
    bool passes = false;                    // load ≤ rating
};

struct StudyResult {
    StudySettings settings;
    std::int64_t firstDay = 0, lastDay = 0; // the period, local days
    std::vector<MeterStudy> meters;
    std::optional<TotalStudy> total;
    std::optional<Imbalance> imbalance;
    std::optional<NecCheck> nec;
};

// One meter's readings, taken in, with how reading them went.
struct MeterInput {
    std::string name;
    std::vector<std::string> files;
    LogReadResult read;
    const MeterMinutes* minutes = nullptr;
};

// Studies the meters by the rules of the load study (docs and manual page): intervals on the
// local clock (the program's TZ), their block and sliding peaks, days, the average day, the
// duration curve, and with several meters their total and imbalance; with a rating, the
// 220.87 check. Plain C++, computed from the minutes alone.
StudyResult studyMeters(const std::vector<MeterInput>& meters, const StudySettings& settings);

// Reads each meter's files as one log, in time order, and studies them: the result, or the
// error that names the file which is missing, unreadable or no log (then nothing is studied).
// `progress` hears the share done (0 to 1) and may say false to give up, which gives none.
struct StudyOutcome {
    std::optional<StudyResult> result;
    std::string error;
    bool cancelled = false;
};
StudyOutcome runStudy(const std::vector<MeterFiles>& meters, const StudySettings& settings,
                      const std::function<bool(double)>& progress = {});

// A meter whose readings are at hand (the window's own run): its name, and what hands them on
// in time order.
struct MeterReadings {
    std::string name;
    std::function<void(LogReadingSink&)> readings;
};
// The same over files and readings at hand alike, the files' meters first.
StudyOutcome runStudy(const std::vector<MeterFiles>& meters,
                      const std::vector<MeterReadings>& atHand, const StudySettings& settings,
                      const std::function<bool(double)>& progress = {});

// The period's bounds in UTC ms for the settings' days (none: open).
std::int64_t periodFromMs(const StudySettings& settings);
std::int64_t periodToMs(const StudySettings& settings);

} // namespace talviren::study
