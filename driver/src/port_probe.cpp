// chirolink_probe: the hello on one port, without a link. Runs on the caller's thread; calls on
// different ports may run at once, each on its own port.
#include "port_probe.h"

#include <cstdint>
#include <string>

#include "chirolink_glove.h"
#include "glove_handle.h"
#include "hello.h"

namespace chirolink {

StartResult probePort(const char* port) {
    if (port == nullptr || *port == '\0' || std::char_traits<char>::length(port) >= 4096) {
        return StartResult::badName;
    }
    platform::OpenFailure failure = platform::OpenFailure::none;
    const platform::Handle handle = platform::openPort(port, &failure);
    if (handle == platform::kNoHandle) {
        return startResultFor(failure);
    }
    const platform::SavedSettings saved = platform::configurePort(handle);
    std::uint64_t answer = 0;  // the handshake's sample buffer, of this probe alone
    const bool answered = handshake(answer, handle);
    platform::restoreSettings(handle, saved);
    platform::closePort(handle, saved);
    return answered ? StartResult::started : StartResult::noAnswer;
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
