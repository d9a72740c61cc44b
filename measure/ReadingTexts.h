#pragma once

#include "measure/MeterReading.h"
#include "measure/Quantity.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace talviren {

// A reading read back from the texts the display showed for it ("12.34A", "1,228kΩ", "OLV",
// with either decimal separator), as logs and other talvirens give them: the counts and range
// that show exactly those texts for function `function`; none when the display cannot have
// shown them.
std::optional<MeterReading> readingFromTexts(std::uint8_t function, std::string_view currentText,
                                             std::string_view secondText);
// The same into `reading`, for long logs: false when the display cannot have shown them.
bool readingFromTexts(std::uint8_t function, std::string_view currentText,
                      std::string_view secondText, MeterReading& reading);

// Whether a plain number in the base unit ("0.085", "-31"; empty on overload or without the
// quantity) is the quantity's value exactly.
bool plainValueAgrees(std::string_view value, const std::optional<QuantityCount>& quantity);

} // namespace talviren
