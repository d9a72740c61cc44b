#include "power/PowerFactor.h"

#include "power/ApparentPower.h"

namespace talviren {

std::string PowerFactor::text() const {
    return decimalText(ppm, 6);
}

std::optional<PowerFactor> parsePowerFactor(std::string_view text) {
    const std::size_t separator = text.find_first_of(".,");
    const std::string_view whole = text.substr(0, separator);
    const std::string_view fraction =
        separator == std::string_view::npos ? std::string_view() : text.substr(separator + 1);
    if ((whole.empty() && fraction.empty()) || whole.size() > 1 || fraction.size() > 6) {
        return std::nullopt;
    }
    std::int64_t ppm = 0;
    for (char c : whole) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        ppm = c - '0';
    }
    ppm *= 1'000'000;
    std::int64_t place = 100'000;
    for (char c : fraction) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        ppm += (c - '0') * place;
        place /= 10;
    }
    if (ppm <= 0 || ppm > 1'000'000) {
        return std::nullopt;
    }
    return PowerFactor{static_cast<std::int32_t>(ppm)};
}

std::string powerFactorRefusal(std::string_view given) {
    return "takes a power factor above 0 and at most 1 (0 < PF \u2264 1), such as 0.95, not '" +
           std::string(given) + "'";
}

std::string realPowerNumber(std::int64_t apparentUnits, PowerFactor pf) {
    return decimalText(realPowerTenBillionths(apparentUnits, pf), 10);
}

std::string realPowerMilliwatts(std::int64_t tenBillionths) {
    return decimalText((tenBillionths + 5'000'000) / 10'000'000, 3);
}

} // namespace talviren
