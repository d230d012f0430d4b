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
// The shared library's C API (chirolink_glove.h) is a thin layer over it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "frames.h"

struct chirolink_glove;

namespace chirolink {

class GloveLink;
chirolink_glove& processGlove();

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

class GloveLink {
public:
    GloveLink();
    /// Stops the link.
    ~GloveLink();
    GloveLink(const GloveLink&) = delete;
    GloveLink& operator=(const GloveLink&) = delete;

    /// Stops whatever this link runs, then opens `port` ("COM1", a device path), configures it,
    /// says hello up to three times and starts the thread. Counters and sequence numbers start
    /// from zero again, and the readers' queues empty; the sample buffer keeps its bytes (the
    /// hello's answer lands in byte 0).
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
    /// and starts: subscribe before start() to get a link's frames from its very first. Each
    /// successful start empties it, so that it holds the new run's frames only.
    std::shared_ptr<FrameQueue> subscribe(std::size_t capacity = 1024);
    /// Stops delivering frames to `queue` and closes it.
    void unsubscribe(const std::shared_ptr<FrameQueue>& queue);

    /// The link behind GloveInit, GloveGetDataPtr and GloveGetData: made on first use, never
    /// destroyed (threads may call into it while the process exits).
    static GloveLink& process();

    /// Stops every link of the process at once, for good: the library is being unloaded or
    /// the process is ending. Later starts fail.
    static void endAll();

    struct State;

private:
    friend chirolink_glove& processGlove();
    explicit GloveLink(std::uint64_t* sampleWord);

    std::unique_ptr<State> state_;
};

}  // namespace chirolink
