// Reading the sample buffer the way the link tests check it.
#pragma once

#include <array>
#include <cstdint>

#include "chirolink.h"
#include "support.h"

namespace chirolink::testing {

using Values = std::array<std::uint8_t, 7>;

inline constexpr std::uint8_t kRequest = 0x43;

/// The seven sensor values, through GloveGetData.
inline Values sample() {
    Values values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = GloveGetData(static_cast<int32_t>(i));
    }
    return values;
}

/// Waits until the buffer shows `values`.
inline bool showsValues(const Values& values, milliseconds timeout = milliseconds(3000)) {
    return eventually([&] { return sample() == values; }, timeout);
}

}  // namespace chirolink::testing
