// What a GloveLink holds and its acquisition thread works on.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "glove_link.h"
#include "platform/platform.h"

namespace chirolink {

struct GloveLink::State {
    /// A link publishes into `sampleWord`, or into a buffer of its own when that is null.
    explicit State(std::uint64_t* sampleWord)
        : sample(sampleWord != nullptr ? sampleWord : &ownSample) {}

    /// The 8-byte sample buffer, one aligned word: the link's own, or the exported one.
    std::uint64_t* const sample;
    alignas(8) std::uint64_t ownSample = 0;

    /// Serialises start, stop and fork.
    std::mutex lifecycle;
    /// Held while the port handle changes, so that fork() sees it either open and stored or
    /// closed.
    std::mutex portLock;
    /// The open port; owned by the acquisition thread while it runs, by start/stop otherwise.
    platform::Handle port = platform::kNoHandle;
    /// What configuring `port` replaced, put back when the port is closed.
    platform::SavedSettings saved;
    /// Nonzero while the acquisition thread is to keep cycling.
    std::atomic<std::int32_t> run{0};
    /// Signalled to cut the thread's waits short when the link stops.
    platform::Wakeup wakeup;
    platform::Thread thread;
    /// The name start() was given, kept for reopening a port that vanished.
    std::string portName;

    /// What readers see besides the sample buffer.
    mutable std::mutex published;
    mutable std::condition_variable frameArrived;
    StampedFrame latest;
    LinkCounters counters;
    std::vector<std::shared_ptr<FrameQueue>> queues;

    /// Counts a frame read in full and hands it to every reader.
    void publish(const protocol::Frame& bytes);
    /// Counts a request that got no whole frame.
    void countLostReply();
    /// Counts a port that was opened again and answered.
    void countReopen();
};

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

/// The acquisition thread's body: polls the glove until `link.run` is cleared.
void acquire(GloveLink::State& link);

}  // namespace chirolink
