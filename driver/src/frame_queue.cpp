// FrameQueue and FrameCallback. A queue is filled by its link's acquisition thread and emptied
// by its reader; a callback's own thread empties its queue and calls the function.
#include <algorithm>
#include <new>

#include "frames.h"
#include "glove_link.h"

namespace chirolink {

FrameQueue::FrameQueue(std::size_t capacity) : capacity_(std::max<std::size_t>(1, capacity)) {}

std::optional<StampedFrame> FrameQueue::next(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!arrived_.wait_for(lock, timeout, [&] { return closed_ || !frames_.empty(); }) ||
        frames_.empty()) {
        return std::nullopt;
    }
    StampedFrame frame = frames_.front();
    frames_.pop_front();
    return frame;
}

void FrameQueue::close() {
    {
        const std::lock_guard lock(mutex_);
        closed_ = true;
        frames_.clear();
    }
    arrived_.notify_all();
}

bool FrameQueue::closed() const {
    const std::lock_guard lock(mutex_);
    return closed_;
}

std::uint64_t FrameQueue::missed() const {
    const std::lock_guard lock(mutex_);
    return missed_;
}

void FrameQueue::restart() {
    const std::lock_guard lock(mutex_);
    frames_.clear();
    missed_ = 0;
}

void FrameQueue::push(const StampedFrame& frame) {
    {
        const std::lock_guard lock(mutex_);
        if (closed_) {
            return;
        }
        if (frames_.size() == capacity_) {
            frames_.pop_front();  // the reader fell behind: it sees a gap in the sequence
            ++missed_;
        }
        try {
            frames_.push_back(frame);
        } catch (...) {
            ++missed_;  // out of memory: this reader misses the frame, the link goes on
            return;
        }
    }
    arrived_.notify_one();
}

void FrameQueue::holdForFork() {
    mutex_.lock();
}

void FrameQueue::releaseAfterFork() {
    mutex_.unlock();
}

void FrameQueue::renewInForkedChild() {
    // The old condition still counts the parent's waiters, and destroying it would wait for
    // them for ever: it is replaced, not destroyed.
    new (&arrived_) std::condition_variable;
    mutex_.unlock();
}

FrameCallback::FrameCallback(GloveLink& link, std::function<void(const StampedFrame&)> call,
                             std::size_t capacity)
    : link_(link),
      queue_(link.subscribe(capacity)),
      exceptions_(std::make_shared<std::atomic<std::uint64_t>>(0)) {
    thread_ = std::thread([queue = queue_, exceptions = exceptions_, call = std::move(call)] {
        while (!queue->closed()) {
            if (const auto frame = queue->next(std::chrono::hours(1))) {
                try {
                    call(*frame);
                } catch (...) {
                    exceptions->fetch_add(1, std::memory_order_relaxed);
                }
            }
        }
    });
}

FrameCallback::~FrameCallback() {
    link_.unsubscribe(queue_);
    thread_.join();
}

std::uint64_t FrameCallback::exceptions() const {
    return exceptions_->load(std::memory_order_relaxed);
}

}  // namespace chirolink
