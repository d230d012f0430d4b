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
inline constexpr int kHelloPauseMs = 100;  // before reading the answer, and after a miss
// Bytes read at most for one hello's answer: the answer behind the rest of a frame that was
// on its way when the port was opened, with room to spare.
inline constexpr int kHelloReadLimit = 1 + 2 * static_cast<int>(kFrameSize + 1);

/// Every read and write gives up after 1 ms per byte plus 200 ms.
constexpr int transferLimitMs(std::size_t bytes) {
    return static_cast<int>(bytes) + 200;
}
/// The longest one exchange can take when nothing goes wrong: a header read that times out,
/// then a frame read that times out.
inline constexpr int kCycleLimitMs = transferLimitMs(1) + transferLimitMs(kFrameSize);

inline constexpr int kReopenIntervalMs = 250;  // between attempts to open a vanished port
// After a reopened port did not answer the hello: whatever holds the name now is not our
// glove, and is left alone for a while.
inline constexpr int kNotAGloveRetryMs = 2000;

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
