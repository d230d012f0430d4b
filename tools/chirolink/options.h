// The command line of `chirolink`: which command, on which ports, with which options.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace chirolink::cli {

enum class Command { show, record, stream, info, ports, scan };

// stream --osc-format: frame (iiiiiiiihd, the default) or float (fffffff and the state).
enum class OscFormat { frame, float32 };

struct Options {
    std::optional<Command> command;  // none with `chirolink --help` or `--version`
    std::vector<std::string> ports;
    std::string output;              // record: -o FILE.csv
    bool force = false;              // record: overwrite FILE.csv
    std::optional<double> duration;  // show, record, stream: seconds, else until a signal
    std::string oscHost, oscPort;    // stream: --osc HOST:PORT
    OscFormat oscFormat = OscFormat::frame;
    bool quiet = false;  // scan: only the ports with a glove
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

}  // namespace chirolink::cli
