// OSC 1.0 messages for `chirolink stream`, one UDP datagram each, to one HOST:PORT:
//   frame format  /chirolink/<n>/frame   iiiiiiiihd  finger 1 to 5, roll, pitch (0 to 255),
//                                                    checksum good (1/0), sequence, seconds on
//                                                    the monotonic clock
//   float format  /chirolink/<n>/values  fffffff     the seven values scaled to 0..1
//                 /chirolink/<n>/state   s           "running" or "reopening", when it changes
// <n> is 1 for the first port given. Threads: a glove's OscSender is called by that glove's
// frame thread (sendFrame) and by the command's main thread (sendState); it takes a lock of
// its own around the socket.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chirolink_calibration.h"
#include "glove_link.h"
#include "options.h"
#include "udp.h"

namespace chirolink::cli {

/// One OSC 1.0 message: the address pattern, then the arguments in the order added.
class OscMessage {
public:
    explicit OscMessage(std::string_view address);
    OscMessage& add(std::int32_t value);      // i
    OscMessage& add(std::int64_t value);      // h
    OscMessage& add(float value);             // f
    OscMessage& add(double value);            // d
    OscMessage& add(std::string_view value);  // s
    /// The packet: the address and the type tags as padded strings, then the arguments,
    /// big-endian, each a multiple of 4 bytes long.
    std::string packet() const;

private:
    std::string address_;
    std::string types_ = ",";
    std::string arguments_;
};

/// The message `format` makes of glove `n`'s frame; the float format gives the values as
/// `calibration` makes them when there is one.
OscMessage frameMessage(int n, const StampedFrame& frame, OscFormat format,
                        const chirolink_calibration* calibration = nullptr);

/// Sends the messages of glove number `n` and counts them.
class OscSender {
public:
    OscSender(const UdpTarget& target, int n, OscFormat format,
              std::optional<chirolink_calibration> calibration = std::nullopt);

    /// Sends the frame's message; in the float format the state "running" goes first when it
    /// was not the last state sent. False when the frame's message could not be sent.
    bool sendFrame(const StampedFrame& frame);
    /// In the float format, sends the link's state ("running", "reopening") when it differs
    /// from the last state sent. A stopped link sends nothing.
    void sendState(LinkState state);

    /// Frames given to sendFrame, sent or not.
    std::uint64_t framesTaken() const { return framesTaken_.load(std::memory_order_relaxed); }
    /// Frame messages sent.
    std::uint64_t framesSent() const { return framesSent_.load(std::memory_order_relaxed); }
    /// Messages of any kind that could not be sent.
    std::uint64_t failures() const { return failures_.load(std::memory_order_relaxed); }
    /// Why the latest message could not be sent.
    std::string lastError() const;

private:
    bool sendLocked(const OscMessage& message);
    void sendStateLocked(std::string_view state);

    const int n_;
    const OscFormat format_;
    const std::optional<chirolink_calibration> calibration_;
    mutable std::mutex mutex_;
    UdpSender udp_;          // under mutex_
    std::string lastState_;  // under mutex_: the state last sent, empty before the first
    std::atomic<std::uint64_t> framesTaken_{0};
    std::atomic<std::uint64_t> framesSent_{0};
    std::atomic<std::uint64_t> failures_{0};
};

/// The messages a set of senders could not send, told once in a while.
class FailureReport {
public:
    /// The failures since the last call as one line for people ("190 messages not sent:
    /// [::1]:9000: Connection refused"); empty when there were none.
    std::string since(const std::vector<std::unique_ptr<OscSender>>& senders);

private:
    std::uint64_t reported_ = 0;
};

}  // namespace chirolink::cli
