// What passes over the wire between the library and the glove.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace chirolink::protocol {

inline constexpr std::uint8_t kHello = 0x41;        // 'A': is a glove there?
inline constexpr std::uint8_t kHelloAnswer = 0x55;  // 'U': yes
inline constexpr std::uint8_t kRequest = 0x43;      // 'C': send one frame
inline constexpr std::uint8_t kHeader = 0x80;       // comes before every frame

inline constexpr std::size_t kSensorCount = 7;  // Finger 1..5, Roll, Pitch
inline constexpr std::size_t kFrameSize = 8;    // the sensors and their checksum
inline constexpr std::size_t kChecksumIndex = 7;

/// One frame as it arrives after the header: seven raw sensor bytes, then their checksum.
using Frame = std::array<std::uint8_t, kFrameSize>;

inline constexpr int kHelloAttempts = 3;
inline constexpr int kHelloPauseMs = 100;      // before reading the answer, and after a miss
inline constexpr int kReopenIntervalMs = 250;  // between attempts to reopen a vanished port

inline constexpr char kChecksumErrorLine[] = "Chirolink: Glove checksum error\n";

/// The checksum the glove sends with these sensor values: their exclusive-or.
constexpr std::uint8_t checksumOf(const Frame& frame) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < kSensorCount; ++i) {
        sum ^= frame[i];
    }
    return sum;
}

/// A frame is good when all eight bytes, checksum included, exclusive-or to zero.
constexpr bool frameIsGood(const Frame& frame) {
    return checksumOf(frame) == frame[kChecksumIndex];
}

}  // namespace chirolink::protocol
