#include "study/StudyOutputs.h"

#include "log/CsvLog.h"
#include "time/LocalTime.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace talviren::study {

namespace {

// Appends a number as the shortest text that reads back as the same double.
void appendNumber(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    if (value == 0) {
        value = 0; // no "-0"
    }
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, result.ptr);
}

// A JSON document written in one pass: commas where they belong.
class Json {
public:
    Json& open(char bracket) {
        comma();
        out_ += bracket;
        first_ = true;
        return *this;
    }
    Json& close(char bracket) {
        out_ += bracket;
        first_ = false;
        return *this;
    }
    Json& key(const char* name) {
        comma();
        string(name);
        out_ += ':';
        first_ = true; // the value follows without a comma
        return *this;
    }
    Json& text(const std::string& value) {
        comma();
        string(value);
        return *this;
    }
    Json& number(double value) {
        comma();
        appendNumber(out_, value);
        return *this;
    }
    Json& number(const std::optional<double>& value) { return value ? number(*value) : null(); }
    Json& integer(std::int64_t value) {
        comma();
        out_ += std::to_string(value);
        return *this;
    }
    Json& boolean(bool value) {
        comma();
        out_ += value ? "true" : "false";
        return *this;
    }
    Json& null() {
        comma();
        out_ += "null";
        return *this;
    }
    Json& time(const std::optional<std::int64_t>& wallMs) {
        return wallMs ? text(csvlog::timeField(*wallMs)) : null();
    }
    std::string take() { return std::move(out_) + "\n"; }

private:
    void comma() {
        if (!first_) {
            out_ += ',';
        }
        first_ = false;
    }
    void string(std::string_view value) {
        out_ += '"';
        for (const char c : value) {
            if (c == '"' || c == '\\') {
                out_ += '\\';
                out_ += c;
            } else if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out_ += escaped;
            } else {
                out_ += c;
            }
        }
        out_ += '"';
    }

    std::string out_;
    bool first_ = true;
};

void peak(Json& j, const char* name, const Peak& p) {
    j.key(name).open('{').key("value").number(p.value).key("start");
    if (p.value) {
        j.time(p.startMs);
    } else {
        j.null();
    }
    j.close('}');
}

void byQuantity(Json& j, const char* name, const ByQuantity<Peak>& peaks, bool current = true) {
    j.key(name).open('{');
    if (current) {
        peak(j, "current_a", peaks.current);
    }
    peak(j, "apparent_power_va", peaks.apparent);
    peak(j, "power_w", peaks.power);
    j.close('}');
}

void byQuantity(Json& j, const char* name, const ByQuantity<std::optional<double>>& values) {
    j.key(name).open('{');
    j.key("current_a").number(values.current);
    j.key("apparent_power_va").number(values.apparent);
    j.key("power_w").number(values.power);
    j.close('}');
}

void interval(Json& j, const Interval& in) {
    j.open('{');
    j.key("start").time(in.startMs);
    j.key("measured_s").number(in.measuredS);
    j.key("coverage").number(in.coverage);
    j.key("current_a").number(in.current);
    j.key("max_current_a").number(in.maxCurrent);
    j.key("apparent_power_va").number(in.apparent);
    j.key("power_w").number(in.power);
    j.key("power_coverage").number(in.powerCoverage);
    j.key("energy_vah").number(in.energyVAh);
    j.key("energy_wh").number(in.energyWh);
    j.key("overloads").integer(in.overloads);
    j.close('}');
}

void days(Json& j, const std::vector<Day>& list, bool total) {
    j.key("days").open('[');
    for (const Day& day : list) {
        j.open('{');
        j.key("date").text(dateText(day.day));
        j.key("hours").number(day.hours);
        if (!total) {
            j.key("measured_s").number(day.measuredS);
        }
        j.key("coverage").number(day.coverage);
        j.key("energy_vah").number(day.energyVAh);
        j.key("energy_wh").number(day.energyWh);
        if (!total) {
            j.key("peak_current_a").number(day.peakCurrent);
        }
        j.key("peak_apparent_power_va").number(day.peakApparent);
        if (!total) {
            j.key("max_current_a").number(day.maxCurrent);
        }
        j.close('}');
    }
    j.close(']');
}

void shapes(Json& j, const char* name, const std::vector<DayShape>& list) {
    j.key(name).open('[');
    for (const DayShape& s : list) {
        j.open('{');
        j.key("time").text(s.time);
        j.key("mean_current_a").number(s.mean);
        j.key("p10_current_a").number(s.p10);
        j.key("p90_current_a").number(s.p90);
        j.key("count").integer(s.count);
        j.close('}');
    }
    j.close(']');
}

void numbers(Json& j, const char* name, const std::vector<double>& values) {
    j.key(name).open('[');
    for (const double v : values) {
        j.number(v);
    }
    j.close(']');
}

// A number with a fixed count of decimals.
std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string csvNumber(const std::optional<double>& value) {
    std::string out;
    if (value) {
        appendNumber(out, *value);
    }
    return out;
}

} // namespace

std::string dateText(std::int64_t day) {
    int y = 0, m = 0, d = 0;
    civilFromDays(day, y, m, d);
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", y, m, d);
    return text;
}

std::string whenText(std::int64_t wallMs) {
    const std::string local = csvlog::localTime(wallMs); // "2026-12-07T14:03:59.250"
    return local.substr(11, 5) + " on " + local.substr(0, 10);
}

std::string studyJson(const StudyResult& r) {
    Json j;
    j.open('{');
    j.key("interval_s").integer(r.settings.intervalS);
    j.key("min_coverage").number(r.settings.minCoverage);
    j.key("power_factor");
    if (r.settings.powerFactor) {
        j.number(r.settings.powerFactor->value());
    } else {
        j.null();
    }
    j.key("from").text(dateText(r.firstDay));
    j.key("to").text(dateText(r.lastDay));
    j.key("meters").open('[');
    for (const MeterStudy& m : r.meters) {
        j.open('{');
        j.key("name").text(m.name);
        j.key("files").open('[');
        for (const std::string& file : m.files) {
            j.text(file);
        }
        j.close(']');
        j.key("readings").integer(m.readings);
        j.key("skipped_lines").integer(m.skippedLines);
        j.key("duplicates").integer(m.duplicates);
        j.key("first").time(m.firstMs);
        j.key("last").time(m.lastMs);
        j.key("measured_s").number(m.measuredS);
        j.key("coverage").number(m.coverage);
        j.key("longest_gap_s").number(static_cast<double>(m.longestGapMs) / 1000.0);
        j.key("energy_vah").number(m.energyVAh);
        j.key("energy_wh").number(m.energyWh);
        byQuantity(j, "mean", m.mean);
        byQuantity(j, "peak", m.peak);
        byQuantity(j, "sliding_peak", m.slidingPeak);
        byQuantity(j, "load_factor", m.loadFactor);
        j.key("top").open('[');
        for (const std::size_t i : m.top) {
            interval(j, m.intervals[i]);
        }
        j.close(']');
        j.key("intervals").open('[');
        for (const Interval& in : m.intervals) {
            interval(j, in);
        }
        j.close(']');
        days(j, m.days, false);
        j.key("average_day").open('{');
        shapes(j, "weekday", m.weekday);
        shapes(j, "weekend", m.weekend);
        j.close('}');
        j.key("duration_curve").open('{');
        numbers(j, "current_a", m.durationCurve.current);
        numbers(j, "apparent_power_va", m.durationCurve.apparent);
        numbers(j, "power_w", m.durationCurve.power);
        j.close('}');
        j.close('}');
    }
    j.close(']');
    if (r.total) {
        const TotalStudy& t = *r.total;
        j.key("total").open('{');
        j.key("intervals").open('[');
        for (const TotalInterval& in : t.intervals) {
            j.open('{');
            j.key("start").time(in.startMs);
            j.key("apparent_power_va").number(in.apparent);
            j.key("power_w").number(in.power);
            j.close('}');
        }
        j.close(']');
        byQuantity(j, "peak", t.peak, false);
        byQuantity(j, "sliding_peak", t.slidingPeak, false);
        days(j, t.days, true);
        j.close('}');
    }
    if (r.imbalance) {
        const Imbalance& b = *r.imbalance;
        j.key("imbalance").open('{');
        j.key("max_percent").number(b.maxPercent);
        j.key("start");
        if (b.maxPercent) {
            j.time(b.startMs);
        } else {
            j.null();
        }
        j.key("mean_percent").number(b.meanPercent);
        j.key("intervals").integer(b.intervals);
        j.close('}');
    }
    if (r.nec) {
        const NecCheck& n = *r.nec;
        j.key("nec_220_87").open('{');
        j.key("meter").text(n.meter);
        j.key("demand").text(n.demand == Demand::Sliding ? "sliding" : "block");
        j.key("rating_a").number(n.ratingA);
        j.key("new_load_a").number(n.newLoadA);
        j.key("days").number(n.days);
        j.key("longest_gap_s").number(n.longestGapS);
        j.key("qualifies").boolean(n.qualifies);
        j.key("reasons").open('[');
        for (const std::string& reason : n.reasons) {
            j.text(reason);
        }
        j.close(']');
        j.key("max_demand_a").number(n.maxDemandA);
        j.key("at");
        if (n.maxDemandA) {
            j.time(n.atMs);
        } else {
            j.null();
        }
        j.key("load_a").number(n.loadA);
        j.key("headroom_a").number(n.headroomA);
        j.key("passes").boolean(n.passes);
        j.close('}');
    }
    j.close('}');
    return j.take();
}

std::string studyCsv(const StudyResult& r) {
    std::string out = "meter";
    for (const char* column : kIntervalColumns) {
        out += std::string(",") + column;
    }
    out += '\n';
    for (const MeterStudy& m : r.meters) {
        for (const Interval& in : m.intervals) {
            out += csvlog::field(m.name) + ',' + csvlog::timeField(in.startMs) + ',' +
                   csvNumber(in.measuredS) + ',' + csvNumber(in.coverage) + ',' +
                   csvNumber(in.current) + ',' + csvNumber(in.maxCurrent) + ',' +
                   csvNumber(in.apparent) + ',' + csvNumber(in.power) + ',' +
                   csvNumber(in.powerCoverage) + ',' + csvNumber(in.energyVAh) + ',' +
                   csvNumber(in.energyWh) + ',' + std::to_string(in.overloads) + '\n';
        }
    }
    if (r.total) {
        for (const TotalInterval& in : r.total->intervals) {
            out += "total," + csvlog::timeField(in.startMs) + ",,,,," + csvNumber(in.apparent) +
                   ',' + csvNumber(in.power) + ",,,,\n";
        }
    }
    return out;
}

std::vector<MeterSummary> meterSummaries(const StudyResult& r) {
    std::vector<MeterSummary> out;
    const std::string span = intervalName(r.settings.intervalS);
    for (const MeterStudy& m : r.meters) {
        MeterSummary s;
        s.name = m.name;
        s.period = m.firstMs
                       ? dateText(localDay(*m.firstMs)) + " to " + dateText(localDay(*m.lastMs))
                       : std::string("no reading");
        int measuredDays = 0;
        for (const Day& day : m.days) {
            measuredDays += measured(day) ? 1 : 0;
        }
        s.days = std::to_string(measuredDays) + " of " + std::to_string(m.days.size()) +
                 " days measured";
        const auto peakText = [&](const char* what, const Peak& p) {
            return p.value ? std::string(what) + " " + span + " " + fixed(*p.value, 2) + " A at " +
                                 whenText(p.startMs)
                           : std::string(what) + " " + span + ": no interval measured enough";
        };
        s.peak = peakText("Peak", m.peak.current);
        s.slidingPeak = peakText("Sliding peak", m.slidingPeak.current);
        s.loadFactor = m.loadFactor.current ? "Load factor " + fixed(*m.loadFactor.current, 2)
                                            : std::string("Load factor: none");
        s.energy = m.energyVAh ? "Energy " + fixed(*m.energyVAh / 1000, 3) + " kVAh" +
                                     (m.energyWh ? ", " + fixed(*m.energyWh / 1000, 3) + " kWh"
                                                 : std::string())
                               : std::string("Energy: no AC voltage measured");
        out.push_back(s);
    }
    return out;
}

MeterSummary totalSummary(const StudyResult& r) {
    const TotalStudy& t = *r.total;
    MeterSummary s;
    s.name = "total";
    int measuredDays = 0;
    for (const Day& day : t.days) {
        measuredDays += measured(day) ? 1 : 0;
    }
    s.period = t.intervals.empty() ? std::string("no interval where every meter measured")
                                   : dateText(localDay(t.intervals.front().startMs)) + " to " +
                                         dateText(localDay(t.intervals.back().startMs));
    s.days =
        std::to_string(measuredDays) + " of " + std::to_string(t.days.size()) + " days measured";
    const std::string span = intervalName(r.settings.intervalS);
    const auto peakText = [&](const char* what, const Peak& p) {
        return p.value ? std::string(what) + " " + span + " " + fixed(*p.value / 1000, 3) +
                             " kVA at " + whenText(p.startMs)
                       : std::string(what) + " " + span +
                             ": no interval where every meter measured S enough";
    };
    s.peak = peakText("Peak S", t.peak.apparent);
    s.slidingPeak = peakText("Sliding peak S", t.slidingPeak.apparent);
    std::optional<double> vah, wh;
    for (const Day& day : t.days) {
        if (day.energyVAh) {
            vah = vah.value_or(0) + *day.energyVAh;
        }
        if (day.energyWh) {
            wh = wh.value_or(0) + *day.energyWh;
        }
    }
    s.energy = vah ? "Energy " + fixed(*vah / 1000, 3) + " kVAh" +
                         (wh ? ", " + fixed(*wh / 1000, 3) + " kWh" : std::string())
                   : std::string("Energy: no AC voltage measured");
    return s;
}

std::string imbalanceLine(const StudyResult& r) {
    if (!r.imbalance) {
        return {};
    }
    const Imbalance& b = *r.imbalance;
    if (!b.maxPercent) {
        return "Imbalance: no interval where every meter's current was measured enough";
    }
    return "Imbalance max " + fixed(*b.maxPercent, 1) + " % at " + whenText(b.startMs) + ", mean " +
           fixed(*b.meanPercent, 1) + " % over " + std::to_string(b.intervals) + " intervals";
}

std::string necLine(const StudyResult& r) {
    if (!r.nec) {
        return {};
    }
    const NecCheck& n = *r.nec;
    if (!n.maxDemandA) {
        return "220.87: no 15-minute demand measured on " + n.meter;
    }
    return "220.87 " + std::string(n.demand == Demand::Sliding ? "sliding" : "block") +
           " 15-minute demand on " + n.meter + ": 1.25 \u00D7 " + fixed(*n.maxDemandA, 2) +
           " A (at " + whenText(n.atMs) + ") + " + fixed(n.newLoadA, 2) +
           " A new load = " + fixed(*n.loadA, 2) + " A on a " + fixed(n.ratingA, 0) +
           " A service: " +
           (n.passes ? "passes, " + fixed(*n.headroomA, 2) + " A headroom"
                     : "does not pass, " + fixed(-*n.headroomA, 2) + " A over");
}

std::vector<std::string> necNotes(const StudyResult& r) {
    std::vector<std::string> notes;
    if (!r.nec) {
        return notes;
    }
    if (!r.nec->qualifies) {
        std::string why = "The recording does not qualify for 220.87: ";
        for (std::size_t i = 0; i < r.nec->reasons.size(); ++i) {
            why += (i ? "; " : "") + r.nec->reasons[i];
        }
        notes.push_back(why + ".");
    }
    notes.push_back("An aid to the rule of NEC 220.87, not an approval: the authority having "
                    "jurisdiction decides.");
    return notes;
}

std::string summaryText(const StudyResult& r) {
    std::string out;
    for (const MeterSummary& s : meterSummaries(r)) {
        out += s.name + ": " + s.period + ", " + s.days + "\n";
        for (const std::string* line : {&s.peak, &s.slidingPeak, &s.loadFactor, &s.energy}) {
            out += "  " + *line + "\n";
        }
    }
    if (r.total) {
        const MeterSummary t = totalSummary(r);
        out += "total:\n  " + t.peak + "\n  " + t.slidingPeak + "\n";
        if (t.energy.starts_with("Energy ")) {
            out += "  " + t.energy + "\n";
        }
        out += "  " + imbalanceLine(r) + "\n";
    }
    if (r.nec) {
        out += necLine(r) + "\n";
        for (const std::string& note : necNotes(r)) {
            out += note + "\n";
        }
    }
    return out;
}

} // namespace talviren::study
