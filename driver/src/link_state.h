// GloveLink::State: what one link holds, and who may touch what.
//
// Threads: the callers' threads (start, stop, readers), the link's acquisition thread, and a
// thread that forks. Each part below says which of them may change it; parts that need a lock
// are Guarded, reachable only with the lock held.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "glove_link.h"
#include "guarded.h"
#include "platform/platform.h"

namespace chirolink {

/// What the acquisition thread works with: made by start() before the thread starts and left
/// alone until it is joined.
struct Acquisition {
    GloveLink::State& link;
    const std::string portName;  ///< for reopening a port that vanished
    const platform::Wakeup wakeup;
};

struct GloveLink::State {
    /// A link publishes into `sampleWord`, or into a buffer of its own when that is null.
    explicit State(std::uint64_t* sampleWord)
        : sample(sampleWord != nullptr ? sampleWord : &ownSample) {}

    /// The 8-byte sample buffer, one aligned word: the link's own, or the exported one. Written
    /// by the acquisition thread (and by start's handshake), read by anyone, whole.
    std::uint64_t* const sample;
    alignas(8) std::uint64_t ownSample = 0;

    /// Nonzero while the acquisition thread is to keep cycling.
    std::atomic<std::int32_t> run{0};

    /// What start and stop change, one caller at a time; held across fork().
    struct Control {
        platform::Thread thread;
        platform::Wakeup wakeup;
        std::unique_ptr<Acquisition> acquisition;
        std::string portName;  ///< the name start() was given last
        bool ended = false;    ///< the library is going away: no link starts again
    };
    Guarded<Control> control;

    /// The open port. Changed by start and stop while no thread runs, by the acquisition
    /// thread (dropping and reopening it) while it runs, always under this lock, so that
    /// fork() and lineSettings() see it either open and stored or closed. The thread that
    /// changes it may use a copy of the handle without the lock: nobody else closes it.
    struct Port {
        platform::Handle handle = platform::kNoHandle;
        platform::SavedSettings saved;  ///< what configuring it replaced
        bool answered = false;          ///< a glove answered on it: it is polled
    };
    Guarded<Port> port;

    /// What readers see besides the sample buffer; written by the acquisition thread.
    struct Published {
        StampedFrame latest;
        LinkCounters counters;
        std::vector<std::shared_ptr<FrameQueue>> queues;
    };
    Guarded<Published> published;
    std::condition_variable frameArrived;

    /// Counts a frame read in full and hands it to every reader.
    void publish(const protocol::Frame& bytes);
    /// Counts a request that got no whole frame.
    void countLostReply();
    /// Counts a port that was opened again and answered.
    void countReopen();
};

/// The acquisition thread's body: polls the glove until `link.run` is cleared.
void acquire(const Acquisition& acquisition);

}  // namespace chirolink
