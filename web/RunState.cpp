#include "web/RunState.h"

#include "measure/ValueText.h"
#include "json/ReadingJson.h"

namespace talviren::web {

namespace {

void appendText(std::string& out, std::string_view key, std::string_view text) {
    json::appendKey(out, key);
    json::appendString(out, text);
}

void appendNumber(std::string& out, std::string_view key, std::int64_t number) {
    json::appendKey(out, key);
    out += std::to_string(number);
}

void appendTime(std::string& out, std::string_view key, std::int64_t wallMs) {
    json::appendKey(out, key);
    json::appendTime(out, wallMs);
}

void appendAlarms(std::string& out, const LiveFeed& feed) {
    static constexpr const char* kStates[] = {"clear", "pending", "raised"};
    const AlarmEngine& alarms = feed.alarms();
    out += '[';
    for (std::size_t i = 0; i < alarms.rules().size(); ++i) {
        const AlarmRule& rule = alarms.rules()[i];
        out += i > 0 ? ",{" : "{";
        appendText(out, "name", rule.name);
        appendText(out, "condition", rule.conditionText);
        appendText(out, "state", kStates[static_cast<int>(alarms.state(i))]);
        json::appendKey(out, "raised");
        const auto& raise = alarms.raisedBy(i);
        out += raise ? json::alarmEventJson(*raise, feed.powerFactor()) : "null";
        if (raise) {
            appendText(out, "detail", raise->detail());
        }
        out += '}';
    }
    out += ']';
}

void appendStatistics(std::string& out, const LiveFeed& feed, std::string_view separator) {
    const ReadingStatistics& statistics = feed.recording().statistics();
    out += '[';
    bool first = true;
    for (const QuantityKind kind : statistics.seenKinds()) {
        const ReadingStatistics::Kind& k = statistics.of(kind);
        out += first ? "{" : ",{";
        first = false;
        appendText(out, "name", quantityKindInfo(kind).symbol);
        appendText(out, "unit", quantityKindInfo(kind).baseUnit);
        appendText(out, "last", k.last.text);
        appendText(out, "min", k.count > 0 ? k.minimum.text : "");
        appendText(out, "max", k.count > 0 ? k.maximum.text : "");
        appendText(out, "mean", k.count > 0 ? meanText(kind, k.mean(), separator) : "");
        appendNumber(out, "count", k.count);
        appendNumber(out, "overloads", k.overloads);
        out += '}';
    }
    out += ']';
}

// S since the start, and P's figures at the power factor (S's times PF), with the energy.
void appendPower(std::string& out, const LiveFeed& feed) {
    const PowerTally& power = feed.recording().power();
    json::appendKey(out, "power");
    if (!power.seen()) {
        out += "null";
        return;
    }
    out += '{';
    appendNumber(out, "count", power.count());
    appendNumber(out, "overloads", power.overloads());
    if (const auto& last = power.last()) {
        json::appendKey(out, "last_overload");
        out += last->overload ? "true" : "false";
        if (!last->overload) {
            json::appendKey(out, "last_va");
            out += apparentPowerNumber(last->units);
            if (const auto pf = feed.powerFactor()) {
                json::appendKey(out, "last_w");
                out += realPowerNumber(last->units, *pf);
            }
        }
    }
    if (power.count() > 0) {
        json::appendKey(out, "min_va");
        out += apparentPowerNumber(power.minimum().units);
        json::appendKey(out, "max_va");
        out += apparentPowerNumber(power.maximum().units);
        json::appendKey(out, "mean_va");
        out += json::energyText(power.meanVA());
        if (const auto pf = feed.powerFactor()) {
            json::appendKey(out, "min_w");
            out += realPowerNumber(power.minimum().units, *pf);
            json::appendKey(out, "max_w");
            out += realPowerNumber(power.maximum().units, *pf);
            json::appendKey(out, "mean_w");
            out += json::energyText(power.meanVA() * pf->value());
        }
    }
    json::appendKey(out, "energy_vah");
    out += json::energyText(power.apparentEnergyVAh());
    if (const auto pf = feed.powerFactor()) {
        json::appendKey(out, "energy_wh");
        out += json::energyText(power.energyWh(*pf));
    }
    if (const auto since = power.sinceWallMs()) {
        appendTime(out, "since", *since);
    }
    out += '}';
}

} // namespace

std::string runStateJson(const LiveFeed& feed, std::string_view meterId,
                         std::string_view decimalSeparator) {
    std::string out = "{";
    appendText(out, "meter", meterId);
    json::appendKey(out, "power_factor");
    out += feed.powerFactor() ? feed.powerFactor()->text() : "null";
    json::appendKey(out, "link");
    out += feed.linkJson();
    appendNumber(out, "readings", static_cast<std::int64_t>(feed.readings()));
    json::appendKey(out, "alarms");
    appendAlarms(out, feed);
    json::appendKey(out, "statistics");
    appendStatistics(out, feed, decimalSeparator);
    appendPower(out, feed);
    json::appendKey(out, "log");
    if (const DurableLog* log = feed.log()) {
        out += '{';
        appendText(out, "path", log->path());
        appendNumber(out, "pending", static_cast<std::int64_t>(log->waiting()));
        appendNumber(out, "dropped", static_cast<std::int64_t>(log->dropped()));
        json::appendKey(out, "error");
        if (log->error().empty()) {
            out += "null";
        } else {
            json::appendString(out, log->error());
        }
        out += '}';
    } else {
        out += "null";
    }
    json::appendKey(out, "clock_synchronised");
    const auto synchronised = feed.clockSynchronised();
    out += !synchronised ? "null" : *synchronised ? "true" : "false";
    out += '}';
    return out;
}

} // namespace talviren::web
