#include "alarm/AlarmRule.h"

#include "measure/Trimmed.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <set>

namespace talviren {

namespace {

struct QuantityInfo {
    AlarmQuantity quantity;
    std::string_view name;
    std::string_view unit;
};

constexpr QuantityInfo kQuantities[] = {
    {AlarmQuantity::Current, "current", "A"},
    {AlarmQuantity::AcVoltage, "ac_voltage", "V"},
    {AlarmQuantity::DcVoltage, "dc_voltage", "V"},
    {AlarmQuantity::Resistance, "resistance", "\u03A9"},
    {AlarmQuantity::ApparentPower, "apparent_power", "VA"},
    {AlarmQuantity::Power, "power", "W"},
};

const QuantityInfo& info(AlarmQuantity quantity) {
    return kQuantities[static_cast<std::size_t>(quantity)];
}

bool isNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
}

// Reads the rest of a line after NAME:, left to right.
class RuleReader {
public:
    RuleReader(std::string_view name, std::string_view text) : name_(name), text_(text) {}

    AlarmParse read() {
        AlarmRule rule;
        rule.name = std::string(name_);
        rule.line = std::string(trimmed(text_));
        skipSpace();
        const std::size_t conditionStart = at_;
        std::string_view word = takeWord();
        if (!done() && text_[at_] == '.' && !word.empty()) {
            rule.meter = std::string(word); // the meter it watches
            ++at_;
            word = takeWord();
        }
        if (word.empty()) {
            return fail("no condition: write QUANTITY > LIMIT, QUANTITY < LIMIT, QUANTITY outside "
                        "LOW..HIGH, QUANTITY inside LOW..HIGH, overload or no-reading");
        }
        if (word == "overload") {
            rule.condition = AlarmRule::Condition::Overload;
        } else if (word == "no-reading") {
            rule.condition = AlarmRule::Condition::NoReading;
        } else if (!readComparison(word, rule)) {
            return failed_;
        }
        std::size_t conditionEnd = at_;
        bool sawFor = false;
        bool sawClear = false;
        while (true) {
            skipSpace();
            if (done()) {
                break;
            }
            const std::string_view keyword = takeWord();
            if (keyword == "for" && !sawFor) {
                sawFor = true;
                if (!readDuration(rule.durationMs)) {
                    return failed_;
                }
                conditionEnd = at_;
            } else if (keyword == "clear" && !sawClear) {
                sawClear = true;
                if (!readClear(rule)) {
                    return failed_;
                }
            } else {
                return fail("'" + std::string(keyword.empty() ? rest() : keyword) +
                            "' is not understood here: after the condition come only "
                            "'for DURATION' and 'clear LIMIT'");
            }
        }
        if (rule.condition == AlarmRule::Condition::NoReading && rule.durationMs == 0) {
            return fail("no-reading needs 'for DURATION', such as 'no-reading for 30s'");
        }
        if (rule.meter == kTotalMeter &&
            (!rule.comparesQuantity() || (rule.quantity != AlarmQuantity::ApparentPower &&
                                          rule.quantity != AlarmQuantity::Power))) {
            return fail("the total has apparent_power and power only");
        }
        rule.conditionText = collapse(text_.substr(conditionStart, conditionEnd - conditionStart));
        if (rule.comparesQuantity()) {
            const std::size_t prefix = rule.meter.empty() ? 0 : rule.meter.size() + 1;
            rule.limitText =
                rule.conditionText.substr(prefix + info(rule.quantity).name.size() + 1);
        }
        if (!sawClear) {
            rule.clearLimit = rule.limit;
        }
        return {std::move(rule), {}};
    }

private:
    bool done() const { return at_ >= text_.size(); }
    std::string rest() const { return std::string(trimmed(text_.substr(at_))); }
    void skipSpace() {
        while (!done() && std::isspace(static_cast<unsigned char>(text_[at_]))) {
            ++at_;
        }
    }
    // Letters, digits, '-' and '_'.
    std::string_view takeWord() {
        const std::size_t start = at_;
        while (!done() && isNameChar(text_[at_])) {
            ++at_;
        }
        return text_.substr(start, at_ - start);
    }
    // The text of a number with its prefix and unit: up to a space, the end or "..".
    std::string_view takeValue() {
        const std::size_t start = at_;
        while (!done() && !std::isspace(static_cast<unsigned char>(text_[at_])) &&
               text_.substr(at_, 2) != "..") {
            ++at_;
        }
        return text_.substr(start, at_ - start);
    }

    AlarmParse fail(const std::string& what) {
        failed_ = {std::nullopt, "alarm '" + std::string(name_) + "': " + what};
        return failed_;
    }

    bool readComparison(std::string_view word, AlarmRule& rule) {
        const QuantityInfo* quantity = nullptr;
        for (const QuantityInfo& q : kQuantities) {
            quantity = q.name == word ? &q : quantity;
        }
        if (!quantity) {
            fail("unknown quantity '" + std::string(word) +
                 "': use current, ac_voltage, dc_voltage, resistance, apparent_power or power");
            return false;
        }
        rule.quantity = quantity->quantity;
        skipSpace();
        if (!done() && (text_[at_] == '>' || text_[at_] == '<')) {
            rule.condition =
                text_[at_] == '>' ? AlarmRule::Condition::Above : AlarmRule::Condition::Below;
            ++at_;
            if (!done() && (text_[at_] == '>' || text_[at_] == '<' || text_[at_] == '=')) {
                fail("'" + std::string(text_.substr(at_ - 1, 2)) +
                     "' is no comparison: use > or <");
                return false;
            }
            skipSpace();
            return readLimit(rule.quantity, rule.limit);
        }
        const std::string_view range = takeWord();
        if (range != "outside" && range != "inside") {
            fail("after " + std::string(word) +
                 " comes >, <, outside LOW..HIGH or inside "
                 "LOW..HIGH, not '" +
                 rest() + "'");
            return false;
        }
        rule.condition =
            range == "outside" ? AlarmRule::Condition::Outside : AlarmRule::Condition::Inside;
        skipSpace();
        if (!readLimit(rule.quantity, rule.low)) {
            return false;
        }
        if (text_.substr(at_, 2) != "..") {
            fail("a range is written LOW..HIGH, such as 210V..250V");
            return false;
        }
        at_ += 2;
        if (!readLimit(rule.quantity, rule.high)) {
            return false;
        }
        if (rule.low >= rule.high) {
            fail("the range's low end must be below its high end");
            return false;
        }
        return true;
    }

    // A number, an optional prefix (m, k, M) and an optional unit that fits the quantity.
    bool readLimit(AlarmQuantity quantity, double& value) {
        const std::string_view text = takeValue();
        const std::string_view unit = info(quantity).unit;
        const auto bad = [&] {
            fail("'" + std::string(text) + "' is no limit for " + std::string(info(quantity).name) +
                 ": write a number with an optional m, k or "
                 "M and the unit " +
                 std::string(unit) + ", such as 15" + std::string(unit));
            return false;
        };
        const char* end = text.data() + text.size();
        const auto [numberEnd, error] = std::from_chars(text.data(), end, value);
        if (error != std::errc() || text.empty() || text[0] == '+' || !std::isfinite(value)) {
            return bad();
        }
        std::string_view suffix(numberEnd, static_cast<std::size_t>(end - numberEnd));
        double scale = 1;
        const bool ohm = quantity == AlarmQuantity::Resistance;
        const auto isUnit = [&](std::string_view s) {
            return s.empty() || s == unit || (ohm && s == "ohm");
        };
        if (!isUnit(suffix)) {
            if (suffix[0] == 'm' || suffix[0] == 'k' || suffix[0] == 'M') {
                scale = suffix[0] == 'm' ? 1e-3 : suffix[0] == 'k' ? 1e3 : 1e6;
                suffix.remove_prefix(1);
            }
            if (!isUnit(suffix)) {
                fail("the unit '" + std::string(suffix) + "' does not fit " +
                     std::string(info(quantity).name) + ", which is in " + std::string(unit));
                return false;
            }
        }
        value *= scale;
        return true;
    }

    bool readDuration(std::int64_t& ms) {
        skipSpace();
        const std::string_view text = takeValue();
        double count = 0;
        const char* end = text.data() + text.size();
        const auto [numberEnd, error] = std::from_chars(text.data(), end, count);
        const std::string_view unit(numberEnd, static_cast<std::size_t>(end - numberEnd));
        const double perUnit = unit == "ms"  ? 1
                               : unit == "s" ? 1e3
                               : unit == "m" ? 6e4
                               : unit == "h" ? 3.6e6
                                             : 0;
        if (error != std::errc() || text.empty() || perUnit == 0 || !std::isfinite(count)) {
            fail("'" + std::string(text) +
                 "' is no duration: write a number and ms, s, m or h, such as 2s");
            return false;
        }
        if (count <= 0) {
            fail("the duration must be above zero, not '" + std::string(text) + "'");
            return false;
        }
        ms = std::llround(count * perUnit);
        return true;
    }

    bool readClear(AlarmRule& rule) {
        if (rule.condition != AlarmRule::Condition::Above &&
            rule.condition != AlarmRule::Condition::Below) {
            fail("'clear LIMIT' belongs to > and < only");
            return false;
        }
        skipSpace();
        if (!readLimit(rule.quantity, rule.clearLimit)) {
            return false;
        }
        const bool above = rule.condition == AlarmRule::Condition::Above;
        if (above ? rule.clearLimit > rule.limit : rule.clearLimit < rule.limit) {
            fail(std::string("the clear limit must be ") + (above ? "at or below" : "at or above") +
                 " the limit of a '" + (above ? ">" : "<") + "' alarm");
            return false;
        }
        return true;
    }

    // As written, with one space around the comparison and between words:
    // "current>15A  for 2s" reads "current > 15A for 2s".
    static std::string collapse(std::string_view text) {
        std::string spaced;
        for (char c : trimmed(text)) {
            if (c == '>' || c == '<') {
                spaced += ' ';
                spaced += c;
                spaced += ' ';
            } else {
                spaced += c;
            }
        }
        std::string out;
        for (char c : spaced) {
            const bool space = std::isspace(static_cast<unsigned char>(c));
            if (!space || (!out.empty() && out.back() != ' ')) {
                out += space ? ' ' : c;
            }
        }
        return out;
    }

    std::string_view name_;
    std::string_view text_;
    std::size_t at_ = 0;
    AlarmParse failed_;
};

} // namespace

std::string_view alarmQuantityName(AlarmQuantity quantity) {
    return info(quantity).name;
}

std::string_view alarmQuantityUnit(AlarmQuantity quantity) {
    return info(quantity).unit;
}

AlarmParse parseAlarm(std::string_view name, std::string_view rule) {
    name = trimmed(name);
    if (name.empty()) {
        return {std::nullopt, "alarm '" + std::string(trimmed(rule)) +
                                  "': no name: write NAME: CONDITION, such as 'over: current > "
                                  "15A'"};
    }
    for (char c : name) {
        if (!isNameChar(c)) {
            return {std::nullopt, "alarm '" + std::string(name) +
                                      "': a name takes letters, digits, - and _ only"};
        }
    }
    return RuleReader(name, rule).read();
}

AlarmParse parseAlarm(std::string_view line) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
        return parseAlarm(std::string_view(), line);
    }
    return parseAlarm(line.substr(0, colon), line.substr(colon + 1));
}

std::optional<std::string> checkAlarms(const std::vector<AlarmRule>& rules, bool hasPowerFactor) {
    std::set<std::string> names;
    for (const AlarmRule& rule : rules) {
        if (!names.insert(rule.name).second) {
            return "alarm '" + rule.name + "': the name is given twice";
        }
        if (rule.comparesQuantity() && rule.quantity == AlarmQuantity::Power && !hasPowerFactor &&
            rule.meter.empty()) {
            return "alarm '" + rule.name + "': power needs a power factor";
        }
    }
    return std::nullopt;
}

} // namespace talviren
