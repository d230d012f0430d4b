// What the acquisition thread publishes of each frame, and what it counts.
#include "link_state.h"

namespace chirolink {

void GloveLink::State::publish(const protocol::Frame& bytes) {
    StampedFrame frame;
    frame.bytes = bytes;
    frame.checksumGood = protocol::frameIsGood(bytes);
    frame.monotonic = std::chrono::steady_clock::now();
    frame.wall = std::chrono::system_clock::now();
    {
        auto readers = published.lock();
        ++readers->counters.frames;
        if (!frame.checksumGood) {
            ++readers->counters.badChecksums;
        }
        frame.sequence = readers->counters.frames;
        readers->latest = frame;
        for (const auto& queue : readers->queues) {
            queue->push(frame);
        }
    }
    frameArrived.notify_all();
}

void GloveLink::State::countLostReply() {
    ++published.lock()->counters.lostReplies;
}

void GloveLink::State::countReopen() {
    ++published.lock()->counters.reopens;
}

}  // namespace chirolink
