// A link's 8-byte sample buffer: the latest frame, written by the link, read by anyone.
#pragma once

#include <cstdint>

#include "protocol.h"

namespace chirolink {

/// Copies the whole buffer with one atomic load: never two frames mixed.
protocol::Frame loadSample(const std::uint64_t& word);

/// Replaces the whole buffer with one atomic store.
void publishSample(std::uint64_t& word, const protocol::Frame& frame);

/// The buffer behind GloveGetDataPtr and GloveGetData.
std::uint64_t& exportedSample();

}  // namespace chirolink
