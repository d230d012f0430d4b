// The acquisition thread: request, header hunt, frame, checksum, and again, without pause.
// One per running link. It owns the link's port while it runs (it alone drops and reopens
// it, under the port lock), writes the sample buffer and publishes frames and counters; it
// reads only what start() gave it in its Acquisition.
#include "hello.h"
#include "link_state.h"
#include "protocol.h"
#include "sample_buffer.h"

namespace chirolink {
namespace {

using platform::Transfer;

enum class Cycle { done, portFailed };

// One exchange with the glove. `hunt` is the last byte received while hunting for the
// header; it outlives the cycle.
Cycle exchange(const Acquisition& acquisition, platform::Handle port, std::uint8_t& hunt) {
    GloveLink::State& link = acquisition.link;
    const platform::Wakeup* wakeup = &acquisition.wakeup;

    const auto sent = platform::writePort(port, &protocol::kRequest, 1, wakeup);
    if (sent.status == Transfer::failed) {
        return Cycle::portFailed;
    }
    if (sent.status == Transfer::woken) {
        return Cycle::done;
    }
    platform::expectAnswer(port, 1 + protocol::kFrameSize);

    // Header hunt: bytes other than the header are skipped one by one. A read that times
    // out ends the hunt only while the hunt byte still holds the previous cycle's header
    // (the glove went quiet after a frame: the frame read then times out as well and the
    // last frame stays). Otherwise the reply was lost or garbled, and waiting on would wait
    // for good: the cycle ends and the next one asks again.
    for (;;) {
        std::uint8_t byte = 0;
        const auto got = platform::readPort(port, &byte, 1, wakeup);
        if (got.status == Transfer::failed) {
            return Cycle::portFailed;
        }
        if (got.status == Transfer::woken) {
            return Cycle::done;
        }
        if (got.count == 1) {
            hunt = byte;
            if (hunt == protocol::kHeader) {
                break;
            }
        } else if (hunt == protocol::kHeader) {
            break;
        } else {
            link.countLostReply();
            return Cycle::done;
        }
    }

    // The frame is read as one block. Positions that no byte reached keep their values, so
    // it is assembled on a copy of the buffer and published whole.
    protocol::Frame frame = loadSample(*link.sample);
    const auto got = platform::readPort(port, frame.data(), frame.size(), wakeup);
    if (got.status == Transfer::failed) {
        return Cycle::portFailed;
    }
    if (got.status == Transfer::woken) {
        return Cycle::done;
    }
    if (got.count > 0) {
        publishSample(*link.sample, frame);
    }
    if (got.count == frame.size()) {
        link.publish(frame);
    } else {
        link.countLostReply();
    }
    if (!protocol::frameIsGood(frame)) {
        platform::debugLine(protocol::kChecksumErrorLine);
    }
    return Cycle::done;
}

// Closes the link's port after it failed; the thread goes on to reopen it. Closed under the
// port lock, so that fork() never sees a handle that is no longer stored but still open.
void dropPort(GloveLink::State& link) {
    auto port = link.port.lock();
    if (port->handle != platform::kNoHandle) {
        platform::closePort(port->handle, port->saved);
        port->handle = platform::kNoHandle;
    }
}

// Opens the link's port again after it failed. Whatever holds the name now gets one hello and
// is kept only when it answers as a glove does; anything else gets its settings back and is
// closed at once. Returns how long to wait before the next try when it gives up.
int reopen(const Acquisition& acquisition) {
    GloveLink::State& link = acquisition.link;
    platform::Handle handle = platform::kNoHandle;
    {
        auto port = link.port.lock();  // the open and its store, as one for fork()
        port->handle = platform::openPort(acquisition.portName.c_str());
        port->answered = false;
        if (port->handle == platform::kNoHandle) {
            return protocol::kReopenIntervalMs;
        }
        port->saved = platform::configurePort(port->handle);
        handle = port->handle;
    }
    if (sayHello(handle, &acquisition.wakeup).gloveAnswered()) {
        link.countReopen();
        link.port.lock()->answered = true;
        return 0;
    }
    {
        auto port = link.port.lock();
        platform::restoreSettings(port->handle, port->saved);
    }
    dropPort(link);
    return protocol::kNotAGloveRetryMs;
}

// One turn of the loop: an exchange on an open port, or a try at reopening a failed one.
// `waitMs` is how long to wait before the next try at reopening.
void cycle(const Acquisition& acquisition, std::uint8_t& hunt, int& waitMs) {
    GloveLink::State& link = acquisition.link;
    // Only this thread changes the handle while it runs: the copy stays good for the cycle.
    const platform::Handle port = link.port.lock()->handle;
    if (port != platform::kNoHandle) {
        if (exchange(acquisition, port, hunt) == Cycle::portFailed) {
            dropPort(link);
            waitMs = protocol::kReopenIntervalMs;
        }
        return;
    }
    if (platform::waitForWakeup(acquisition.wakeup, waitMs)) {
        return;
    }
    waitMs = reopen(acquisition);
    if (waitMs == 0) {
        hunt = 0;
    }
}

}  // namespace

void acquire(const Acquisition& acquisition) {
    GloveLink::State& link = acquisition.link;
    std::uint8_t hunt = 0;  // anything but the header
    int waitMs = protocol::kReopenIntervalMs;
    while (link.run.load(std::memory_order_acquire) != 0) {
        try {
            cycle(acquisition, hunt, waitMs);
        } catch (...) {
            // Nothing in a cycle is meant to throw, but an exception must never end the host
            // process from here: whatever went wrong, start over from a closed port.
            dropPort(link);
            waitMs = protocol::kReopenIntervalMs;
        }
    }
}

}  // namespace chirolink
