// The options of `calibrate`, and --calibration of show, record and stream.
#include <algorithm>
#include <charconv>
#include <cmath>

#include "options.h"
#include "range_capture.h"

namespace chirolink::cli {

namespace {

double parseSeconds(std::string_view text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() ||
        !std::isfinite(value) || value <= 0 || value > 1e6) {
        throw UsageError{"--seconds: expected seconds above 0, got '" + std::string(text) + "'"};
    }
    return value;
}

void parseInverted(std::string_view text, Options& options) {
    const std::string_view all = text;
    while (true) {
        const auto comma = text.find(',');
        const auto name = text.substr(0, comma);
        const auto* const end = kChannelNames + kChannels;
        const auto* const found = std::find(kChannelNames, end, name);
        if (found == end) {
            throw UsageError{"--invert: '" + std::string(name) +
                             "' is no channel (finger1 .. finger5, roll, pitch), in '" +
                             std::string(all) + "'"};
        }
        options.inverted[static_cast<std::size_t>(found - kChannelNames)] = true;
        if (comma == std::string_view::npos) {
            return;
        }
        text.remove_prefix(comma + 1);
    }
}

}  // namespace

bool takeCalibrationOption(std::string_view arg, const std::function<std::string_view()>& value,
                           Options& options) {
    const Command command = *options.command;
    const bool calibrating = command == Command::calibrate;
    auto only = [&](bool ok) {
        if (!ok) {
            throw UsageError{std::string(arg) + " does not apply here (see chirolink " +
                             commandName(command) + " --help)"};
        }
    };
    if (arg == "--calibration") {
        only(command == Command::show || command == Command::record || command == Command::stream);
        const auto file = value();
        if (file.empty()) {
            throw UsageError{"--calibration: empty file name"};
        }
        options.calibrations.emplace_back(file);
    } else if (arg == "--seconds") {
        only(calibrating);
        options.seconds = parseSeconds(value());
    } else if (arg == "--hand") {
        only(calibrating);
        const auto hand = value();
        if (hand != "left" && hand != "right") {
            throw UsageError{"--hand: expected left or right, got '" + std::string(hand) + "'"};
        }
        options.hand = hand == "left" ? CHIROLINK_HAND_LEFT : CHIROLINK_HAND_RIGHT;
    } else if (arg == "--invert") {
        only(calibrating);
        parseInverted(value(), options);
    } else if (arg == "--from") {
        only(calibrating);
        options.from = value();
        if (options.from.empty()) {
            throw UsageError{"--from: empty file name"};
        }
    } else if (arg == "--glove") {
        only(calibrating);
        options.glove = value();
    } else {
        return false;
    }
    return true;
}

void checkCalibrationOptions(Options& options) {
    if (!options.calibrations.empty() && options.calibrations.size() != options.ports.size()) {
        throw UsageError{"--calibration is given " + std::to_string(options.calibrations.size()) +
                         " times for " + std::to_string(options.ports.size()) +
                         " ports: once per port, in the same order"};
    }
    if (*options.command != Command::calibrate) {
        return;
    }
    if (options.from.empty() ? options.ports.size() != 1 : !options.ports.empty()) {
        throw UsageError{"takes one PORT or --from RECORDING.csv"};
    }
    if (!options.glove.empty() && options.from.empty()) {
        throw UsageError{"--glove names a glove in the recording of --from"};
    }
    if (options.output.empty()) {
        throw UsageError{"-o FILE.json is required"};
    }
}

}  // namespace chirolink::cli
