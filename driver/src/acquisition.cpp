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
Cycle exchange(platform::Handle port, std::uint8_t& hunt) {
    const platform::Wakeup* wakeup = &linkState.wakeup;

    const auto sent = platform::writePort(port, &protocol::kRequest, 1, wakeup);
    if (sent.status == Transfer::failed) {
        return Cycle::portFailed;
    }
    if (sent.status == Transfer::woken) {
        return Cycle::done;
    }

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
            return Cycle::done;
        }
    }

    // The frame is read as one block. Positions that no byte reached keep their values, so
    // it is assembled on a copy of the buffer and published whole.
    protocol::Frame frame = loadSample();
    const auto got = platform::readPort(port, frame.data(), frame.size(), wakeup);
    if (got.status == Transfer::failed) {
        return Cycle::portFailed;
    }
    if (got.status == Transfer::woken) {
        return Cycle::done;
    }
    if (got.count > 0) {
        publishSample(frame);
    }
    if (!protocol::frameIsGood(frame)) {
        platform::debugLine(protocol::kChecksumErrorLine);
    }
    return Cycle::done;
}

}  // namespace

void acquire() {
    std::uint8_t hunt = 0;  // anything but the header
    while (linkState.run.load(std::memory_order_acquire) != 0) {
        if (linkState.port == platform::kNoHandle) {
            // The port vanished (an adapter pulled out): try the same name again now and
            // then, with the full line settings. The requests tell whether a glove is back.
            if (platform::waitForWakeup(linkState.wakeup, protocol::kReopenIntervalMs)) {
                continue;
            }
            linkState.port = platform::openPort(linkState.portName);
            if (linkState.port != platform::kNoHandle) {
                platform::configurePort(linkState.port);
                hunt = 0;
            }
            continue;
        }
        if (exchange(linkState.port, hunt) == Cycle::portFailed) {
            platform::closePort(linkState.port);
            linkState.port = platform::kNoHandle;
        }
    }
}

}  // namespace chirolink
