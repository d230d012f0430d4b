#include "range_capture.h"

#include <algorithm>
#include <utility>

namespace chirolink::cli {

namespace {

constexpr std::array<const char*, kChannels> kTitles = {
    "finger 1", "finger 2", "finger 3", "finger 4", "finger 5", "roll", "pitch"};

// The value at `rank` (from 0) of the channel's values in rising order.
std::uint8_t valueAt(const std::array<std::uint64_t, 256>& counts, std::uint64_t rank) {
    std::uint64_t seen = 0;
    for (std::size_t value = 0; value < counts.size(); ++value) {
        seen += counts[value];
        if (seen > rank) {
            return static_cast<std::uint8_t>(value);
        }
    }
    return 255;
}

}  // namespace

const char* channelTitle(int channel) {
    return kTitles[static_cast<std::size_t>(channel)];
}

void RangeCapture::add(const std::uint8_t* values) {
    for (std::size_t i = 0; i < kChannels; ++i) {
        ++counts_[i][values[i]];
        lowest_[i] = frames_ == 0 ? values[i] : std::min(lowest_[i], values[i]);
        highest_[i] = frames_ == 0 ? values[i] : std::max(highest_[i], values[i]);
    }
    ++frames_;
}

chirolink_calibration RangeCapture::result(const std::array<bool, kChannels>& inverted,
                                           std::uint8_t hand) const {
    chirolink_calibration calibration{};
    const std::uint64_t leftOut = frames_ / 100;  // at each end
    for (std::size_t i = 0; i < kChannels; ++i) {
        std::uint8_t low = valueAt(counts_[i], leftOut);
        std::uint8_t high = valueAt(counts_[i], frames_ - 1 - leftOut);
        if (inverted[i]) {
            std::swap(low, high);
        }
        calibration.low[i] = low;
        calibration.high[i] = high;
    }
    calibration.hand = hand;
    return calibration;
}

std::vector<std::string> RangeCapture::warnings(const chirolink_calibration& calibration) {
    std::vector<std::string> lines;
    for (int i = 0; i < kChannels; ++i) {
        const int low = std::min(calibration.low[i], calibration.high[i]);
        const int high = std::max(calibration.low[i], calibration.high[i]);
        if (high - low < kNarrowestRange) {
            lines.push_back(std::string(channelTitle(i)) + " hardly moved: " + std::to_string(low) +
                            ".." + std::to_string(high) + "; is the sensor connected?");
        }
    }
    return lines;
}

}  // namespace chirolink::cli
