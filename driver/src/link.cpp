// GloveInit: open the port, check that a glove answers, start the acquisition thread.
#include "link.h"

#include <cstring>
#include <mutex>

#include "chirolink.h"
#include "protocol.h"
#include "sample_buffer.h"

namespace chirolink {

Link linkState;

namespace {

using platform::kNoHandle;

// Serialises GloveInit, the unload hook and fork.
std::mutex linkLock;

enum class Stop {
    // Let the thread finish the exchange under way: the glove's reply is read, and the next
    // handshake on this port does not meet a stale frame. Takes a cycle at most (409 ms).
    afterCycle,
    // Wake the thread out of whatever it waits for: the process or the library is going away.
    atOnce,
};

// Stops the acquisition thread, joins it, closes the port.
void stopLink(Stop how) {
    linkState.run.store(0, std::memory_order_release);
    if (linkState.thread.running) {
        if (how == Stop::atOnce) {
            platform::signalWakeup(linkState.wakeup);
        }
        platform::joinThread(linkState.thread);
    }
    if (linkState.port != kNoHandle) {
        platform::closePort(linkState.port);
        linkState.port = kNoHandle;
    }
    platform::destroyWakeup(linkState.wakeup);
}

// Up to three hellos. Each answer byte lands in position 0 of the sample buffer.
bool handshake(platform::Handle port) {
    for (int attempt = 0; attempt < protocol::kHelloAttempts; ++attempt) {
        const auto sent = platform::writePort(port, &protocol::kHello, 1, nullptr);
        if (sent.status == platform::Transfer::failed) {
            return false;  // the device is gone: no answer can come
        }
        platform::sleepMilliseconds(protocol::kHelloPauseMs);
        std::uint8_t answer = 0;
        const auto got = platform::readPort(port, &answer, 1, nullptr);
        if (got.count == 1) {
            auto sample = loadSample();
            sample[0] = answer;
            publishSample(sample);
            if (answer == protocol::kHelloAnswer) {
                return true;
            }
        }
        if (got.status == platform::Transfer::failed) {
            return false;
        }
        platform::sleepMilliseconds(protocol::kHelloPauseMs);
    }
    return false;
}

// A child of fork() has no acquisition thread: it must neither join one nor close the
// parent's port from under it. The lock is held across fork so that the child gets it free.
void forgetLinkInChild() {
    linkState.port = kNoHandle;
    linkState.run.store(0, std::memory_order_relaxed);
    linkState.wakeup = {};
    linkState.thread = {};
    linkLock.unlock();
}

void lockForFork() {
    linkLock.lock();
}

void unlockAfterFork() {
    linkLock.unlock();
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
    platform::configurePort(handle);
    if (!handshake(handle) || !platform::createWakeup(linkState.wakeup)) {
        platform::closePort(handle);
        return 0;
    }
    std::strcpy(linkState.portName, port);
    linkState.port = handle;
    linkState.run.store(1, std::memory_order_release);
    if (!platform::startThread(linkState.thread, acquire)) {
        stopLink(Stop::atOnce);
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
