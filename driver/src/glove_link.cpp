// GloveLink: starting a link (open, configure, handshake, thread), stopping it, and what
// readers ask of it. Runs on the callers' threads; start and stop are serialised by the
// link's control lock.
#include "glove_link.h"

#include <algorithm>

#include "link_registry.h"
#include "link_state.h"
#include "port_probe.h"
#include "protocol.h"
#include "sample_buffer.h"

namespace chirolink {
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

// Stops the acquisition thread, joins it, closes the port.
void stopLink(GloveLink::State& link, GloveLink::State::Control& control, Stop how) {
    link.run.store(0, std::memory_order_release);
    if (control.thread.running) {
        platform::keepLibraryLoaded();
        const int patienceMs = how == Stop::afterCycle ? protocol::kCycleLimitMs : 0;
        if (!platform::joinThread(control.thread, patienceMs)) {
            platform::signalWakeup(control.wakeup);
            platform::joinThread(control.thread);
        }
    }
    {
        auto port = link.port.lock();
        if (port->handle != kNoHandle) {
            platform::closePort(port->handle, port->saved);
            port->handle = kNoHandle;
        }
    }
    platform::destroyWakeup(control.wakeup);
    control.acquisition.reset();
}

void runAcquisition(void* acquisition) {
    acquire(*static_cast<const Acquisition*>(acquisition));
}

}  // namespace

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
            return "port busy (held by another program or link)";
        case StartResult::denied:
            return "permission denied (is the user in the port's group, e.g. dialout?)";
        case StartResult::noAnswer:
            return "no glove answered";
        case StartResult::failed:
            return "the system refused (thread or memory)";
    }
    return "unknown";
}

GloveLink::GloveLink() : GloveLink(nullptr) {}

GloveLink::GloveLink(std::uint64_t* sampleWord) : state_(std::make_unique<State>(sampleWord)) {
    enrol(state_.get());
}

GloveLink::~GloveLink() {
    stopLink(*state_, *state_->control.lock(), Stop::atOnce);
    withdraw(state_.get());
    for (const auto& queue : state_->published.lock()->queues) {
        queue->close();
    }
}

StartResult GloveLink::start(const char* port) {
    State& link = *state_;
    auto control = link.control.lock();
    stopLink(link, *control, Stop::afterCycle);
    if (control->ended) {
        return StartResult::failed;
    }
    const Greeted greeted = greet(port, *link.sample);
    if (greeted.result != StartResult::started) {
        return greeted.result;
    }
    const platform::Handle handle = greeted.handle;
    const platform::SavedSettings& saved = greeted.saved;
    std::unique_ptr<Acquisition> acquisition;
    if (platform::createWakeup(control->wakeup)) {
        try {
            acquisition.reset(new Acquisition{link, port, control->wakeup});
        } catch (...) {
            platform::destroyWakeup(control->wakeup);
        }
    }
    if (acquisition == nullptr) {
        giveBack(handle, saved);
        return StartResult::failed;
    }
    {
        auto readers = link.published.lock();
        readers->counters = {};
        readers->latest = {};
        for (const auto& queue : readers->queues) {
            queue->restart();
        }
    }
    control->portName = port;
    control->acquisition = std::move(acquisition);
    {
        auto stored = link.port.lock();
        stored->handle = handle;
        stored->saved = saved;
        stored->answered = true;
    }
    link.run.store(1, std::memory_order_release);
    if (!platform::startThread(control->thread, runAcquisition, control->acquisition.get())) {
        platform::restoreSettings(handle, saved);
        stopLink(link, *control, Stop::atOnce);
        return StartResult::failed;
    }
    return StartResult::started;
}

void GloveLink::stop() {
    stopLink(*state_, *state_->control.lock(), Stop::afterCycle);
}

void GloveLink::endAll() {
    forEveryLink([](State& link) {
        auto control = link.control.lock();
        stopLink(link, *control, Stop::atOnce);
        control->ended = true;
    });
}

bool GloveLink::running() const {
    return state_->run.load(std::memory_order_acquire) != 0;
}

LinkState GloveLink::state() const {
    if (!running()) {
        return LinkState::stopped;
    }
    const auto port = state_->port.lock();
    return port->handle != kNoHandle && port->answered ? LinkState::running : LinkState::reopening;
}

std::string GloveLink::portName() const {
    return state_->control.lock()->portName;
}

std::string GloveLink::lineSettings() const {
    // Held while the system is asked, so that the thread cannot close the port meanwhile.
    const auto port = state_->port.lock();
    if (port->handle == kNoHandle) {
        return "no port open";
    }
    return platform::describeSettings(port->handle);
}

unsigned char* GloveLink::data() {
    return reinterpret_cast<unsigned char*>(state_->sample);
}

StampedFrame GloveLink::latest() const {
    return state_->published.lock()->latest;
}

LinkCounters GloveLink::counters() const {
    return state_->published.lock()->counters;
}

std::optional<StampedFrame> GloveLink::waitForFrame(std::uint64_t after,
                                                    std::chrono::milliseconds timeout) const {
    auto readers = state_->published.lock();
    if (!readers.waitFor(state_->frameArrived, timeout,
                         [&] { return readers->latest.sequence > after; })) {
        return std::nullopt;
    }
    return readers->latest;
}

std::shared_ptr<FrameQueue> GloveLink::subscribe(std::size_t capacity) {
    auto queue = std::make_shared<FrameQueue>(capacity);
    state_->published.lock()->queues.push_back(queue);
    return queue;
}

void GloveLink::unsubscribe(const std::shared_ptr<FrameQueue>& queue) {
    {
        auto readers = state_->published.lock();
        auto& queues = readers->queues;
        queues.erase(std::remove(queues.begin(), queues.end(), queue), queues.end());
    }
    queue->close();
}

}  // namespace chirolink
