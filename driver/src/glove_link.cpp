// GloveLink: start-up (open, configure, handshake, thread), stopping, fork, and what readers
// get of each frame.
#include "glove_link.h"

#include <algorithm>

#include "link.h"
#include "protocol.h"
#include "sample_buffer.h"

namespace chirolink {

bool HelloResult::gloveAnswered() const {
    return count == 1 && answer == protocol::kHelloAnswer;
}

HelloResult sayHello(platform::Handle port, const platform::Wakeup* wakeup) {
    using platform::Transfer;
    const auto sent = platform::writePort(port, &protocol::kHello, 1, wakeup);
    if (sent.status == Transfer::failed || sent.status == Transfer::woken) {
        return {sent.status, 0, 0};
    }
    if (wakeup == nullptr) {
        platform::sleepMilliseconds(protocol::kHelloPauseMs);
    } else if (platform::waitForWakeup(*wakeup, protocol::kHelloPauseMs)) {
        return {Transfer::woken, 0, 0};
    }
    // The answer is one byte. Bytes before it can only be the rest of an answer to a request
    // of the port's previous user, in flight when the port was opened: they are read past, a
    // few at most, each under the usual limit, until 0x55 comes or the line goes quiet.
    HelloResult result{Transfer::timedOut, 0, 0};
    for (int read = 0; read < protocol::kHelloReadLimit; ++read) {
        std::uint8_t byte = 0;
        const auto got = platform::readPort(port, &byte, 1, wakeup);
        result.status = got.status;
        if (got.count == 1) {
            result.count = 1;
            result.answer = byte;
        }
        if (got.count != 1 || byte == protocol::kHelloAnswer) {
            break;
        }
    }
    return result;
}

void GloveLink::State::publish(const protocol::Frame& bytes) {
    StampedFrame frame;
    frame.bytes = bytes;
    frame.checksumGood = protocol::frameIsGood(bytes);
    frame.monotonic = std::chrono::steady_clock::now();
    frame.wall = std::chrono::system_clock::now();
    {
        const std::lock_guard lock(published);
        ++counters.frames;
        if (!frame.checksumGood) {
            ++counters.badChecksums;
        }
        frame.sequence = counters.frames;
        latest = frame;
        for (const auto& queue : queues) {
            queue->push(frame);
        }
    }
    frameArrived.notify_all();
}

void GloveLink::State::countLostReply() {
    const std::lock_guard lock(published);
    ++counters.lostReplies;
}

void GloveLink::State::countReopen() {
    const std::lock_guard lock(published);
    ++counters.reopens;
}

const char* describe(StartResult result) {
    switch (result) {
        case StartResult::started:
            return "glove answered";
        case StartResult::badName:
            return "no usable port name";
        case StartResult::missing:
            return "no such device";
        case StartResult::notATerminal:
            return "not a serial port";
        case StartResult::busy:
            return "port busy (opened by another program)";
        case StartResult::denied:
            return "permission denied (is the user in the port's group, e.g. dialout?)";
        case StartResult::noAnswer:
            return "no glove answered";
        case StartResult::failed:
            return "the system refused (thread or memory)";
    }
    return "unknown";
}

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

FrameCallback::FrameCallback(GloveLink& link, std::function<void(const StampedFrame&)> call,
                             std::size_t capacity)
    : link_(link), queue_(link.subscribe(capacity)) {
    thread_ = std::thread([queue = queue_, call = std::move(call)] {
        while (!queue->closed()) {
            if (const auto frame = queue->next(std::chrono::hours(1))) {
                call(*frame);
            }
        }
    });
}

FrameCallback::~FrameCallback() {
    link_.unsubscribe(queue_);
    thread_.join();
}

namespace {

using platform::kNoHandle;

enum class Stop {
    // Let the thread finish the exchange under way, so that the glove's reply is read and not
    // left in the line for whoever comes next, but wait no longer than one exchange can take:
    // a line that babbles keeps the header hunt going for good.
    afterCycle,
    // Wake the thread out of whatever it waits for: the link or the process is going away.
    atOnce,
};

// Stops the acquisition thread, joins it, closes the port. Needs `lifecycle` held.
void stopLink(GloveLink::State& link, Stop how) {
    link.run.store(0, std::memory_order_release);
    if (link.thread.running) {
        const int patienceMs = how == Stop::afterCycle ? protocol::kCycleLimitMs : 0;
        if (!platform::joinThread(link.thread, patienceMs)) {
            platform::signalWakeup(link.wakeup);
            platform::joinThread(link.thread);
        }
    }
    if (link.port != kNoHandle) {
        platform::closePort(link.port, link.saved);
        link.port = kNoHandle;
    }
    platform::destroyWakeup(link.wakeup);
}

// Up to three hellos. Each answer byte lands in position 0 of the sample buffer.
bool handshake(GloveLink::State& link, platform::Handle port) {
    for (int attempt = 0; attempt < protocol::kHelloAttempts; ++attempt) {
        const HelloResult hello = sayHello(port, nullptr);
        if (hello.count == 1) {
            auto sample = loadSample(*link.sample);
            sample[0] = hello.answer;
            publishSample(*link.sample, sample);
        }
        if (hello.gloveAnswered()) {
            return true;
        }
        if (hello.status == platform::Transfer::failed) {
            return false;  // the device is gone: no answer can come
        }
        platform::sleepMilliseconds(protocol::kHelloPauseMs);
    }
    return false;
}

// Closes a port that turned out not to be a glove, with its settings put back as found.
void giveBack(platform::Handle port, const platform::SavedSettings& saved) {
    platform::restoreSettings(port, saved);
    platform::closePort(port, saved);
}

void runAcquisition(void* link) {
    acquire(*static_cast<GloveLink::State*>(link));
}

StartResult startResultFor(platform::OpenFailure failure) {
    switch (failure) {
        case platform::OpenFailure::missing:
            return StartResult::missing;
        case platform::OpenFailure::notATerminal:
            return StartResult::notATerminal;
        case platform::OpenFailure::busy:
            return StartResult::busy;
        case platform::OpenFailure::denied:
            return StartResult::denied;
        case platform::OpenFailure::none:
        case platform::OpenFailure::other:
            break;
    }
    return StartResult::failed;
}

// Every link of the process, for fork(): a child closes its copies of every link's port and
// wakeup, and both locks of every link are held across fork so that the child gets them free.
struct Registry {
    std::mutex mutex;
    std::vector<GloveLink::State*> links;
};

Registry& registry() {
    static Registry all;
    return all;
}

void lockForFork() {
    Registry& all = registry();
    all.mutex.lock();
    for (GloveLink::State* link : all.links) {
        link->lifecycle.lock();
        link->portLock.lock();
    }
}

void unlockAfterFork() {
    Registry& all = registry();
    for (GloveLink::State* link : all.links) {
        link->portLock.unlock();
        link->lifecycle.unlock();
    }
    all.mutex.unlock();
}

// A child of fork() has none of the links' threads: it must neither join one nor touch the
// parent's ports. Its copies are closed, and only closed: they would hold the ports' locks
// for as long as the child lives.
void forgetLinksInChild() {
    Registry& all = registry();
    for (GloveLink::State* link : all.links) {
        platform::closeInheritedCopy(link->port);
        platform::closeInheritedCopy(link->wakeup);
        link->port = kNoHandle;
        link->run.store(0, std::memory_order_relaxed);
        link->wakeup = {};
        link->thread = {};
        link->portLock.unlock();
        link->lifecycle.unlock();
    }
    all.mutex.unlock();
}

void enrol(GloveLink::State* link) {
    static const bool forkHandlersInstalled =
        platform::installForkHandlers(lockForFork, unlockAfterFork, forgetLinksInChild);
    static_cast<void>(forkHandlersInstalled);
    Registry& all = registry();
    const std::lock_guard lock(all.mutex);
    all.links.push_back(link);
}

void withdraw(GloveLink::State* link) {
    Registry& all = registry();
    const std::lock_guard lock(all.mutex);
    all.links.erase(std::remove(all.links.begin(), all.links.end(), link), all.links.end());
}

}  // namespace

GloveLink::GloveLink() : GloveLink(nullptr) {}

GloveLink::GloveLink(std::uint64_t* sampleWord) : state_(std::make_unique<State>(sampleWord)) {
    enrol(state_.get());
}

GloveLink::~GloveLink() {
    {
        const std::lock_guard lock(state_->lifecycle);
        stopLink(*state_, Stop::atOnce);
    }
    withdraw(state_.get());
    const std::lock_guard lock(state_->published);
    for (const auto& queue : state_->queues) {
        queue->close();
    }
}

StartResult GloveLink::start(const char* port) {
    State& link = *state_;
    const std::lock_guard lock(link.lifecycle);
    stopLink(link, Stop::afterCycle);
    if (port == nullptr || *port == '\0' || std::char_traits<char>::length(port) >= 4096) {
        return StartResult::badName;
    }
    platform::OpenFailure failure = platform::OpenFailure::none;
    const platform::Handle handle = platform::openPort(port, &failure);
    if (handle == kNoHandle) {
        return startResultFor(failure);
    }
    const platform::SavedSettings saved = platform::configurePort(handle);
    if (!handshake(link, handle)) {
        giveBack(handle, saved);
        return StartResult::noAnswer;
    }
    if (!platform::createWakeup(link.wakeup)) {
        giveBack(handle, saved);
        return StartResult::failed;
    }
    {
        const std::lock_guard fresh(link.published);
        link.counters = {};
        link.latest = {};
    }
    link.portName = port;
    link.port = handle;
    link.saved = saved;
    link.run.store(1, std::memory_order_release);
    if (!platform::startThread(link.thread, runAcquisition, &link)) {
        link.port = kNoHandle;
        stopLink(link, Stop::atOnce);
        giveBack(handle, saved);
        return StartResult::failed;
    }
    return StartResult::started;
}

void GloveLink::stop() {
    const std::lock_guard lock(state_->lifecycle);
    stopLink(*state_, Stop::afterCycle);
}

bool GloveLink::running() const {
    return state_->run.load(std::memory_order_acquire) != 0;
}

LinkState GloveLink::state() const {
    if (!running()) {
        return LinkState::stopped;
    }
    const std::lock_guard lock(state_->portLock);
    return state_->port == kNoHandle ? LinkState::reopening : LinkState::running;
}

std::string GloveLink::portName() const {
    const std::lock_guard lock(state_->lifecycle);
    return state_->portName;
}

std::string GloveLink::lineSettings() const {
    // The thread clears the handle under this lock before it closes a port.
    const std::lock_guard lock(state_->portLock);
    if (state_->port == kNoHandle) {
        return "no port open";
    }
    return platform::describeSettings(state_->port);
}

unsigned char* GloveLink::data() {
    return reinterpret_cast<unsigned char*>(state_->sample);
}

StampedFrame GloveLink::latest() const {
    const std::lock_guard lock(state_->published);
    return state_->latest;
}

LinkCounters GloveLink::counters() const {
    const std::lock_guard lock(state_->published);
    return state_->counters;
}

std::optional<StampedFrame> GloveLink::waitForFrame(std::uint64_t after,
                                                    std::chrono::milliseconds timeout) const {
    std::unique_lock lock(state_->published);
    if (!state_->frameArrived.wait_for(lock, timeout,
                                       [&] { return state_->latest.sequence > after; })) {
        return std::nullopt;
    }
    return state_->latest;
}

std::shared_ptr<FrameQueue> GloveLink::subscribe(std::size_t capacity) {
    auto queue = std::make_shared<FrameQueue>(capacity);
    const std::lock_guard lock(state_->published);
    state_->queues.push_back(queue);
    return queue;
}

void GloveLink::unsubscribe(const std::shared_ptr<FrameQueue>& queue) {
    {
        const std::lock_guard lock(state_->published);
        auto& queues = state_->queues;
        queues.erase(std::remove(queues.begin(), queues.end(), queue), queues.end());
    }
    queue->close();
}

GloveLink& GloveLink::process() {
    static GloveLink link(&exportedSample());
    return link;
}

}  // namespace chirolink
