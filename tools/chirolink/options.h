// The command line of `chirolink`: which command, on which ports, with which options.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace chirolink::cli {

enum class Command { show, record, stream, info, calibrate, ports, scan };

// stream --osc-format: frame (iiiiiiiihd, the default) or float (fffffff and the state).
enum class OscFormat { frame, float32 };

struct Options {
    std::optional<Command> command;  // none with `chirolink --help` or `--version`
    std::vector<std::string> ports;
    std::string output;              // record: -o FILE.csv; calibrate: -o FILE.json
    bool force = false;              // record, calibrate: overwrite the output file
    std::optional<double> duration;  // show, record, stream: seconds, else until a signal
    std::string oscHost, oscPort;    // stream: --osc HOST:PORT
    OscFormat oscFormat = OscFormat::frame;
    std::vector<std::string> calibrations;  // show, record, stream: --calibration, one per port
    std::string from;                       // calibrate: --from RECORDING.csv
    std::string glove;                      // calibrate: --glove NAME, in the recording
    double seconds = 10;                    // calibrate: --seconds S
    std::uint8_t hand = 0;                  // calibrate: --hand, as chirolink_calibration.hand
    std::array<bool, 7> inverted{};         // calibrate: --invert, per channel
    bool quiet = false;                     // scan: only the ports with a glove
    bool help = false;
    bool version = false;
};

// A mistake on the command line; `what` is one line without the program's name.
struct UsageError {
    std::string what;
};

// Throws UsageError.
Options parseOptions(int argc, const char* const* argv);

// The help text of the program (nullopt) or of one command.
const char* usageText(std::optional<Command> command);

const char* commandName(Command command);

// calibrate_options.cpp: takes `arg` when it is `calibrate`'s or --calibration, getting its
// value from `value`; false for any other option. Throws UsageError.
bool takeCalibrationOption(std::string_view arg, const std::function<std::string_view()>& value,
                           Options& options);
// The rules among those options, once all are read. Throws UsageError.
void checkCalibrationOptions(Options& options);

}  // namespace chirolink::cli
