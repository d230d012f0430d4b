// Reading back a recording of `chirolink record`: the frames of one glove, for `calibrate
// --from`. Only the columns that name the glove, its seven values and the checksum test are
// looked at, so that recordings with more columns (the calibrated ones) read the same.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace chirolink::cli {

struct RecordedFrames {
    std::vector<std::array<std::uint8_t, 7>> good;  // frames whose checksum was good, in order
    std::uint64_t badChecksums = 0;                 // frames left out
    std::vector<std::string> gloves;                // every glove in the file, in first order
    std::string error;  // for people: "FILE: line 12: ..."; empty on success
};

// The frames of the glove `glove` in the recording at `path`; with `glove` empty, of the only
// glove in it (a file with several is refused, naming them).
RecordedFrames readRecording(const std::string& path, const std::string& glove);

}  // namespace chirolink::cli
