#include "measure/Quantity.h"

#include "measure/ValueText.h"

namespace talviren {

const QuantityKindInfo& quantityKindInfo(QuantityKind kind) {
    static const QuantityKindInfo kinds[kQuantityKindCount] = {
        {"AC I", kUnitAmpere, "ac_current", kUnitAmpere, 1},
        {"AC U", kUnitVolt, "ac_voltage", kUnitVolt, 1},
        {"DC U", kUnitVolt, "dc_voltage", kUnitVolt, 1},
        {"R", kUnitOhm, "resistance", kUnitKiloOhm, 1000},
    };
    return kinds[static_cast<std::size_t>(kind)];
}

Quantity quantityWithText(const QuantityCount& c, std::string text) {
    return Quantity{c, std::move(text)};
}

std::string plainNumber(const Quantity& q) {
    if (q.overload) {
        return {};
    }
    std::string text;
    if (q.count < 0) {
        text = '-';
    }
    text += quotientText(q.count < 0 ? -q.count : q.count, q.divisor, ".");
    return text;
}

} // namespace talviren
