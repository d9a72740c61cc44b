#pragma once

#include "measure/Reading.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace talviren {

// The captions of the live view: two quantity names and two value texts. The window mirrors
// them on its labels; the save takes them from here.
class RealtimeDisplay {
public:
    // Captions before the first reading, as the window is designed.
    static constexpr std::string_view kInitialNames[2] = {"AC I:", "AC U:"};
    static constexpr std::string_view kInitialValues[2] = {"0mA", "000.0V"};

    RealtimeDisplay();

    // Shows one live reading: names first, then values. Unknown function and range codes leave
    // their captions alone. Returns whether any caption was written.
    bool ShowRealtimeReading(const DecodedReading& reading);

    // Quantity name k (0 current, 1 second quantity), as on the label.
    const std::string& name(int k) const { return names_.at(static_cast<std::size_t>(k)); }
    // Value text k, as on the label.
    const std::string& value(int k) const { return values_.at(static_cast<std::size_t>(k)); }

private:
    bool ShowQuantityNames(std::uint8_t function);

    std::array<std::string, 2> names_;
    std::array<std::string, 2> values_;
};

} // namespace talviren
