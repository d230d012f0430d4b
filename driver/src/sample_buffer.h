// The 8-byte sample buffer: the latest frame, written by the link, read by anyone.
#pragma once

#include "protocol.h"

namespace chirolink {

/// Copies the whole buffer with one atomic load: never two frames mixed.
protocol::Frame loadSample();

/// Replaces the whole buffer with one atomic store.
void publishSample(const protocol::Frame& frame);

}  // namespace chirolink
