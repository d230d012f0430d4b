// The hello: is a glove on this port?
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace chirolink {

/// What one hello brought back: how the answer's read ended, and the byte if one came.
struct HelloResult {
    platform::Transfer status;
    std::size_t count;
    std::uint8_t answer;

    bool gloveAnswered() const;
};

/// One hello: writes 0x41, pauses 100 ms, reads the answer under the usual limit, reading
/// past a few stale bytes in front of it. The pause and the transfers end early when `wakeup`
/// (may be null) is signalled. `answer` is the last byte read.
HelloResult sayHello(platform::Handle port, const platform::Wakeup* wakeup);

/// Up to three hellos, as start-up does them. Each answer byte lands in position 0 of the
/// sample buffer `sample`. True when a glove answered.
bool handshake(std::uint64_t& sample, platform::Handle port);

}  // namespace chirolink
