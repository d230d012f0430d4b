// GloveLink: one glove on one serial port, for the project's own programs (the `chirolink`
// command, the tests). GloveInit, GloveGetDataPtr and GloveGetData are a thin layer over one
// static instance; any number of other instances may run in the same process, one per port.
//
// A link opens its port, checks with up to three hellos that a glove answers, and runs one
// thread that polls the glove without pause. Each frame it receives is published three ways:
// in the link's 8-byte sample buffer (data(), one atomic 64-bit store), as the latest stamped
// frame (latest()), and to every reader that waits for frames (waitForFrame(), FrameQueue,
// FrameCallback). Readers never slow the link: a reader that falls behind misses frames, which
// shows as a gap in the sequence numbers.
//
// Not part of the shipped ABI: the shared library exports only the three C calls.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

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

/// What a link is doing.
enum class LinkState {
    running,    ///< the port is open and the glove is polled
    reopening,  ///< the port went away; the thread tries to open it again
    stopped,    ///< no thread runs
};

/// How start() ended.
enum class StartResult {
    started,       ///< a glove answered; the thread runs
    badName,       ///< empty or too long a name
    missing,       ///< no such device
    notATerminal,  ///< the name is something other than a serial port
    busy,          ///< somebody else holds the port
    denied,        ///< this user may not open it (not in the port's group)
    noAnswer,      ///< the port opened, but no glove answered the hellos
    failed,        ///< the system refused something else (a thread, memory)
};

/// A text for a StartResult, for messages: "glove answered", "no such device", ...
const char* describe(StartResult result);

/// The frames of one link, in order, for one reader that takes them one by one. It holds up
/// to `capacity` frames; when the reader falls that far behind, the oldest are dropped.
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

    /// Called by the link for every frame.
    void push(const StampedFrame& frame);

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
/// function misses frames rather than slowing the link.
class FrameCallback {
public:
    FrameCallback(GloveLink& link, std::function<void(const StampedFrame&)> call,
                  std::size_t capacity = 1024);
    ~FrameCallback();
    FrameCallback(const FrameCallback&) = delete;
    FrameCallback& operator=(const FrameCallback&) = delete;

private:
    GloveLink& link_;
    std::shared_ptr<FrameQueue> queue_;
    std::thread thread_;
};

class GloveLink {
public:
    GloveLink();
    /// Stops the link.
    ~GloveLink();
    GloveLink(const GloveLink&) = delete;
    GloveLink& operator=(const GloveLink&) = delete;

    /// Stops whatever this link runs, then opens `port` ("COM1", a device path), configures it,
    /// says hello up to three times and starts the thread. Counters and sequence numbers start
    /// from zero again; the sample buffer keeps its bytes (the hello's answer lands in byte 0).
    StartResult start(const char* port);
    /// Stops the thread and closes the port. Lets the exchange under way finish for at most one
    /// cycle's time (409 ms), then wakes the thread. Frames, counters and the buffer stay.
    void stop();
    bool running() const;
    LinkState state() const;
    /// The port name start() was given last.
    std::string portName() const;
    /// The open port's line settings as the system reports them ("19200 baud, 8N1, raw, no
    /// flow control"), or why there are none.
    std::string lineSettings() const;

    /// The 8-byte sample buffer: 8-aligned, at the same address for the link's lifetime.
    unsigned char* data();
    /// The latest frame; sequence 0 before the first.
    StampedFrame latest() const;
    LinkCounters counters() const;

    /// Waits up to `timeout` for a frame with a sequence number above `after` and gives the
    /// latest such frame; nullopt when none came.
    std::optional<StampedFrame> waitForFrame(std::uint64_t after,
                                             std::chrono::milliseconds timeout) const;
    /// A queue that receives every frame from now on (up to `capacity` behind), across stops
    /// and starts: subscribe before start() to get a link's frames from its very first.
    std::shared_ptr<FrameQueue> subscribe(std::size_t capacity = 1024);
    /// Stops delivering frames to `queue` and closes it.
    void unsubscribe(const std::shared_ptr<FrameQueue>& queue);

    /// The link behind GloveInit, GloveGetDataPtr and GloveGetData.
    static GloveLink& process();

    struct State;

private:
    explicit GloveLink(std::uint64_t* sampleWord);

    std::unique_ptr<State> state_;
};

}  // namespace chirolink
