// --calibration of show, record and stream: the files read before any port is opened.
#pragma once

#include "chirolink_calibration.h"
#include "glove_link.h"
#include "options.h"
#include "session.h"

namespace chirolink::cli {

// Reads the --calibration files into the gloves' calibration, the i-th file for the i-th
// glove. At the first that cannot be read, complains with one line naming the file and the
// reason, and gives false.
bool loadCalibrations(const Options& options, std::vector<Glove>& gloves);

}  // namespace chirolink::cli
