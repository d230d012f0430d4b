// What `chirolink calibrate` learns from the frames it sees: each channel's range so far, and at
// the end the calibration taken from them with the extreme 1 % at each end left out, so that a
// glitch or two does not widen a range.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "chirolink_calibration.h"

namespace chirolink::cli {

inline constexpr int kChannels = 7;

// The channels' names in a calibration file and on the command line.
inline constexpr const char* kChannelNames[kChannels] = {"finger1", "finger2", "finger3", "finger4",
                                                         "finger5", "roll",    "pitch"};

// "finger 1" .. "finger 5", "roll", "pitch": the channels' names for people.
const char* channelTitle(int channel);

// A range narrower than this is named in a warning: the sensor hardly moved.
inline constexpr int kNarrowestRange = 16;

class RangeCapture {
public:
    // Takes a frame's seven values. Frames whose checksum failed are not given here.
    void add(const std::uint8_t* values);

    std::uint64_t frames() const { return frames_; }
    // The lowest and highest value seen so far on `channel`; 0..0 before the first frame.
    std::uint8_t lowest(int channel) const { return lowest_[static_cast<std::size_t>(channel)]; }
    std::uint8_t highest(int channel) const { return highest_[static_cast<std::size_t>(channel)]; }

    // low and high per channel without the extreme 1 % of frames at each end; `inverted`
    // swaps them for the channels it marks. Needs at least one frame.
    chirolink_calibration result(const std::array<bool, kChannels>& inverted,
                                 std::uint8_t hand) const;

    // A warning per channel whose range in `calibration` is narrower than kNarrowestRange:
    // "finger 3 hardly moved: 120..128; is the sensor connected?"
    static std::vector<std::string> warnings(const chirolink_calibration& calibration);

private:
    std::array<std::array<std::uint64_t, 256>, kChannels> counts_{};
    std::array<std::uint8_t, kChannels> lowest_{}, highest_{};
    std::uint64_t frames_ = 0;
};

}  // namespace chirolink::cli
