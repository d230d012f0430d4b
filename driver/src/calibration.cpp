// The calibration calls of chirolink_calibration.h: loading, saving and the mapping of raw
// values to 0..1. They keep no state and run on the callers' threads; nothing throws out.
#include <algorithm>
#include <cstring>

#include "calibration_file.h"

using namespace chirolink;

namespace {

void tell(const std::string& text, char* message, int32_t size) {
    if (message == nullptr || size <= 0) {
        return;
    }
    const std::size_t n = std::min(text.size(), static_cast<std::size_t>(size) - 1);
    std::memcpy(message, text.data(), n);
    message[n] = '\0';
}

}  // namespace

extern "C" CHIROLINK_API int32_t CHIROLINK_CALL chirolink_calibration_load(
    const char* path, chirolink_calibration* calibration, char* message, int32_t message_size) {
    tell("", message, message_size);
    if (path == nullptr || calibration == nullptr) {
        tell("invalid argument", message, message_size);
        return CHIROLINK_ERR_ARG;
    }
    try {
        const auto outcome = calibration::load(path, *calibration);
        tell(outcome.error, message, message_size);
        return outcome.result;
    } catch (...) {
        tell("out of memory", message, message_size);
        return CHIROLINK_ERR_SYSTEM;
    }
}

extern "C" CHIROLINK_API int32_t CHIROLINK_CALL
chirolink_calibration_save(const char* path, const chirolink_calibration* calibration) {
    if (path == nullptr || calibration == nullptr || calibration->hand > CHIROLINK_HAND_RIGHT) {
        return CHIROLINK_ERR_ARG;
    }
    try {
        return calibration::save(path, *calibration).result;
    } catch (...) {
        return CHIROLINK_ERR_SYSTEM;
    }
}

extern "C" CHIROLINK_API int32_t CHIROLINK_CALL chirolink_calibrate(
    const chirolink_calibration* calibration, const chirolink_frame* frame, float values[7]) {
    if (calibration == nullptr || frame == nullptr || values == nullptr) {
        return CHIROLINK_ERR_ARG;
    }
    for (int i = 0; i < 7; ++i) {
        const int low = calibration->low[i];
        const int high = calibration->high[i];
        if (low == high) {
            values[i] = 0.5f;
            continue;
        }
        const float value =
            static_cast<float>(frame->values[i] - low) / static_cast<float>(high - low);
        // Written so that -0.0 (a raw value at `low` of an inverted channel) becomes 0.0.
        values[i] = value > 0.0f ? (value < 1.0f ? value : 1.0f) : 0.0f;
    }
    return CHIROLINK_OK;
}
