// The acquisition thread: request, header hunt, frame, checksum, and again, without pause.
#include "link.h"
#include "protocol.h"
#include "sample_buffer.h"

namespace chirolink {
namespace {

using platform::Transfer;

enum class Cycle { done, portFailed };

// One exchange with the glove. `hunt` is the last byte received while hunting for the
// header; it outlives the cycle.
Cycle exchange(GloveLink::State& link, std::uint8_t& hunt) {
    const platform::Handle port = link.port;
    const platform::Wakeup* wakeup = &link.wakeup;

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

// Closes the link's port after it failed; the thread goes on to reopen it. The handle is
// cleared where fork() cannot see it half done.
void dropPort(GloveLink::State& link) {
    const platform::Handle port = link.port;
    if (port != platform::kNoHandle) {
        {
            const std::lock_guard lock(link.portLock);
            link.port = platform::kNoHandle;
        }
        platform::closePort(port, link.saved);
    }
}

// Opens the link's port again after it failed. Whatever holds the name now gets one hello and
// is kept only when it answers as a glove does; anything else gets its settings back and is
// closed at once. Returns how long to wait before the next try when it gives up.
int reopen(GloveLink::State& link) {
    {
        const std::lock_guard lock(link.portLock);  // the open and its store, as one for fork()
        link.port = platform::openPort(link.portName.c_str());
    }
    const platform::Handle port = link.port;
    if (port == platform::kNoHandle) {
        return protocol::kReopenIntervalMs;
    }
    link.saved = platform::configurePort(port);
    if (sayHello(port, &link.wakeup).gloveAnswered()) {
        link.countReopen();
        return 0;
    }
    platform::restoreSettings(port, link.saved);
    dropPort(link);
    return protocol::kNotAGloveRetryMs;
}

// One turn of the loop: an exchange on an open port, or a try at reopening a failed one.
// `waitMs` is how long to wait before the next try at reopening.
void cycle(GloveLink::State& link, std::uint8_t& hunt, int& waitMs) {
    if (link.port != platform::kNoHandle) {
        if (exchange(link, hunt) == Cycle::portFailed) {
            dropPort(link);
            waitMs = protocol::kReopenIntervalMs;
        }
        return;
    }
    if (platform::waitForWakeup(link.wakeup, waitMs)) {
        return;
    }
    waitMs = reopen(link);
    if (waitMs == 0) {
        hunt = 0;
    }
}

}  // namespace

void acquire(GloveLink::State& link) {
    std::uint8_t hunt = 0;  // anything but the header
    int waitMs = protocol::kReopenIntervalMs;
    while (link.run.load(std::memory_order_acquire) != 0) {
        try {
            cycle(link, hunt, waitMs);
        } catch (...) {
            // Nothing in a cycle is meant to throw, but an exception must never end the host
            // process from here: whatever went wrong, start over from a closed port.
            dropPort(link);
            waitMs = protocol::kReopenIntervalMs;
        }
    }
}

}  // namespace chirolink
