// --calibration of show, record and stream: the files read before any port is opened, and the
// seven values of a frame as a glove's calibration makes them.
#pragma once

#include <array>

#include "chirolink_calibration.h"
#include "glove_link.h"
#include "options.h"
#include "session.h"

namespace chirolink::cli {

// Reads the --calibration files into the gloves' calibration, the i-th file for the i-th
// glove. At the first that cannot be read, complains with one line naming the file and the
// reason, and gives false.
bool loadCalibrations(const Options& options, std::vector<Glove>& gloves);

// The frame's seven values from 0 to 1.
std::array<float, 7> calibrated(const chirolink_calibration& calibration,
                                const StampedFrame& frame);

}  // namespace chirolink::cli
