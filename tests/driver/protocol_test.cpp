#include "protocol.h"

#include <ostream>

#include <gtest/gtest.h>

namespace chirolink::protocol {
namespace {

struct ChecksumCase {
    const char* name;
    Frame sensors;  // the checksum position is ignored
    std::uint8_t checksum;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const ChecksumCase& c, std::ostream* out) {
    *out << c.name;
}

class ChecksumTest : public ::testing::TestWithParam<ChecksumCase> {};

TEST_P(ChecksumTest, IsTheExclusiveOrOfTheSevenSensorBytes) {
    const auto& c = GetParam();
    EXPECT_EQ(checksumOf(c.sensors), c.checksum);

    Frame frame = c.sensors;
    frame[kChecksumIndex] = c.checksum;
    EXPECT_TRUE(frameIsGood(frame));
    for (std::uint8_t flip : {0x01, 0x80}) {
        Frame damaged = frame;
        damaged[kChecksumIndex] ^= flip;
        EXPECT_FALSE(frameIsGood(damaged)) << "checksum bit " << int{flip};
        damaged = frame;
        damaged[3] ^= flip;
        EXPECT_FALSE(frameIsGood(damaged)) << "sensor bit " << int{flip};
    }
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ChecksumTest,
    ::testing::Values(ChecksumCase{"Tens", {10, 20, 30, 40, 50, 60, 70, 0}, 0x60},
                      ChecksumCase{"AllZero", {0, 0, 0, 0, 0, 0, 0, 0}, 0x00},
                      ChecksumCase{"AllFF", {255, 255, 255, 255, 255, 255, 255, 0}, 0xFF},
                      ChecksumCase{"HeaderValuesInside", {0x80, 0x80, 1, 2, 3, 4, 5, 0}, 0x01},
                      ChecksumCase{"ChecksumOnlyInLastByte", {1, 0, 0, 0, 0, 0, 0, 0xAA}, 0x01}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace chirolink::protocol
