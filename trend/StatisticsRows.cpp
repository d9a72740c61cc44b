#include "trend/StatisticsRows.h"

#include "measure/ValueText.h"
#include "power/ApparentPower.h"

#include <cstdio>

namespace talviren {

namespace {

std::string withSeparator(std::string number, const std::string& separator) {
    if (const auto point = number.find('.'); point != std::string::npos) {
        number.replace(point, 1, separator);
    }
    return number;
}

// A mean of S or P with two decimals.
std::string meanPower(double mean, const char* unit, const std::string& separator) {
    char number[64];
    std::snprintf(number, sizeof number, "%.2f", mean);
    return withSeparator(number, separator) + unit;
}

std::string va(std::int64_t units, const std::string& separator) {
    return withSeparator(apparentPowerNumber(units), separator) + "VA";
}

std::string watts(std::int64_t tenBillionths, const std::string& separator) {
    return withSeparator(realPowerMilliwatts(tenBillionths), separator) + "W";
}

} // namespace

std::vector<StatisticsRow> statisticsRows(const Recording& recording,
                                          std::optional<PowerFactor> factor,
                                          const std::string& prefix, const std::string& separator) {
    std::vector<StatisticsRow> rows;
    const ReadingStatistics& stats = recording.statistics();
    for (QuantityKind kind : stats.seenKinds()) {
        const ReadingStatistics::Kind& k = stats.of(kind);
        const bool counted = k.count > 0;
        rows.push_back({prefix + std::string(quantityKindInfo(kind).symbol),
                        {k.last.text, counted ? k.minimum.text : std::string(),
                         counted ? k.maximum.text : std::string(),
                         counted ? meanText(kind, k.mean(), separator) : std::string(),
                         std::to_string(k.count), std::to_string(k.overloads)}});
    }
    const PowerTally& power = recording.power();
    if (!power.seen()) {
        return rows;
    }
    const bool counted = power.count() > 0;
    const auto& last = power.last();
    const auto row = [&](const std::string& name, const char* unit, auto number, double perVA) {
        rows.push_back(
            {prefix + name,
             {!last            ? std::string()
              : last->overload ? std::string("OL") + unit
                               : number(last->units),
              counted ? number(power.minimum().units) : std::string(),
              counted ? number(power.maximum().units) : std::string(),
              counted ? meanPower(power.meanVA() * perVA, unit, separator) : std::string(),
              std::to_string(power.count()), std::to_string(power.overloads())}});
    };
    row(
        "S", "VA", [&](std::int64_t units) { return va(units, separator); }, 1.0);
    if (factor) {
        row(
            factor->label(), "W",
            [&](std::int64_t units) {
                return watts(realPowerTenBillionths(units, *factor), separator);
            },
            factor->value());
    }
    return rows;
}

std::vector<StatisticsRow> sumStatisticsRows(const SumTally& tally, const std::string& separator) {
    std::vector<StatisticsRow> rows;
    const ExactTally& s = tally.apparent;
    if (s.count() > 0) {
        rows.push_back({"\u03A3 S",
                        {va(s.last(), separator), va(s.minimum(), separator),
                         va(s.maximum(), separator), meanPower(s.mean(10'000.0), "VA", separator),
                         std::to_string(s.count()), std::string()}});
    }
    const ExactTally& p = tally.real;
    if (p.count() > 0) {
        rows.push_back(
            {"\u03A3 P",
             {tally.lastHasReal ? watts(p.last(), separator) : std::string(),
              watts(p.minimum(), separator), watts(p.maximum(), separator),
              meanPower(p.mean(1e10), "W", separator), std::to_string(p.count()), std::string()}});
    }
    return rows;
}

} // namespace talviren
