// GloveInit: open the port, check that a glove answers, start the acquisition thread.
#include "link.h"

#include <cstring>

#include "chirolink.h"
#include "protocol.h"
#include "sample_buffer.h"

namespace chirolink {

Link linkState;
std::mutex portLock;

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
    HelloResult result{Transfer::timedOut, 0, 0};
    const auto got = platform::readPort(port, &result.answer, 1, wakeup);
    result.status = got.status;
    result.count = got.count;
    return result;
}

namespace {

using platform::kNoHandle;

// Serialises GloveInit, the unload hook and fork.
std::mutex linkLock;

enum class Stop {
    // Let the thread finish the exchange under way, so that the glove's reply is read and not
    // left in the line for whoever comes next, but wait no longer than one exchange can take:
    // a line that babbles keeps the header hunt going for good.
    afterCycle,
    // Wake the thread out of whatever it waits for: the process or the library is going away.
    atOnce,
};

// Stops the acquisition thread, joins it, closes the port.
void stopLink(Stop how) {
    linkState.run.store(0, std::memory_order_release);
    if (linkState.thread.running) {
        const int patienceMs = how == Stop::afterCycle ? protocol::kCycleLimitMs : 0;
        if (!platform::joinThread(linkState.thread, patienceMs)) {
            platform::signalWakeup(linkState.wakeup);
            platform::joinThread(linkState.thread);
        }
    }
    if (linkState.port != kNoHandle) {
        platform::closePort(linkState.port, linkState.saved);
        linkState.port = kNoHandle;
    }
    platform::destroyWakeup(linkState.wakeup);
}

// Up to three hellos. Each answer byte lands in position 0 of the sample buffer.
bool handshake(platform::Handle port) {
    for (int attempt = 0; attempt < protocol::kHelloAttempts; ++attempt) {
        const HelloResult hello = sayHello(port, nullptr);
        if (hello.count == 1) {
            auto sample = loadSample();
            sample[0] = hello.answer;
            publishSample(sample);
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

// A child of fork() has no acquisition thread: it must neither join one nor touch the
// parent's port. Its copies of the port and the wakeup are closed, and only closed: they
// would hold the port's lock for as long as the child lives. Both locks are held across fork
// so that the child gets them free and the port handle is not half changed.
void forgetLinkInChild() {
    platform::closeInheritedCopy(linkState.port);
    platform::closeInheritedCopy(linkState.wakeup);
    linkState.port = kNoHandle;
    linkState.run.store(0, std::memory_order_relaxed);
    linkState.wakeup = {};
    linkState.thread = {};
    portLock.unlock();
    linkLock.unlock();
}

void lockForFork() {
    linkLock.lock();
    portLock.lock();
}

void unlockAfterFork() {
    portLock.unlock();
    linkLock.unlock();
}

// Closes a port that turned out not to be a glove, with its settings put back as found.
void giveBack(platform::Handle port, const platform::SavedSettings& saved) {
    platform::restoreSettings(port, saved);
    platform::closePort(port, saved);
}

int32_t initialise(const char* port) {
    static bool forkHandlersInstalled = false;
    if (!forkHandlersInstalled) {
        forkHandlersInstalled =
            platform::installForkHandlers(lockForFork, unlockAfterFork, forgetLinkInChild);
    }
    stopLink(Stop::afterCycle);
    if (port == nullptr || *port == '\0' || std::strlen(port) >= sizeof linkState.portName) {
        return 0;
    }
    const platform::Handle handle = platform::openPort(port);
    if (handle == kNoHandle) {
        return 0;
    }
    const platform::SavedSettings saved = platform::configurePort(handle);
    if (!handshake(handle) || !platform::createWakeup(linkState.wakeup)) {
        giveBack(handle, saved);
        return 0;
    }
    std::strcpy(linkState.portName, port);
    linkState.port = handle;
    linkState.saved = saved;
    linkState.run.store(1, std::memory_order_release);
    if (!platform::startThread(linkState.thread, acquire)) {
        linkState.port = kNoHandle;
        stopLink(Stop::atOnce);
        giveBack(handle, saved);
        return 0;
    }
    return 1;
}

// Unloading the library (or ending the process) must not leave the thread running code
// that is about to be unmapped.
__attribute__((destructor)) void stopOnUnload() {
    try {
        const std::lock_guard lock(linkLock);
        stopLink(Stop::atOnce);
    } catch (...) {
    }
}

}  // namespace
}  // namespace chirolink

extern "C" CHIROLINK_API int32_t CHIROLINK_CALL GloveInit(const char* port) {
    try {
        const std::lock_guard lock(chirolink::linkLock);
        return chirolink::initialise(port);
    } catch (...) {
        return 0;
    }
}
