#include "study/LoadStudy.h"

#include "time/LocalTime.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <map>
#include <memory>

namespace talviren::study {

namespace {

constexpr std::int64_t kMinuteMs = 60'000;
constexpr int kDemandS = 900; // 220.87's 15 minutes, whatever the study's interval

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// The study's calendar: its days, and its intervals of one length, in minutes since 1970.
struct Slot {
    std::int64_t firstMinute = 0, minutes = 0;
    int minuteOfDay = 0; // local clock: the "HH:MM" it starts at
    std::size_t day = 0; // index into the days
};
struct Calendar {
    std::vector<Day> days;                // date, start and hours only
    std::vector<std::int64_t> dayMinutes; // each day's first minute, and one past the last day
    std::vector<Slot> slots;
};

Calendar calendar(std::int64_t firstDay, std::int64_t lastDay, int intervalS) {
    Calendar c;
    LocalTime local;
    const int perInterval = intervalS / 60;
    for (std::int64_t d = firstDay; d <= lastDay + 1; ++d) {
        c.dayMinutes.push_back(floorDiv(localDayStartMs(d), kMinuteMs));
    }
    for (std::size_t i = 0; i + 1 < c.dayMinutes.size(); ++i) {
        Day day;
        day.day = firstDay + static_cast<std::int64_t>(i);
        day.startMs = c.dayMinutes[i] * kMinuteMs;
        day.hours = static_cast<double>(c.dayMinutes[i + 1] - c.dayMinutes[i]) / 60.0;
        c.days.push_back(day);
        // An interval is the minutes with one start on the local clock at one offset: the
        // hour the clocks go back holds its quarters twice, at two offsets.
        std::int64_t keyStart = -1, keyOffset = 0;
        for (std::int64_t m = c.dayMinutes[i]; m < c.dayMinutes[i + 1]; ++m) {
            const std::int64_t offset = local.offsetMs(m * kMinuteMs);
            const auto minuteOfDay =
                static_cast<int>(floorDiv(m * kMinuteMs + offset, kMinuteMs) % 1440 + 1440) % 1440;
            const int start = minuteOfDay / perInterval * perInterval;
            if (start != keyStart || offset != keyOffset || c.slots.empty()) {
                keyStart = start;
                keyOffset = offset;
                c.slots.push_back({m, 0, start, i});
            }
            ++c.slots.back().minutes;
        }
    }
    return c;
}

// A mean, or none with nothing measured.
std::optional<double> meanOf(double area, std::int64_t ms) {
    return ms > 0 ? std::optional(area / (static_cast<double>(ms) / 1000.0)) : std::nullopt;
}

// Means equal to a millionth (of an ampere, a volt-ampere, a percent) are equal: sums of the
// same load in another order differ in their last bits, and a tie goes to the earliest.
std::int64_t tieKey(double value) {
    return std::llround(value * 1e6);
}

// Keeps the highest value (the earliest of equal ones).
void consider(Peak& peak, const std::optional<double>& value, std::int64_t startMs) {
    if (value && (!peak.value || tieKey(*value) > tieKey(*peak.value))) {
        peak.value = value;
        peak.startMs = startMs;
    }
}

std::optional<double> times(const std::optional<double>& value,
                            const std::optional<PowerFactor>& factor) {
    return value && factor ? std::optional(*value * factor->value()) : std::nullopt;
}

Peak timesPeak(const Peak& peak, const std::optional<PowerFactor>& factor) {
    return {times(peak.value, factor), peak.startMs};
}

// Sums of the minutes in a range.
struct Sums {
    double currentArea = 0, apparentArea = 0;
    std::int64_t currentMs = 0, apparentMs = 0;
    void add(const Minute& m, int sign = 1) {
        currentArea += sign * m.currentArea;
        apparentArea += sign * m.apparentArea;
        currentMs += sign * m.currentMs;
        apparentMs += sign * m.apparentMs;
    }
};

// The intervals of one meter on a calendar.
std::vector<Interval> intervalsOf(const MeterMinutes& minutes, const Calendar& c,
                                  const StudySettings& settings) {
    std::vector<Interval> out;
    out.reserve(c.slots.size());
    for (const Slot& slot : c.slots) {
        Interval in;
        in.startMs = slot.firstMinute * kMinuteMs;
        in.lengthS = static_cast<int>(slot.minutes * 60);
        Sums sums;
        for (std::int64_t m = slot.firstMinute; m < slot.firstMinute + slot.minutes; ++m) {
            const Minute& minute = minutes.at(m);
            sums.add(minute);
            in.overloads += minute.overloads;
            if (minute.maxCurrent >= 0 && (!in.maxCurrent || minute.maxCurrent > *in.maxCurrent)) {
                in.maxCurrent = minute.maxCurrent;
            }
        }
        in.measuredS = static_cast<double>(sums.currentMs) / 1000.0;
        in.coverage = in.measuredS / in.lengthS;
        in.current = meanOf(sums.currentArea, sums.currentMs);
        in.apparent = meanOf(sums.apparentArea, sums.apparentMs);
        in.power = times(in.apparent, settings.powerFactor);
        in.powerCoverage = static_cast<double>(sums.apparentMs) / 1000.0 / in.lengthS;
        if (sums.apparentMs > 0) {
            in.energyVAh = sums.apparentArea / 3600.0;
            in.energyWh = times(in.energyVAh, settings.powerFactor);
        }
        out.push_back(in);
    }
    return out;
}

bool currentQualifies(const Interval& in, const StudySettings& s) {
    return in.current && in.coverage >= s.minCoverage;
}

bool powerQualifies(const Interval& in, const StudySettings& s) {
    return in.apparent && in.powerCoverage >= s.minCoverage;
}

// Windows of `windowMinutes` stepping by a minute: the highest qualifying means, and for each
// slot the highest current window starting in it.
struct Windows {
    Peak current, apparent;
    std::vector<std::optional<double>> currentBySlot;
};

Windows slidingWindows(const MeterMinutes& minutes, const Calendar& c, int windowMinutes,
                       const StudySettings& settings) {
    Windows w;
    w.currentBySlot.resize(c.slots.size());
    const std::int64_t first = c.dayMinutes.front();
    const std::int64_t end = c.dayMinutes.back();
    const double needMs = settings.minCoverage * windowMinutes * 60'000.0;
    Sums sums;
    std::size_t slot = 0;
    for (std::int64_t m = first; m < end; ++m) {
        sums.add(minutes.at(m));
        if (m - first >= windowMinutes) {
            sums.add(minutes.at(m - windowMinutes), -1);
        }
        const std::int64_t start = m - windowMinutes + 1;
        if (start < first) {
            continue;
        }
        while (slot + 1 < c.slots.size() && c.slots[slot + 1].firstMinute <= start) {
            ++slot;
        }
        if (static_cast<double>(sums.currentMs) >= needMs && sums.currentMs > 0) {
            const double mean = sums.currentArea / (static_cast<double>(sums.currentMs) / 1000.0);
            consider(w.current, mean, start * kMinuteMs);
            auto& best = w.currentBySlot[slot];
            best = best ? std::max(*best, mean) : mean;
        }
        if (static_cast<double>(sums.apparentMs) >= needMs && sums.apparentMs > 0) {
            consider(w.apparent,
                     sums.apparentArea / (static_cast<double>(sums.apparentMs) / 1000.0),
                     start * kMinuteMs);
        }
    }
    return w;
}

// The nearest-rank percentile: the ⌈p·n⌉-th smallest, p in hundredths.
double percentile(const std::vector<double>& sorted, int p) {
    const std::size_t n = sorted.size();
    const std::size_t rank = std::max<std::size_t>(1, (n * static_cast<std::size_t>(p) + 99) / 100);
    return sorted[rank - 1];
}

std::vector<DayShape> shapes(const std::map<int, std::vector<double>>& byTime) {
    std::vector<DayShape> out;
    for (auto [minuteOfDay, values] : byTime) {
        std::sort(values.begin(), values.end());
        DayShape shape;
        char time[32];
        std::snprintf(time, sizeof time, "%02d:%02d", minuteOfDay / 60, minuteOfDay % 60);
        shape.time = time;
        double sum = 0;
        for (const double v : values) {
            sum += v;
        }
        shape.mean = sum / static_cast<double>(values.size());
        shape.p10 = percentile(values, 10);
        shape.p90 = percentile(values, 90);
        shape.count = static_cast<int>(values.size());
        out.push_back(shape);
    }
    return out;
}

std::vector<double> descending(std::vector<double> values) {
    std::sort(values.begin(), values.end(), std::greater<>());
    return values;
}

MeterStudy studyOne(const MeterInput& input, const Calendar& c, const Calendar& demand,
                    const StudySettings& settings) {
    const MeterMinutes& minutes = *input.minutes;
    const auto& pf = settings.powerFactor;
    MeterStudy s;
    s.name = input.name;
    s.files = input.files;
    s.readings = minutes.readings();
    s.skippedLines = input.read.skipped;
    s.duplicates = input.read.duplicates;
    if (!minutes.empty()) {
        s.firstMs = minutes.firstMs();
        s.lastMs = minutes.lastMs();
        s.longestGapMs = minutes.longestGapMs();
        s.longestGapFromMs = minutes.longestGapFromMs();
        s.gaps = minutes.gaps();
    }
    s.intervals = intervalsOf(minutes, c, settings);
    // The whole period's sums, and the block peaks.
    Sums all;
    std::vector<double> currents, apparents;
    std::map<int, std::vector<double>> weekday, weekend;
    for (std::int64_t m = c.dayMinutes.front(); m < c.dayMinutes.back(); ++m) {
        all.add(minutes.at(m));
    }
    for (std::size_t i = 0; i < s.intervals.size(); ++i) {
        const Interval& in = s.intervals[i];
        if (currentQualifies(in, settings)) {
            consider(s.peak.current, in.current, in.startMs);
            currents.push_back(*in.current);
            const std::int64_t day = c.days[c.slots[i].day].day;
            const bool isWeekend = (day + 3) % 7 >= 5; // 1970-01-01 was a Thursday
            (isWeekend ? weekend : weekday)[c.slots[i].minuteOfDay].push_back(*in.current);
            s.top.push_back(i);
        }
        if (powerQualifies(in, settings)) {
            consider(s.peak.apparent, in.apparent, in.startMs);
            apparents.push_back(*in.apparent);
        }
    }
    s.peak.power = timesPeak(s.peak.apparent, pf);
    std::stable_sort(s.top.begin(), s.top.end(), [&](std::size_t a, std::size_t b) {
        return tieKey(*s.intervals[a].current) > tieKey(*s.intervals[b].current);
    });
    if (s.top.size() > 10) {
        s.top.resize(10);
    }
    s.durationCurve.current = descending(currents);
    s.durationCurve.apparent = descending(apparents);
    if (pf) {
        for (const double va : s.durationCurve.apparent) {
            s.durationCurve.power.push_back(va * pf->value());
        }
    }
    s.weekday = shapes(weekday);
    s.weekend = shapes(weekend);
    // Sliding windows; a block interval is a window too, so that none is missed where the
    // clocks change.
    const Windows windows = slidingWindows(minutes, c, settings.intervalS / 60, settings);
    s.slidingPeak.current = windows.current;
    s.slidingPeak.apparent = windows.apparent;
    for (std::size_t i = 0; i < s.intervals.size(); ++i) {
        s.intervals[i].slidingCurrent = windows.currentBySlot[i];
    }
    consider(s.slidingPeak.current, s.peak.current.value, s.peak.current.startMs);
    consider(s.slidingPeak.apparent, s.peak.apparent.value, s.peak.apparent.startMs);
    s.slidingPeak.power = timesPeak(s.slidingPeak.apparent, pf);
    // The period.
    s.measuredS = static_cast<double>(all.currentMs) / 1000.0;
    if (s.firstMs && *s.lastMs > *s.firstMs) {
        s.coverage = s.measuredS / (static_cast<double>(*s.lastMs - *s.firstMs) / 1000.0);
    }
    s.mean.current = meanOf(all.currentArea, all.currentMs);
    s.mean.apparent = meanOf(all.apparentArea, all.apparentMs);
    s.mean.power = times(s.mean.apparent, pf);
    if (all.apparentMs > 0) {
        s.energyVAh = all.apparentArea / 3600.0;
        s.energyWh = times(s.energyVAh, pf);
    }
    const auto ratio = [](const std::optional<double>& mean, const Peak& peak) {
        return mean && peak.value && *peak.value > 0 ? std::optional(*mean / *peak.value)
                                                     : std::nullopt;
    };
    s.loadFactor = {ratio(s.mean.current, s.peak.current), ratio(s.mean.apparent, s.peak.apparent),
                    ratio(s.mean.power, s.peak.power)};
    // Days.
    s.days = c.days;
    for (std::size_t d = 0; d < s.days.size(); ++d) {
        Day& day = s.days[d];
        Sums sums;
        for (std::int64_t m = c.dayMinutes[d]; m < c.dayMinutes[d + 1]; ++m) {
            const Minute& minute = minutes.at(m);
            sums.add(minute);
            if (minute.maxCurrent >= 0 &&
                (!day.maxCurrent || minute.maxCurrent > *day.maxCurrent)) {
                day.maxCurrent = minute.maxCurrent;
            }
        }
        day.measuredS = static_cast<double>(sums.currentMs) / 1000.0;
        day.coverage = day.measuredS / (day.hours * 3600.0);
        if (sums.apparentMs > 0) {
            day.energyVAh = sums.apparentArea / 3600.0;
            day.energyWh = times(day.energyVAh, pf);
        }
    }
    for (std::size_t i = 0; i < s.intervals.size(); ++i) {
        Day& day = s.days[c.slots[i].day];
        const Interval& in = s.intervals[i];
        if (currentQualifies(in, settings) &&
            (!day.peakCurrent || *in.current > *day.peakCurrent)) {
            day.peakCurrent = in.current;
        }
        if (powerQualifies(in, settings) &&
            (!day.peakApparent || *in.apparent > *day.peakApparent)) {
            day.peakApparent = in.apparent;
        }
    }
    // The 15-minute demand of 220.87.
    if (settings.intervalS == kDemandS) {
        s.demandBlock = s.peak.current;
        s.demandSliding = s.slidingPeak.current;
    } else {
        for (const Interval& in : intervalsOf(minutes, demand, settings)) {
            if (currentQualifies(in, settings)) {
                consider(s.demandBlock, in.current, in.startMs);
            }
        }
        s.demandSliding = slidingWindows(minutes, demand, kDemandS / 60, settings).current;
        consider(s.demandSliding, s.demandBlock.value, s.demandBlock.startMs);
    }
    return s;
}

TotalStudy total(const std::vector<MeterInput>& inputs, const std::vector<MeterStudy>& meters,
                 const Calendar& c, const StudySettings& settings) {
    TotalStudy t;
    const auto& pf = settings.powerFactor;
    for (std::size_t i = 0; i < c.slots.size(); ++i) {
        TotalInterval sum;
        sum.startMs = c.slots[i].firstMinute * kMinuteMs;
        bool all = true;
        for (const MeterStudy& meter : meters) {
            const Interval& in = meter.intervals[i];
            all = all && powerQualifies(in, settings);
            if (all) {
                sum.apparent += *in.apparent;
            }
        }
        if (!all) {
            continue; // never a partial sum
        }
        sum.power = times(sum.apparent, pf);
        consider(t.peak.apparent, sum.apparent, sum.startMs);
        t.intervals.push_back(sum);
    }
    t.peak.power = timesPeak(t.peak.apparent, pf);
    // Windows: each meter's window mean, where every one of them qualifies.
    const int window = settings.intervalS / 60;
    const double needMs = settings.minCoverage * window * 60'000.0;
    std::vector<Sums> sums(inputs.size());
    const std::int64_t first = c.dayMinutes.front();
    for (std::int64_t m = first; m < c.dayMinutes.back(); ++m) {
        double apparent = 0;
        bool all = m - first + 1 >= window;
        for (std::size_t k = 0; k < inputs.size(); ++k) {
            sums[k].add(inputs[k].minutes->at(m));
            if (m - first >= window) {
                sums[k].add(inputs[k].minutes->at(m - window), -1);
            }
            all =
                all && sums[k].apparentMs > 0 && static_cast<double>(sums[k].apparentMs) >= needMs;
            if (all) {
                apparent +=
                    sums[k].apparentArea / (static_cast<double>(sums[k].apparentMs) / 1000.0);
            }
        }
        if (all) {
            consider(t.slidingPeak.apparent, apparent, (m - window + 1) * kMinuteMs);
        }
    }
    consider(t.slidingPeak.apparent, t.peak.apparent.value, t.peak.apparent.startMs);
    t.slidingPeak.power = timesPeak(t.slidingPeak.apparent, pf);
    // Days: the meters' energies summed, the lowest coverage (of S) among them.
    t.days = c.days;
    for (std::size_t d = 0; d < t.days.size(); ++d) {
        Day& day = t.days[d];
        day.coverage = 1;
        for (std::size_t k = 0; k < meters.size(); ++k) {
            const Day& own = meters[k].days[d];
            std::int64_t apparentMs = 0;
            for (std::int64_t m = c.dayMinutes[d]; m < c.dayMinutes[d + 1]; ++m) {
                apparentMs += inputs[k].minutes->at(m).apparentMs;
            }
            day.coverage = std::min(day.coverage, apparentMs / 1000.0 / (day.hours * 3600.0));
            if (own.energyVAh) {
                day.energyVAh = day.energyVAh.value_or(0) + *own.energyVAh;
            }
        }
        day.energyWh = times(day.energyVAh, pf);
        day.measuredS = day.coverage * day.hours * 3600.0;
    }
    std::size_t d = 0;
    for (const TotalInterval& in : t.intervals) {
        while (d + 1 < t.days.size() && t.days[d + 1].startMs <= in.startMs) {
            ++d;
        }
        if (!t.days[d].peakApparent || in.apparent > *t.days[d].peakApparent) {
            t.days[d].peakApparent = in.apparent;
        }
    }
    return t;
}

Imbalance imbalance(const std::vector<MeterStudy>& meters, const Calendar& c,
                    const StudySettings& settings) {
    Imbalance out;
    double sum = 0;
    for (std::size_t i = 0; i < c.slots.size(); ++i) {
        double mean = 0;
        bool all = true;
        for (const MeterStudy& meter : meters) {
            all = all && currentQualifies(meter.intervals[i], settings);
            if (all) {
                mean += *meter.intervals[i].current;
            }
        }
        mean /= static_cast<double>(meters.size());
        if (!all || mean <= 0) {
            continue;
        }
        double deviation = 0;
        for (const MeterStudy& meter : meters) {
            deviation = std::max(deviation, std::abs(*meter.intervals[i].current - mean));
        }
        const double percent = deviation / mean * 100;
        if (!out.maxPercent || tieKey(percent) > tieKey(*out.maxPercent)) {
            out.maxPercent = percent;
            out.startMs = c.slots[i].firstMinute * kMinuteMs;
        }
        sum += percent;
        ++out.intervals;
    }
    if (out.intervals > 0) {
        out.meanPercent = sum / out.intervals;
    }
    return out;
}

NecCheck nec(const std::vector<MeterStudy>& meters, const StudySettings& settings) {
    NecCheck check;
    check.demand = settings.demand;
    check.ratingA = *settings.ratingA;
    check.newLoadA = settings.newLoadA;
    const auto demandOf = [&](const MeterStudy& m) {
        return settings.demand == Demand::Sliding ? m.demandSliding : m.demandBlock;
    };
    const MeterStudy* phase = &meters.front();
    for (const MeterStudy& meter : meters) {
        const Peak p = demandOf(meter);
        if (p.value &&
            (!demandOf(*phase).value || tieKey(*p.value) > tieKey(*demandOf(*phase).value))) {
            phase = &meter;
        }
    }
    check.meter = phase->name;
    if (phase->firstMs) {
        check.days = static_cast<double>(*phase->lastMs - *phase->firstMs) / 86'400'000.0;
    }
    check.longestGapS = static_cast<double>(phase->longestGapMs) / 1000.0;
    if (check.days < 30) {
        char why[96];
        std::snprintf(why, sizeof why, "the recording covers %.1f days, fewer than 30", check.days);
        check.reasons.push_back(why);
    }
    if (check.longestGapS > kDemandS) {
        char why[128];
        std::snprintf(why, sizeof why, "its longest gap is %.0f minutes, longer than 15 minutes",
                      check.longestGapS / 60);
        check.reasons.push_back(why);
    }
    const Peak demand = demandOf(*phase);
    if (!demand.value) {
        check.reasons.push_back("no 15-minute period was measured enough to count");
    }
    check.qualifies = check.reasons.empty();
    check.maxDemandA = demand.value;
    check.atMs = demand.startMs;
    if (demand.value) {
        check.loadA = 1.25 * *demand.value + check.newLoadA;
        check.headroomA = check.ratingA - *check.loadA;
        check.passes = *check.loadA <= check.ratingA;
    }
    return check;
}

} // namespace

std::int64_t periodFromMs(const StudySettings& settings) {
    return settings.fromDay ? localDayStartMs(*settings.fromDay)
                            : std::numeric_limits<std::int64_t>::min();
}

std::int64_t periodToMs(const StudySettings& settings) {
    return settings.toDay ? localDayStartMs(*settings.toDay + 1)
                          : std::numeric_limits<std::int64_t>::max();
}

StudyResult studyMeters(const std::vector<MeterInput>& meters, const StudySettings& settings) {
    StudyResult result;
    result.settings = settings;
    std::optional<std::int64_t> first, last;
    for (const MeterInput& meter : meters) {
        if (!meter.minutes->empty()) {
            const std::int64_t a = localDay(meter.minutes->firstMs());
            const std::int64_t b = localDay(meter.minutes->lastMs());
            first = first ? std::min(*first, a) : a;
            last = last ? std::max(*last, b) : b;
        }
    }
    result.firstDay = settings.fromDay.value_or(first.value_or(0));
    result.lastDay = settings.toDay.value_or(last.value_or(result.firstDay));
    const Calendar c = calendar(result.firstDay, result.lastDay, settings.intervalS);
    const Calendar demand = settings.intervalS == kDemandS
                                ? Calendar{}
                                : calendar(result.firstDay, result.lastDay, kDemandS);
    for (const MeterInput& meter : meters) {
        result.meters.push_back(studyOne(meter, c, demand, settings));
    }
    if (meters.size() > 1) {
        result.total = total(meters, result.meters, c, settings);
        result.imbalance = imbalance(result.meters, c, settings);
    }
    if (settings.ratingA && !meters.empty()) {
        result.nec = nec(result.meters, settings);
    }
    return result;
}

StudyOutcome runStudy(const std::vector<MeterFiles>& meters, const StudySettings& settings,
                      const std::function<bool(double)>& progress) {
    return runStudy(meters, {}, settings, progress);
}

StudyOutcome runStudy(const std::vector<MeterFiles>& meters,
                      const std::vector<MeterReadings>& atHand, const StudySettings& settings,
                      const std::function<bool(double)>& progress) {
    StudyOutcome outcome;
    std::vector<std::unique_ptr<MeterMinutes>> minutes;
    std::vector<MeterInput> inputs;
    std::size_t steps = atHand.size(), done = 0;
    for (const MeterFiles& meter : meters) {
        steps += meter.files.size();
    }
    const auto step = [&] {
        ++done;
        return !progress ||
               progress(0.95 * static_cast<double>(done) / std::max<std::size_t>(steps, 1));
    };
    for (const MeterFiles& meter : meters) {
        minutes.push_back(
            std::make_unique<MeterMinutes>(periodFromMs(settings), periodToMs(settings)));
        LogReadResult read =
            readCsvLogs(meter.files, *minutes.back(), [&](std::size_t) { return step(); });
        if (read.cancelled) {
            outcome.cancelled = true;
            return outcome;
        }
        if (!read.isLog) {
            outcome.error = read.error;
            return outcome;
        }
        inputs.push_back({meter.name, meter.files, read, minutes.back().get()});
    }
    for (const MeterReadings& meter : atHand) {
        minutes.push_back(
            std::make_unique<MeterMinutes>(periodFromMs(settings), periodToMs(settings)));
        meter.readings(*minutes.back());
        LogReadResult read;
        read.isLog = true;
        read.readings = minutes.back()->readings();
        inputs.push_back({meter.name, {}, read, minutes.back().get()});
        if (!step()) {
            outcome.cancelled = true;
            return outcome;
        }
    }
    outcome.result = studyMeters(inputs, settings);
    if (progress) {
        progress(1.0);
    }
    return outcome;
}

} // namespace talviren::study
