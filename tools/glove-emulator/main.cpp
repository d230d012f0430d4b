// glove-emulator: a stand-in for the glove on a pseudo-terminal, for trying the driver and the
// demo without hardware. Prints the device path as its first line, logs what the host sends to
// stderr and runs until SIGINT or SIGTERM.
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "glove_emulator.h"
#include "recording.h"

namespace {

using chirolink::tools::GloveEmulator;

constexpr const char* kUsage =
    "usage: glove-emulator [--link PATH] [--instant] [--values A,B,C,D,E,F,G] [--silent]\n"
    "                      [--hello-answer BYTE] [--answer-hello-from N] [--noise BYTE,BYTE,...]\n"
    "                      [--bad-checksum-every N] [--drop-every N] [--stop-after N]\n"
    "                      [--unplug-after T [--replug-after T2]]\n"
    "                      [--replay FILE.csv [--glove NAME]] [--quiet] [--help]\n"
    "\n"
    "Emulates the glove on a pseudo-terminal. Prints the device path (PATH when --link is\n"
    "given) as the first line, then logs every byte received to stderr.\n"
    "\n"
    "  --link PATH              keep a symlink at PATH pointing at the current device\n"
    "  --instant                answer at once instead of at 19200 baud line speed\n"
    "  --values A,...,G         fixed sensor values (Finger1..5, Roll, Pitch), else animated\n"
    "  --silent                 answer nothing\n"
    "  --hello-answer BYTE      answer the hello with BYTE instead of 0x55\n"
    "  --answer-hello-from N    ignore hellos before the N-th\n"
    "  --noise BYTE,...         send these bytes before every frame header\n"
    "  --bad-checksum-every N   every N-th frame gets a wrong checksum\n"
    "  --drop-every N           every N-th request gets no answer\n"
    "  --stop-after N           answer nothing after N frames\n"
    "  --unplug-after T         unplug the device T seconds after start\n"
    "  --replug-after T2        plug it back T2 seconds after the unplug\n"
    "  --replay FILE.csv        serve a recording of `chirolink record`: from the first request\n"
    "                           on, each frame at its recorded time (the last one after the end)\n"
    "  --glove NAME             the glove of the recording to serve (default: the first one)\n"
    "  --quiet                  do not log received bytes\n"
    "Numbers are decimal or 0x hex; times are seconds.\n";

struct Options {
    std::string link;
    bool instant = false;
    std::optional<std::array<std::uint8_t, GloveEmulator::kSensorCount>> values;
    bool silent = false;
    std::optional<std::uint8_t> helloAnswer;
    int answerHelloFrom = 1;
    std::vector<std::uint8_t> noise;
    int badChecksumEvery = 0;
    int dropEvery = 0;
    int stopAfter = -1;
    std::optional<double> unplugAfter;
    std::optional<double> replugAfter;
    std::string replay;
    std::optional<std::string> glove;
    bool quiet = false;
    bool help = false;
};

struct UsageError {
    std::string message;
};

long parseInteger(std::string_view text, long min, long max, std::string_view option) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    const std::string digits(text);
    char* end = nullptr;
    errno = 0;
    const long value = digits.empty() || digits[0] == '-' || digits[0] == '+' || digits[0] == ' '
                           ? 0
                           : std::strtol(digits.c_str(), &end, base);
    if (end == nullptr || *end != '\0' || errno != 0 || value < min || value > max) {
        throw UsageError{std::string(option) + ": expected a number from " + std::to_string(min) +
                         " to " + std::to_string(max) + ", got '" + digits + "'"};
    }
    return value;
}

std::vector<std::uint8_t> parseByteList(std::string_view text, std::string_view option) {
    std::vector<std::uint8_t> bytes;
    for (;;) {
        const auto comma = text.find(',');
        bytes.push_back(
            static_cast<std::uint8_t>(parseInteger(text.substr(0, comma), 0, 255, option)));
        if (comma == std::string_view::npos) {
            return bytes;
        }
        text.remove_prefix(comma + 1);
    }
}

double parseSeconds(std::string_view text, std::string_view option) {
    const std::string copy(text);
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(copy.c_str(), &end);
    if (copy.empty() || *end != '\0' || errno != 0 || !(value >= 0.0) || value > 1e6) {
        throw UsageError{std::string(option) + ": expected seconds >= 0, got '" + copy + "'"};
    }
    return value;
}

Options parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        auto value = [&]() -> std::string_view {
            if (i + 1 >= argc) {
                throw UsageError{std::string(option) + ": missing value"};
            }
            return argv[++i];
        };
        constexpr long kMaxCount = 1000000000;
        if (option == "--link") {
            options.link = value();
            if (options.link.empty()) {
                throw UsageError{"--link: empty path"};
            }
        } else if (option == "--instant") {
            options.instant = true;
        } else if (option == "--values") {
            const auto list = parseByteList(value(), option);
            if (list.size() != GloveEmulator::kSensorCount) {
                throw UsageError{"--values: expected 7 values"};
            }
            options.values.emplace();
            std::copy(list.begin(), list.end(), options.values->begin());
        } else if (option == "--silent") {
            options.silent = true;
        } else if (option == "--hello-answer") {
            options.helloAnswer = static_cast<std::uint8_t>(parseInteger(value(), 0, 255, option));
        } else if (option == "--answer-hello-from") {
            options.answerHelloFrom = static_cast<int>(parseInteger(value(), 1, kMaxCount, option));
        } else if (option == "--noise") {
            options.noise = parseByteList(value(), option);
        } else if (option == "--bad-checksum-every") {
            options.badChecksumEvery =
                static_cast<int>(parseInteger(value(), 0, kMaxCount, option));
        } else if (option == "--drop-every") {
            options.dropEvery = static_cast<int>(parseInteger(value(), 0, kMaxCount, option));
        } else if (option == "--stop-after") {
            options.stopAfter = static_cast<int>(parseInteger(value(), 0, kMaxCount, option));
        } else if (option == "--unplug-after") {
            options.unplugAfter = parseSeconds(value(), option);
        } else if (option == "--replug-after") {
            options.replugAfter = parseSeconds(value(), option);
        } else if (option == "--replay") {
            options.replay = value();
            if (options.replay.empty()) {
                throw UsageError{"--replay: empty path"};
            }
        } else if (option == "--glove") {
            options.glove = value();
        } else if (option == "--quiet") {
            options.quiet = true;
        } else if (option == "--help" || option == "-h") {
            options.help = true;
        } else {
            throw UsageError{"unknown option '" + std::string(option) + "'"};
        }
    }
    if (options.replugAfter && !options.unplugAfter) {
        throw UsageError{"--replug-after needs --unplug-after"};
    }
    if (options.glove && options.replay.empty()) {
        throw UsageError{"--glove needs --replay"};
    }
    if (options.values && !options.replay.empty()) {
        throw UsageError{"--values and --replay exclude each other"};
    }
    return options;
}

// The frames to replay; throws RecordingError or std::system_error.
chirolink::tools::Recording loadRecording(const Options& options) {
    std::ifstream file(options.replay);
    if (!file) {
        throw std::system_error(errno, std::generic_category(), options.replay);
    }
    try {
        return chirolink::tools::readRecording(file, options.glove.value_or(""));
    } catch (const chirolink::tools::RecordingError& e) {
        throw chirolink::tools::RecordingError(options.replay + ": " + e.what());
    }
}

void configure(GloveEmulator& emulator, const Options& options) {
    emulator.setInstant(options.instant);
    if (options.values) {
        emulator.setFixedValues(*options.values);
    }
    emulator.setSilent(options.silent);
    if (options.helloAnswer) {
        emulator.setHelloAnswer(*options.helloAnswer);
    }
    emulator.answerHelloFrom(options.answerHelloFrom);
    emulator.setNoiseBeforeHeader(options.noise);
    emulator.corruptChecksumEvery(options.badChecksumEvery);
    emulator.dropReplyEvery(options.dropEvery);
    emulator.stopAfterFrames(options.stopAfter);
    if (!options.quiet) {
        const auto start = emulator.startedAt();
        emulator.setEventSink([start](GloveEmulator::Clock::time_point at, std::string_view what) {
            const double ms = std::chrono::duration<double, std::milli>(at - start).count();
            std::fprintf(stderr, "%9.3f ms  %.*s\n", ms, static_cast<int>(what.size()),
                         what.data());
        });
    }
    if (options.unplugAfter) {
        emulator.unplugAfter(*options.unplugAfter, options.replugAfter.value_or(-1.0));
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        options = parseOptions(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "glove-emulator: %s\n\n%s", e.message.c_str(), kUsage);
        return 2;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    // The recording first, while the stop signals still end the program at once: a long one
    // takes a while to load, one read from a pipe as long as its writer likes, and there is
    // nothing to clean up yet.
    std::optional<chirolink::tools::Recording> recording;
    try {
        if (!options.replay.empty()) {
            recording = loadRecording(options);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "glove-emulator: %s\n", e.what());
        return 1;
    }

    // Block the stop signals before the emulator thread starts so that it inherits the mask and
    // only sigwait below sees them; the destructor then removes the link on the way out.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    if (const int err = pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr); err != 0) {
        std::fprintf(stderr, "glove-emulator: pthread_sigmask failed (%d)\n", err);
        return 1;
    }

    try {
        GloveEmulator emulator(options.link);
        configure(emulator, options);
        if (recording) {
            if (!options.quiet) {
                std::fprintf(
                    stderr, "glove-emulator: replaying %zu frames of '%s' (%.3f s)\n",
                    recording->frames.size(), recording->glove.c_str(),
                    std::chrono::duration<double>(recording->frames.back().offset).count());
            }
            emulator.replay(std::move(recording->frames));
        }
        std::printf("%s\n", emulator.path().c_str());
        std::fflush(stdout);
        int signal = 0;
        while (sigwait(&stopSignals, &signal) != 0) {
        }
        if (!options.quiet) {
            std::fprintf(stderr, "glove-emulator: stopping on signal %d\n", signal);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "glove-emulator: %s\n", e.what());
        return 1;
    }
    return 0;
}
