// `calibrate`: each channel's range from a glove moved through it for some seconds, or from a
// recording, written as a calibration file.
#include <cstdio>
#include <filesystem>

#include "calibration_file.h"
#include "commands.h"
#include "range_capture.h"
#include "recording_reader.h"
#include "view.h"

namespace chirolink::cli {

namespace {

constexpr int kRangeBar = 32;  // columns for 0..255

// "  finger 1   41..190  ....########........"
std::string rangeLine(const RangeCapture& capture, int channel) {
    const int low = capture.lowest(channel), high = capture.highest(channel);
    char text[48];
    std::snprintf(text, sizeof text, "  %-8s %3d..%-3d  ", channelTitle(channel), low, high);
    std::string line = text;
    for (int column = 0; column < kRangeBar; ++column) {
        const int from = column * 256 / kRangeBar, to = (column + 1) * 256 / kRangeBar - 1;
        line += capture.frames() > 0 && to >= low && from <= high ? '#' : '.';
    }
    return line;
}

// One line for a log: "calibrate 3 s: finger 1 41..190, ..., pitch 31..222".
std::string plainRanges(const RangeCapture& capture, double seconds) {
    std::string line = "calibrate " + formatSeconds(seconds, 0) + " s:";
    for (int i = 0; i < kChannels; ++i) {
        line += std::string(i == 0 ? " " : ", ") + channelTitle(i) + " " +
                std::to_string(capture.lowest(i)) + ".." + std::to_string(capture.highest(i));
    }
    return line;
}

// Captures from the glove on the port for --seconds. False when it could not.
bool capture(const Options& options, Console& console, RangeCapture& ranges, std::uint64_t& bad) {
    const std::string& port = options.ports.front();
    GloveLink link;
    const auto queue = link.subscribe(4096);
    if (const auto result = link.start(port.c_str()); result != StartResult::started) {
        complain(port + ": " + describe(result));
        return false;
    }
    const bool terminal = Console::isTerminal(Stream::output) && console.enableEscapes();
    std::printf(
        "For %s s: open and close the hand fully a few times, and move the wrist through its "
        "whole range.\n",
        formatSeconds(options.seconds, 0).c_str());
    std::fflush(stdout);
    auto take = [&] {
        while (const auto frame = queue->next(std::chrono::milliseconds(0))) {
            if (frame->checksumGood) {
                ranges.add(frame->bytes.data());
            } else {
                ++bad;
            }
        }
    };
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(options.seconds));
    auto nextLine = start + std::chrono::seconds(1);
    LiveScreen screen;
    bool ended = false;
    while (!ended) {
        ended = !carryOn(console, std::chrono::milliseconds(50), deadline);
        take();
        const auto now = Clock::now();
        const double left = std::chrono::duration<double>(deadline - now).count();
        if (terminal) {
            std::vector<std::string> lines{"  " + formatSeconds(left > 0 ? left : 0, 0) +
                                           " s left, " + std::to_string(ranges.frames()) +
                                           " frames"};
            for (int i = 0; i < kChannels; ++i) {
                lines.push_back(rangeLine(ranges, i));
            }
            std::fputs(screen.draw(lines, false).c_str(), stdout);
            std::fflush(stdout);
        } else if (now >= nextLine || ended) {
            nextLine += std::chrono::seconds(1);
            std::puts(
                plainRanges(ranges, std::chrono::duration<double>(now - start).count()).c_str());
            std::fflush(stdout);
        }
    }
    link.stop();
    take();
    if (terminal) {
        std::fputs(screen.end().c_str(), stdout);
    }
    if (Clock::now() < deadline) {
        complain("calibrate: stopped before the end; nothing written");
        return false;
    }
    if (ranges.frames() == 0) {
        complain(port + ": no frame with a good checksum came; nothing written");
        return false;
    }
    return true;
}

}  // namespace

int calibrate(const Options& options, Console& console) {
    std::error_code error;
    if (!options.force && std::filesystem::exists(options.output, error)) {
        complain(options.output + ": file exists (--force overwrites it)");
        return 1;
    }
    RangeCapture ranges;
    std::uint64_t bad = 0;
    if (options.from.empty()) {
        if (!capture(options, console, ranges, bad)) {
            return 1;
        }
    } else {
        const auto recorded = readRecording(options.from, options.glove);
        if (!recorded.error.empty()) {
            complain(recorded.error);
            return 1;
        }
        for (const auto& values : recorded.good) {
            ranges.add(values.data());
        }
        bad = recorded.badChecksums;
    }
    const auto calibration = ranges.result(options.inverted, options.hand);
    if (const auto saved = calibration::save(options.output.c_str(), calibration);
        saved.result != CHIROLINK_OK) {
        complain(options.output + ": " + saved.error);
        return 1;
    }
    std::printf("%s: %llu frames", options.output.c_str(),
                static_cast<unsigned long long>(ranges.frames()));
    if (bad > 0) {
        std::printf(" (%llu with a bad checksum left out)", static_cast<unsigned long long>(bad));
    }
    std::printf(", the extreme 1 %% at each end left out\n");
    for (int i = 0; i < kChannels; ++i) {
        std::printf("  %-8s low %3u  high %3u%s\n", channelTitle(i), calibration.low[i],
                    calibration.high[i],
                    options.inverted[static_cast<std::size_t>(i)] ? "  (inverted)" : "");
    }
    std::fflush(stdout);
    for (const auto& line : RangeCapture::warnings(calibration)) {
        complain("warning: " + line);
    }
    return 0;
}

}  // namespace chirolink::cli
