// The glove API of chirolink_glove.h: handles over GloveLink. Runs on the callers' threads.
// Nothing here throws out of a call: every exception ends as a result.
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>

#include "chirolink_calibration.h"
#include "chirolink_glove.h"
#include "glove_handle.h"

#ifndef CHIROLINK_VERSION
#error "CHIROLINK_VERSION must be defined by the build"
#endif

namespace chirolink {

int32_t resultFor(StartResult result) {
    switch (result) {
        case StartResult::started:
            return CHIROLINK_OK;
        case StartResult::badName:
            return CHIROLINK_ERR_ARG;
        case StartResult::missing:
            return CHIROLINK_ERR_MISSING;
        case StartResult::notATerminal:
            return CHIROLINK_ERR_NOT_SERIAL;
        case StartResult::busy:
            return CHIROLINK_ERR_BUSY;
        case StartResult::denied:
            return CHIROLINK_ERR_DENIED;
        case StartResult::noAnswer:
            return CHIROLINK_ERR_NO_GLOVE;
        case StartResult::failed:
            break;
    }
    return CHIROLINK_ERR_SYSTEM;
}

namespace {

template <typename Clock>
double seconds(typename Clock::time_point at) {
    return std::chrono::duration<double>(at.time_since_epoch()).count();
}

chirolink_frame toFrame(const StampedFrame& stamped) {
    chirolink_frame frame{};
    std::memcpy(frame.values, stamped.bytes.data(), protocol::kSensorCount);
    frame.checksum = stamped.bytes[protocol::kChecksumIndex];
    frame.sequence = stamped.sequence;
    frame.monotonic_s = seconds<std::chrono::steady_clock>(stamped.monotonic);
    frame.wall_s = seconds<std::chrono::system_clock>(stamped.wall);
    frame.checksum_ok = stamped.checksumGood ? 1 : 0;
    return frame;
}

int32_t stateOf(LinkState state) {
    switch (state) {
        case LinkState::running:
            return CHIROLINK_STATE_RUNNING;
        case LinkState::reopening:
            return CHIROLINK_STATE_REOPENING;
        case LinkState::stopped:
            break;
    }
    return CHIROLINK_STATE_STOPPED;
}

// Waits for the handle's next frame; a negative time-out waits for good, in long slices.
std::optional<StampedFrame> nextOf(chirolink_glove& glove, int32_t timeoutMs) {
    if (timeoutMs >= 0) {
        return glove.queue->next(std::chrono::milliseconds(timeoutMs));
    }
    for (;;) {
        if (auto frame = glove.queue->next(std::chrono::hours(1))) {
            return frame;
        }
        if (glove.queue->closed()) {
            return std::nullopt;
        }
    }
}

}  // namespace
}  // namespace chirolink

using namespace chirolink;

extern "C" CHIROLINK_API int32_t CHIROLINK_CALL chirolink_open(const char* port,
                                                               chirolink_glove** glove) {
    if (glove == nullptr) {
        return CHIROLINK_ERR_ARG;
    }
    *glove = nullptr;
    if (port == nullptr) {
        return CHIROLINK_ERR_ARG;
    }
    try {
        auto link = std::make_unique<GloveLink>();
        // Subscribed before the start: the queue gets the link's very first frame.
        auto queue = link->subscribe(kFramesPerHandle);
        const int32_t result = resultFor(link->start(port));
        if (result != CHIROLINK_OK) {
            return result;
        }
        *glove = new chirolink_glove{link.get(), std::move(queue), true};
        link.release();
        return CHIROLINK_OK;
    } catch (...) {
        return CHIROLINK_ERR_SYSTEM;
    }
}

extern "C" CHIROLINK_API void CHIROLINK_CALL chirolink_close(chirolink_glove* glove) {
    if (glove == nullptr || !glove->owned) {
        return;
    }
    try {
        delete glove->link;
    } catch (...) {
    }
    delete glove;
}

extern "C" CHIROLINK_API int32_t CHIROLINK_CALL chirolink_next_frame(chirolink_glove* glove,
                                                                     chirolink_frame* frame,
                                                                     int32_t timeout_ms) {
    if (glove == nullptr || frame == nullptr) {
        return CHIROLINK_ERR_ARG;
    }
    try {
        const auto next = nextOf(*glove, timeout_ms);
        if (!next) {
            return CHIROLINK_ERR_TIMEOUT;
        }
        *frame = toFrame(*next);
        return CHIROLINK_OK;
    } catch (...) {
        return CHIROLINK_ERR_SYSTEM;
    }
}

extern "C" CHIROLINK_API int32_t CHIROLINK_CALL chirolink_latest_frame(chirolink_glove* glove,
                                                                       chirolink_frame* frame) {
    if (glove == nullptr || frame == nullptr) {
        return CHIROLINK_ERR_ARG;
    }
    try {
        const StampedFrame latest = glove->link->latest();
        if (latest.sequence == 0) {
            return CHIROLINK_ERR_TIMEOUT;
        }
        *frame = toFrame(latest);
        return CHIROLINK_OK;
    } catch (...) {
        return CHIROLINK_ERR_SYSTEM;
    }
}

extern "C" CHIROLINK_API int32_t CHIROLINK_CALL chirolink_get_status(chirolink_glove* glove,
                                                                     chirolink_status* status) {
    if (glove == nullptr || status == nullptr) {
        return CHIROLINK_ERR_ARG;
    }
    try {
        const LinkCounters counters = glove->link->counters();
        const StampedFrame latest = glove->link->latest();
        chirolink_status result{};
        result.state = stateOf(glove->link->state());
        result.frames = counters.frames;
        result.bad_checksums = counters.badChecksums;
        result.lost_replies = counters.lostReplies;
        result.reopens = counters.reopens;
        result.missed = glove->queue->missed();
        result.last_frame_age_s =
            latest.sequence == 0
                ? -1.0
                : std::chrono::duration<double>(std::chrono::steady_clock::now() - latest.monotonic)
                      .count();
        *status = result;
        return CHIROLINK_OK;
    } catch (...) {
        return CHIROLINK_ERR_SYSTEM;
    }
}

extern "C" CHIROLINK_API const char* CHIROLINK_CALL chirolink_error_text(int32_t result) {
    switch (result) {
        case CHIROLINK_OK:
            return "ok";
        case CHIROLINK_ERR_ARG:
            return "invalid argument";
        case CHIROLINK_ERR_MISSING:
            return describe(StartResult::missing);
        case CHIROLINK_ERR_NOT_SERIAL:
            return describe(StartResult::notATerminal);
        case CHIROLINK_ERR_BUSY:
            return describe(StartResult::busy);
        case CHIROLINK_ERR_DENIED:
            return describe(StartResult::denied);
        case CHIROLINK_ERR_NO_GLOVE:
            return describe(StartResult::noAnswer);
        case CHIROLINK_ERR_TIMEOUT:
            return "no frame in time";
        case CHIROLINK_ERR_SYSTEM:
            return describe(StartResult::failed);
        case CHIROLINK_ERR_FORMAT:
            return "not a calibration file";
        default:
            return "unknown result";
    }
}

extern "C" CHIROLINK_API const char* CHIROLINK_CALL chirolink_version(void) {
    return CHIROLINK_VERSION;
}

extern "C" CHIROLINK_API chirolink_glove* CHIROLINK_CALL chirolink_process_glove(void) {
    try {
        return &processGlove();
    } catch (...) {
        return nullptr;
    }
}
