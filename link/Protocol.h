#pragma once

#include "measure/MeterReading.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>

// The conversation with the meter: one command byte out, a fixed-length reply back.
namespace talviren::protocol {

// Line settings: 9600 baud, 8 data bits, no parity, 1 stop bit.
inline constexpr int kBaudRate = 9600;
// Bytes per second the line carries at 9600 8N1 (10 bit times per byte).
inline constexpr int kBytesPerSecond = 960;
// The ports the meter can be on: 1 to 16.
inline constexpr int kPortCount = 16;
// Every timer of the link ticks this often.
inline constexpr int kTickMs = 500;

// Command codes, each sent as a single byte.
enum Command : std::int16_t {
    kHandshake = 5,
    kCountRequest = 15,
    kBlockRequest = 25,
    kRealtimeRequest = 35,
};

// Reply lengths, which are also the receive thresholds the commands arm.
inline constexpr int kHandshakeReplySize = 3;
inline constexpr int kCountReplySize = 4;
inline constexpr int kRealtimeReplySize = static_cast<int>(kReadingSize);

// Handshake reply markers.
inline constexpr std::array<std::uint8_t, 3> kHandshakeReply = {0xD5, 0x55, 0x55};
// Count reply markers (bytes 0 and 1).
inline constexpr std::uint8_t kCountMarker = 0x05;

// Most readings a count reply can announce: 255 * 100 + 255.
inline constexpr int kMaxRecordCount = 25755;

// True when the first three bytes are the handshake reply.
inline bool isHandshakeReply(std::span<const std::uint8_t> reply) {
    return reply.size() >= kHandshakeReply.size() && reply[0] == kHandshakeReply[0] &&
           reply[1] == kHandshakeReply[1] && reply[2] == kHandshakeReply[2];
}

// Number of stored readings in a count reply (hundreds, units), or nothing when the
// markers are wrong or the reply is short.
inline std::optional<int> decodeCountReply(std::span<const std::uint8_t> reply) {
    if (reply.size() < static_cast<std::size_t>(kCountReplySize) || reply[0] != kCountMarker ||
        reply[1] != kCountMarker) {
        return std::nullopt;
    }
    return countFromDigits(reply[2], reply[3]);
}

} // namespace talviren::protocol
