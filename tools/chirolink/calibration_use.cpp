#include "calibration_use.h"

#include <cstring>

namespace chirolink::cli {

bool loadCalibrations(const Options& options, std::vector<Glove>& gloves) {
    for (std::size_t i = 0; i < options.calibrations.size() && i < gloves.size(); ++i) {
        const std::string& path = options.calibrations[i];
        chirolink_calibration calibration{};
        char message[256];
        if (chirolink_calibration_load(path.c_str(), &calibration, message, sizeof message) !=
            CHIROLINK_OK) {
            complain(path + ": " + message);
            return false;
        }
        gloves[i].calibration = calibration;
    }
    return true;
}

std::array<float, 7> calibrated(const chirolink_calibration& calibration,
                                const StampedFrame& frame) {
    chirolink_frame raw{};
    std::memcpy(raw.values, frame.bytes.data(), sizeof raw.values);
    std::array<float, 7> values{};
    chirolink_calibrate(&calibration, &raw, values.data());
    return values;
}

}  // namespace chirolink::cli
