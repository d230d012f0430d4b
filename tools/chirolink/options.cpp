#include "options.h"

#include <charconv>
#include <cmath>
#include <string_view>

namespace chirolink::cli {

namespace {

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
