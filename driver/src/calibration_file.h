// The calibration file: its text read from and written to disk, parsed into a
// chirolink_calibration and made from one. JSON, UTF-8, at most 64 KiB; see
// chirolink_calibration.h for the layout.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "chirolink_calibration.h"

namespace chirolink::calibration {

/// The channels' names in the file, in the order of a frame's values.
inline constexpr std::array<const char*, 7> kChannelNames = {
    "finger1", "finger2", "finger3", "finger4", "finger5", "roll", "pitch"};

inline constexpr std::size_t kLargestFile = 64 * 1024;

/// The calibration in `text`, or why it is none: one line for people that starts with the
/// line of the file it is about ("line 7: finger2: \"high\" is 300, not 0..255").
struct Parsed {
    std::optional<chirolink_calibration> calibration;
    std::string error;
};
Parsed parse(std::string_view text);

/// The file's text for `calibration`, laid out for people: one line per channel.
std::string format(const chirolink_calibration& calibration);

/// What reading or writing the file came to, as the C calls give it.
struct Outcome {
    int32_t result = CHIROLINK_OK;  // CHIROLINK_OK or CHIROLINK_ERR_*
    std::string error;              // for people, when result is not CHIROLINK_OK
};

/// Reads and parses the file at `path`.
Outcome load(const char* path, chirolink_calibration& calibration);

/// Writes the file at `path` whole, or leaves what was there.
Outcome save(const char* path, const chirolink_calibration& calibration);

}  // namespace chirolink::calibration
