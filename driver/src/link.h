// The one glove link of the process: its port, its thread, and what stops them.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace chirolink {

struct Link {
    /// The open port; owned by the acquisition thread while it runs, by GloveInit otherwise.
    platform::Handle port = platform::kNoHandle;
    /// Nonzero while the acquisition thread is to keep cycling.
    std::atomic<std::int32_t> run{0};
    /// Signalled to cut the thread's waits short when the link stops.
    platform::Wakeup wakeup;
    platform::Thread thread;
    /// The name GloveInit was given, kept for reopening a port that vanished.
    char portName[4096] = {};
};

extern Link linkState;

/// The acquisition thread's body: polls the glove until `linkState.run` is cleared.
void acquire();

}  // namespace chirolink
