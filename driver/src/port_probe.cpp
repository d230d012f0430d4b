// Opening a port and saying hello, for GloveLink::start, and chirolink_probe: the hello on one
// port, without a link. Runs on the caller's thread; calls on different ports may run at once,
// each on its own port.
#include "port_probe.h"

#include <cstdint>
#include <string>

#include "chirolink_glove.h"
#include "glove_handle.h"
#include "hello.h"

namespace chirolink {

namespace {

StartResult startResultFor(platform::OpenFailure failure) {
    switch (failure) {
        case platform::OpenFailure::badName:
            return StartResult::badName;
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

}  // namespace

Greeted greet(const char* port, std::uint64_t& sample) {
    Greeted greeted;
    if (port == nullptr || *port == '\0' || std::char_traits<char>::length(port) >= 4096) {
        return greeted;
    }
    platform::OpenFailure failure = platform::OpenFailure::none;
    greeted.handle = platform::openPort(port, &failure);
    if (greeted.handle == platform::kNoHandle) {
        greeted.result = startResultFor(failure);
        return greeted;
    }
    greeted.saved = platform::configurePort(greeted.handle);
    if (!handshake(sample, greeted.handle)) {
        giveBack(greeted.handle, greeted.saved);
        greeted.handle = platform::kNoHandle;
        greeted.result = StartResult::noAnswer;
        return greeted;
    }
    greeted.result = StartResult::started;
    return greeted;
}

void giveBack(platform::Handle port, const platform::SavedSettings& saved) {
    platform::restoreSettings(port, saved);
    platform::closePort(port, saved);
}

StartResult probePort(const char* port) {
    std::uint64_t answer = 0;  // the handshake's sample buffer, of this probe alone
    const Greeted greeted = greet(port, answer);
    if (greeted.result == StartResult::started) {
        giveBack(greeted.handle, greeted.saved);
    }
    return greeted.result;
}

}  // namespace chirolink

extern "C" CHIROLINK_API int32_t CHIROLINK_CALL chirolink_probe(const char* port) {
    if (port == nullptr) {
        return CHIROLINK_ERR_ARG;
    }
    try {
        return chirolink::resultFor(chirolink::probePort(port));
    } catch (...) {
        return CHIROLINK_ERR_SYSTEM;
    }
}
