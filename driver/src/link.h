// The one glove link of the process: its port, its thread, and what stops them.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/platform.h"

namespace chirolink {

struct Link {
    /// The open port; owned by the acquisition thread while it runs, by GloveInit otherwise.
    /// Changed only under `portLock`, so that fork() sees it either open and stored or closed.
    platform::Handle port = platform::kNoHandle;
    /// What configuring `port` replaced, put back when the port is closed.
    platform::SavedSettings saved;
    /// Nonzero while the acquisition thread is to keep cycling.
    std::atomic<std::int32_t> run{0};
    /// Signalled to cut the thread's waits short when the link stops.
    platform::Wakeup wakeup;
    platform::Thread thread;
    /// The name GloveInit was given, kept for reopening a port that vanished.
    char portName[4096] = {};
};

extern Link linkState;
extern std::mutex portLock;

/// What one hello brought back: how the answer's read ended, and the byte if one came.
struct HelloResult {
    platform::Transfer status;
    std::size_t count;
    std::uint8_t answer;

    bool gloveAnswered() const;
};

/// One hello: writes 0x41, pauses 100 ms, reads one byte under the usual limit. The pause and
/// the transfers end early when `wakeup` (may be null) is signalled.
HelloResult sayHello(platform::Handle port, const platform::Wakeup* wakeup);

/// The acquisition thread's body: polls the glove until `linkState.run` is cleared.
void acquire();

}  // namespace chirolink
