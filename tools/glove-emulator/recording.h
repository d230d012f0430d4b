// Reads the CSV files `chirolink record` writes, for replaying them on the emulator.
//
// The file starts with the header row
//   glove,sequence,monotonic_s,wall_time,finger1,finger2,finger3,finger4,finger5,roll,pitch,
//   checksum,checksum_ok
// followed by one row per frame. Fields holding a comma or a quote are quoted, with quotes
// doubled. Rows of several gloves may be interleaved; each glove's rows are in the order they
// were received.
#pragma once

#include <istream>
#include <stdexcept>
#include <string>
#include <vector>

#include "glove_emulator.h"

namespace chirolink::tools {

// What is wrong with a recording, with the line number: "line 7: expected 13 fields, got 12".
class RecordingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Recording {
    std::string glove;                  // the glove whose frames these are
    std::vector<RecordedFrame> frames;  // offsets from that glove's first frame
};

// The frames of `glove` (empty: the first glove in the file). Throws RecordingError when the
// file is not such a recording, or holds no frame of that glove.
Recording readRecording(std::istream& in, const std::string& glove = {});

}  // namespace chirolink::tools
