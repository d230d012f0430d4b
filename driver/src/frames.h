// Frames as a link publishes them, and the readers that take them: a queue per reader, or a
// function called for each frame on a thread of its own. Readers never slow the link: a
// reader that falls behind misses frames, which shows as a gap in the sequence numbers.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "protocol.h"

namespace chirolink {

/// One frame as a link published it.
struct StampedFrame {
    /// Finger 1 to 5, Roll, Pitch, then the checksum byte, exactly as received.
    protocol::Frame bytes{};
    /// Whether the checksum matched the seven values.
    bool checksumGood = false;
    /// 1 for the link's first frame, then one more for every frame it receives.
    std::uint64_t sequence = 0;
    /// When the frame's last byte was read, on the monotonic clock and on the wall clock.
    std::chrono::steady_clock::time_point monotonic{};
    std::chrono::system_clock::time_point wall{};
};

/// What a link has counted since it started.
struct LinkCounters {
    std::uint64_t frames = 0;        ///< frames received, whatever their checksum
    std::uint64_t badChecksums = 0;  ///< of those, frames whose checksum did not match
    std::uint64_t lostReplies = 0;   ///< requests that got no whole frame in time
    std::uint64_t reopens = 0;       ///< times a failed port was opened again and answered
};

/// The frames of one link, in order, for one reader that takes them one by one. It holds up
/// to `capacity` frames; when the reader falls that far behind, the oldest are dropped.
/// push() is called by the link's acquisition thread; the rest by the reader, on any thread.
class FrameQueue {
public:
    explicit FrameQueue(std::size_t capacity);

    /// The oldest frame not yet taken, waiting up to `timeout` for one; nullopt when none came
    /// or close() was called.
    std::optional<StampedFrame> next(std::chrono::milliseconds timeout);
    /// Ends every wait in next(), now and later.
    void close();
    bool closed() const;
    /// Frames dropped because the reader had fallen `capacity` behind.
    std::uint64_t missed() const;
    /// Drops every frame not yet taken and counts no missed frame: the link starts a new run,
    /// whose readers see its frames only.
    void restart();

    /// Called by the link for every frame.
    void push(const StampedFrame& frame);

    /// For fork(): the queue's lock, held across it by the thread that forks, so that the
    /// child never inherits it taken; given back in the parent.
    void holdForFork();
    void releaseAfterFork();
    /// In the child, with the lock held: the parent's readers that waited on the queue do not
    /// exist here, so the wait starts afresh; then the lock is given back.
    void renewInForkedChild();

private:
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<StampedFrame> frames_;
    const std::size_t capacity_;
    std::uint64_t missed_ = 0;
    bool closed_ = false;
};

class GloveLink;

/// Calls a function for each frame of a link, on a thread of its own, until destroyed. A slow
/// function misses frames rather than slowing the link. An exception from the function is
/// caught and counted, and delivery goes on with the next frame.
class FrameCallback {
public:
    FrameCallback(GloveLink& link, std::function<void(const StampedFrame&)> call,
                  std::size_t capacity = 1024);
    ~FrameCallback();
    FrameCallback(const FrameCallback&) = delete;
    FrameCallback& operator=(const FrameCallback&) = delete;

    /// Calls of the function that ended in an exception.
    std::uint64_t exceptions() const;

private:
    GloveLink& link_;
    std::shared_ptr<FrameQueue> queue_;
    std::shared_ptr<std::atomic<std::uint64_t>> exceptions_;
    std::thread thread_;
};

}  // namespace chirolink
