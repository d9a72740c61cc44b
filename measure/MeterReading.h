#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace talviren {

// Bytes in one reading, live or stored.
inline constexpr std::size_t kReadingSize = 7;

// Measuring function codes carried in byte 0 of a reading.
enum MeasureFunction : std::uint8_t {
    kAcCurrentAcVoltage = 1,
    kAcCurrentDcVoltage = 2,
    kAcCurrentResistance = 3,
};

// One 7-byte reading of the meter, as sent live and as stored.
struct MeterReading {
    std::uint8_t function = 0;
    int currentCount = 0; // byte 1 * 100 + byte 2, no check on the low part: 0 to 25755
    std::uint8_t currentRange = 0;
    int secondCount = 0;         // byte 4 * 100 + byte 5
    std::uint8_t secondSign = 0; // 1 = negative DC voltage

    // Reads the first seven bytes; nothing when fewer arrived.
    static std::optional<MeterReading> fromBytes(std::span<const std::uint8_t> bytes);

    friend bool operator==(const MeterReading&, const MeterReading&) = default;
};

// Decimal digits only, as an integer; nothing when empty, longer than nine digits, or holding
// anything else (a sign, a blank): how logs write counts, codes and times. Always inline: a
// log's line reads a dozen of them, and a call hands its optional back through memory, which
// stalls the load after it.
[[gnu::always_inline]] constexpr std::optional<int> digits(std::string_view text) {
    if (text.empty() || text.size() > 9) {
        return std::nullopt;
    }
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

// Two base-100 digits, high part first, added without any check.
constexpr int countFromDigits(std::uint8_t high, std::uint8_t low) {
    return static_cast<int>(high) * 100 + static_cast<int>(low);
}

} // namespace talviren
