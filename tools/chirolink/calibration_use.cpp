#include "calibration_use.h"

#include "calibration_file.h"

namespace chirolink::cli {

bool loadCalibrations(const Options& options, std::vector<Glove>& gloves) {
    for (std::size_t i = 0; i < options.calibrations.size() && i < gloves.size(); ++i) {
        const std::string& path = options.calibrations[i];
        chirolink_calibration calibration{};
        if (const auto outcome = calibration::load(path.c_str(), calibration);
            outcome.result != CHIROLINK_OK) {
            complain(path + ": " + outcome.error);
            return false;
        }
        gloves[i].calibration = calibration;
    }
    return true;
}

}  // namespace chirolink::cli
