#include "options.h"

#include <charconv>
#include <cmath>
#include <string_view>

namespace chirolink::cli {

namespace {

constexpr const char* kProgramUsage =
    "usage: chirolink COMMAND [PORT...] [OPTION...]\n"
    "\n"
    "Reads data gloves on serial ports (\"COM1\" or a device path such as /dev/ttyUSB0).\n"
    "\n"
    "commands:\n"
    "  show PORT... [--duration S]           the values of each glove, live in the terminal\n"
    "  record PORT... -o FILE.csv [--duration S] [--force]\n"
    "                                        every frame of every glove into a CSV file\n"
    "  stream PORT... --osc HOST:PORT [--osc-format F] [--duration S]\n"
    "                                        every frame as an OSC message over UDP\n"
    "  info PORT                             check one port: handshake, 2 s of frames\n"
    "  calibrate PORT -o FILE.json [--seconds S] [--hand left|right] [--invert CHANNEL,...]\n"
    "  calibrate --from RECORDING.csv [--glove NAME] -o FILE.json ...\n"
    "                                        capture each sensor's range into a calibration\n"
    "show, record and stream take --calibration FILE.json per port: values from 0 to 1.\n"
    "  ports                                 the machine's serial ports\n"
    "  scan [PORT...] [--quiet]              which ports have a glove (sends hellos)\n"
    "\n"
    "'chirolink COMMAND --help' tells more, 'chirolink --version' the version. Exit status:\n"
    "0 done, 1 a port, glove or file failed, 2 a mistake on the command line.\n";

constexpr const char* kShowUsage =
    "usage: chirolink show PORT... [--duration SECONDS] [--calibration FILE.json...]\n"
    "\n"
    "Shows each glove's seven values as numbers and bars, its frames per second, checksum\n"
    "errors, lost replies and the time since its last frame, redrawn in place 20 times a\n"
    "second. When standard output is not a terminal, prints one plain line per glove each\n"
    "second instead. Runs until Ctrl+C, SIGTERM, SIGHUP or the end of --duration.\n"
    "  --calibration FILE.json  once per PORT, in the same order: the bars show the values\n"
    "                           from 0 to 1 (see chirolink calibrate --help)\n";

constexpr const char* kRecordUsage =
    "usage: chirolink record PORT... -o FILE.csv [--duration SECONDS] [--force]\n"
    "\n"
    "Writes every frame of every glove to FILE.csv, one row each:\n"
    "  glove,sequence,monotonic_s,wall_time,finger1,finger2,finger3,finger4,finger5,roll,pitch,\n"
    "  checksum,checksum_ok\n"
    "glove is the port as given, sequence counts the glove's frames from 1, monotonic_s is the\n"
    "arrival of the frame's last byte on the monotonic clock, wall_time the same moment in UTC.\n"
    "Runs until Ctrl+C, SIGTERM, SIGHUP or the end of --duration; the file then ends with\n"
    "whole rows.\n"
    "\n"
    "  -o, --output FILE.csv   the file to write ('-': standard output); an existing file\n"
    "                          only with --force\n"
    "  --duration SECONDS      stop after this long\n"
    "  --force                 overwrite FILE.csv\n"
    "  --calibration FILE.json once per PORT, in the same order: seven more columns after\n"
    "                          checksum_ok, finger1_cal ... pitch_cal, from 0 to 1\n";

constexpr const char* kStreamUsage =
    "usage: chirolink stream PORT... --osc HOST:PORT [--osc-format FORMAT] [--duration SECONDS]\n"
    "\n"
    "Sends every frame as an OSC message over UDP to HOST:PORT (a name, an IPv4 address, or\n"
    "an IPv6 address in brackets: [::1]:9000). N is 1 for the first PORT given, 2 for the\n"
    "second, ... --osc-format chooses the messages:\n"
    "  frame (the default)\n"
    "    /chirolink/N/frame   iiiiiiiihd  finger 1 to 5, roll and pitch (0 to 255), checksum\n"
    "                                     good (1 or 0), the frame's sequence number and its\n"
    "                                     arrival in seconds on the monotonic clock\n"
    "  float\n"
    "    /chirolink/N/values  fffffff     the seven values scaled to 0..1\n"
    "    /chirolink/N/state   s           \"running\" or \"reopening\", when it changes\n"
    "--calibration FILE.json, once per PORT in the same order: the float format sends the\n"
    "calibrated values (see chirolink calibrate --help) instead of value/255.\n"
    "Messages that cannot be sent are counted on standard error once a second; when none at\n"
    "all could be sent, the exit status is 1. Runs until Ctrl+C, SIGTERM, SIGHUP or the end\n"
    "of --duration.\n";

constexpr const char* kInfoUsage =
    "usage: chirolink info PORT\n"
    "\n"
    "Opens PORT, says hello to the glove and, when it answers, reads frames for two seconds.\n"
    "Prints what answered, the port's line settings, frames per second and errors. Exit\n"
    "status 0 only when a glove answered.\n";

constexpr const char* kPortsUsage =
    "usage: chirolink ports\n"
    "\n"
    "Lists the machine's serial ports without opening any, one a line: the name to open, then\n"
    "where there is one the stable name (Linux: /dev/serial/by-id/..., the same after a\n"
    "replug), the USB vendor and product ids with the serial number, and a description.\n";

constexpr const char* kScanUsage =
    "usage: chirolink scan [PORT...] [--quiet]\n"
    "\n"
    "Says hello to a glove on the ports given, or on every port that 'chirolink ports' lists,\n"
    "all at once (about 1.2 s in all), and prints for each port: glove, no glove, busy, no\n"
    "access or why it could not be opened; then the ports with a glove.\n"
    "\n"
    "It sends the hello bytes (0x41, up to three) to every port it probes: with other serial\n"
    "devices attached, name the ports to try. Each port gets its settings back afterwards.\n"
    "\n"
    "  --quiet   only the names of the ports with a glove, one a line, for scripts:\n"
    "            chirolink show $(chirolink scan --quiet)\n"
    "\n"
    "Exit status 0 when a glove was found, 1 when none.\n";

double parseDuration(std::string_view text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() ||
        !std::isfinite(value) || value <= 0 || value > 1e7) {
        throw UsageError{"--duration: expected seconds above 0, got '" + std::string(text) + "'"};
    }
    return value;
}

// HOST:PORT, or [IPV6]:PORT.
void parseOsc(std::string_view text, Options& options) {
    const auto colon = text.rfind(':');
    std::string_view host = colon == std::string_view::npos ? text : text.substr(0, colon);
    const std::string_view port =
        colon == std::string_view::npos ? std::string_view{} : text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    unsigned number = 0;
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (host.empty() || port.empty() || error != std::errc{} || end != port.data() + port.size() ||
        number < 1 || number > 65535) {
        throw UsageError{"--osc: expected HOST:PORT with a port from 1 to 65535, got '" +
                         std::string(text) + "'"};
    }
    options.oscHost = host;
    options.oscPort = port;
}

// The arguments after the command's name; the mistakes it throws do not name the command.
void parseArguments(int argc, const char* const* argv, Options& options) {
    const Command command = *options.command;
    auto allowed = [&](std::string_view option, bool ok) {
        if (!ok) {
            throw UsageError{std::string(option) + " does not apply here (see chirolink " +
                             commandName(command) + " --help)"};
        }
    };
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> std::string_view {
            if (i + 1 >= argc) {
                throw UsageError{std::string(arg) + ": missing value"};
            }
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            return;
        } else if (arg == "-o" || arg == "--output") {
            allowed(arg, command == Command::record || command == Command::calibrate);
            options.output = value();
            if (options.output.empty()) {
                throw UsageError{"-o: empty file name"};
            }
        } else if (arg == "--quiet") {
            allowed(arg, command == Command::scan);
            options.quiet = true;
        } else if (arg == "--force") {
            allowed(arg, command == Command::record || command == Command::calibrate);
            options.force = true;
        } else if (arg == "--duration") {
            allowed(arg, command == Command::show || command == Command::record ||
                             command == Command::stream);
            options.duration = parseDuration(value());
        } else if (arg == "--osc") {
            allowed(arg, command == Command::stream);
            parseOsc(value(), options);
        } else if (arg == "--osc-format") {
            allowed(arg, command == Command::stream);
            const std::string_view format = value();
            if (format == "frame" || format == "float") {
                options.oscFormat = format == "frame" ? OscFormat::frame : OscFormat::float32;
            } else {
                throw UsageError{"--osc-format: expected frame or float, got '" +
                                 std::string(format) + "'"};
            }
        } else if (takeCalibrationOption(arg, value, options)) {
        } else if (arg.size() > 1 && arg.front() == '-') {
            throw UsageError{"unknown option '" + std::string(arg) + "'"};
        } else {
            options.ports.emplace_back(arg);
        }
    }
    checkCalibrationOptions(options);
    if (command == Command::ports && !options.ports.empty()) {
        throw UsageError{"takes no port"};
    }
    if (options.ports.empty() && options.from.empty() && command != Command::ports &&
        command != Command::scan) {
        throw UsageError{"no port given"};
    }
    for (std::size_t i = 1; i < options.ports.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (options.ports[i] == options.ports[j]) {
                throw UsageError{"port '" + options.ports[i] + "' given twice"};
            }
        }
    }
    if (command == Command::info && options.ports.size() != 1) {
        throw UsageError{"takes exactly one port"};
    }
    if (command == Command::record && options.output.empty()) {
        throw UsageError{"-o FILE.csv is required"};
    }
    if (command == Command::stream && options.oscHost.empty()) {
        throw UsageError{"--osc HOST:PORT is required"};
    }
}

}  // namespace

const char* commandName(Command command) {
    switch (command) {
        case Command::show:
            return "show";
        case Command::record:
            return "record";
        case Command::stream:
            return "stream";
        case Command::info:
            return "info";
        case Command::calibrate:
            return "calibrate";
        case Command::ports:
            return "ports";
        case Command::scan:
            return "scan";
    }
    return "?";
}

const char* usageText(std::optional<Command> command) {
    if (!command) {
        return kProgramUsage;
    }
    switch (*command) {
        case Command::show:
            return kShowUsage;
        case Command::record:
            return kRecordUsage;
        case Command::stream:
            return kStreamUsage;
        case Command::info:
            return kInfoUsage;
        case Command::calibrate:
            return kCalibrateUsage;
        case Command::ports:
            return kPortsUsage;
        case Command::scan:
            return kScanUsage;
    }
    return kProgramUsage;
}

Options parseOptions(int argc, const char* const* argv) {
    Options options;
    if (argc < 2) {
        throw UsageError{
            "no command given (show, record, stream, info, calibrate, ports or scan; see chirolink "
            "--help)"};
    }
    const std::string_view first = argv[1];
    if (first == "--help" || first == "-h" || first == "help") {
        options.help = true;
        return options;
    }
    if (first == "--version") {
        options.version = true;
        return options;
    }
    for (const auto command : {Command::show, Command::record, Command::stream, Command::info,
                               Command::calibrate, Command::ports, Command::scan}) {
        if (first == commandName(command)) {
            options.command = command;
        }
    }
    if (!options.command) {
        throw UsageError{"unknown command '" + std::string(first) +
                         "' (show, record, stream, info, calibrate, ports or scan; see chirolink "
                         "--help)"};
    }
    try {
        parseArguments(argc, argv, options);
    } catch (const UsageError& e) {
        // Every mistake past the command's name is about that command.
        throw UsageError{std::string(commandName(*options.command)) + ": " + e.what};
    }
    return options;
}

}  // namespace chirolink::cli
