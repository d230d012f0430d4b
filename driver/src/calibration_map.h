// The mapping of a frame's raw values to 0..1 by a calibration, for the C call
// chirolink_calibrate and for the programs that link the static core.
#pragma once

#include <cstdint>

#include "chirolink_calibration.h"

namespace chirolink::calibration {

/// values[i] = (raw[i] - low[i]) / (high[i] - low[i]) in single precision, clamped to 0..1
/// (never -0.0); 0.5 where low == high. Seven of each.
void apply(const chirolink_calibration& calibration, const std::uint8_t* raw, float* values);

}  // namespace chirolink::calibration
