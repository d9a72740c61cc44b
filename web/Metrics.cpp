#include "web/Metrics.h"

#include "power/ApparentPower.h"

#include <charconv>
#include <optional>

namespace talviren::web {

namespace {

// A label value with backslash, double quote and line feed escaped, as the format asks.
std::string labelValue(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string shortest(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

class Exposition {
public:
    explicit Exposition(std::string_view meterId)
        : meter_("meter=\"" + labelValue(meterId) + "\"") {}

    void family(std::string_view name, std::string_view type, std::string_view help) {
        out_.append("# HELP ").append(name).append(" ").append(help).append("\n");
        out_.append("# TYPE ").append(name).append(" ").append(type).append("\n");
    }
    void sample(std::string_view name, std::string_view value, std::string_view labels = {}) {
        out_.append(name).append("{").append(meter_);
        if (!labels.empty()) {
            out_.append(",").append(labels);
        }
        out_.append("} ").append(value).append("\n");
    }
    std::string take() { return std::move(out_); }

private:
    std::string meter_;
    std::string out_;
};

struct Gauge {
    std::string_view name;
    std::string_view help;
};

// The gauge of each quantity kind, in the kinds' order.
constexpr Gauge kQuantityGauges[kQuantityKindCount] = {
    {"talviren_current_amperes", "AC current of the latest reading, in amperes."},
    {"talviren_ac_voltage_volts", "AC voltage of the latest reading, in volts."},
    {"talviren_dc_voltage_volts", "DC voltage of the latest reading, in volts."},
    {"talviren_resistance_ohms", "Resistance of the latest reading, in ohms."},
};

} // namespace

std::string metricsText(const LiveFeed& feed, std::string_view meterId) {
    Exposition out(meterId);
    const std::optional<TimedReading>& now = feed.current();
    const std::optional<PowerFactor> pf = feed.powerFactor();
    for (const QuantityKind kind : kAllQuantityKinds) {
        const Gauge& gauge = kQuantityGauges[static_cast<std::size_t>(kind)];
        out.family(gauge.name, "gauge", gauge.help);
        if (!now) {
            continue;
        }
        for (const auto* q : {&now->current, &now->second}) {
            if (*q && (*q)->kind == kind && !(*q)->overload) {
                out.sample(gauge.name, plainNumber(**q));
            }
        }
    }
    const ApparentPower s = now ? apparentPower(now->raw) : ApparentPower{};
    out.family("talviren_apparent_power_voltamperes", "gauge",
               "Apparent power S = U x I of the latest reading, in volt-amperes.");
    if (s.hasValue()) {
        out.sample("talviren_apparent_power_voltamperes", apparentPowerNumber(s.units));
    }
    if (pf) {
        out.family("talviren_power_watts", "gauge",
                   "Real power P = S x PF of the latest reading at the power factor given, in "
                   "watts.");
        if (s.hasValue()) {
            out.sample("talviren_power_watts", realPowerNumber(s.units, *pf));
        }
    }
    out.family("talviren_link_up", "gauge", "1 while the meter answers, else 0.");
    out.sample("talviren_link_up", feed.link().state == LinkStatus::State::Connected ? "1" : "0");
    const AlarmEngine& alarms = feed.alarms();
    if (!alarms.rules().empty()) {
        out.family("talviren_alarm_active", "gauge", "1 while the alarm is raised, else 0.");
        for (std::size_t i = 0; i < alarms.rules().size(); ++i) {
            out.sample("talviren_alarm_active",
                       alarms.state(i) == AlarmEngine::State::Raised ? "1" : "0",
                       "alarm=\"" + labelValue(alarms.rules()[i].name) + "\"");
        }
    }
    out.family("talviren_readings_total", "counter", "Live readings since the start.");
    out.sample("talviren_readings_total", std::to_string(feed.readings()));
    out.family("talviren_overloads_total", "counter",
               "Live readings with the quantity over range, since the start.");
    out.sample("talviren_overloads_total", std::to_string(feed.currentOverloads()),
               "quantity=\"current\"");
    out.sample("talviren_overloads_total", std::to_string(feed.secondOverloads()),
               "quantity=\"second\"");
    const PowerTally& power = feed.recording().power();
    out.family("talviren_apparent_energy_voltampere_seconds_total", "counter",
               "Apparent energy since the start, the integral of S over time, in VA s.");
    // Ten-thousandths of a VA h are 0.36 VA s each: exact in hundredths.
    out.sample("talviren_apparent_energy_voltampere_seconds_total",
               decimalText(power.apparentEnergyUnits() * 36, 2));
    if (pf) {
        out.family("talviren_energy_joules_total", "counter",
                   "Energy since the start at the power factor given, in joules.");
        out.sample("talviren_energy_joules_total",
                   shortest(power.apparentEnergyVAh() * 3600.0 * pf->value()));
    }
    if (const DurableLog* log = feed.log()) {
        out.family("talviren_log_pending_readings", "gauge",
                   "Readings waiting in memory for the log's file (a full disk, say).");
        out.sample("talviren_log_pending_readings", std::to_string(log->waiting()));
        out.family("talviren_log_dropped_readings_total", "counter",
                   "Readings that waited too long for the log's file and were dropped.");
        out.sample("talviren_log_dropped_readings_total", std::to_string(log->dropped()));
    }
    return out.take();
}

} // namespace talviren::web
