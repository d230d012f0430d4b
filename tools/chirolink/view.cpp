#include "view.h"

#include <cstdio>

namespace chirolink::cli {

namespace {

constexpr const char* kNames[] = {"finger 1", "finger 2", "finger 3", "finger 4",
                                  "finger 5", "roll",     "pitch"};
constexpr int kBarWidth = 48;

std::string status(const GloveView& view) {
    char text[160];
    const auto& c = view.counters;
    std::snprintf(text, sizeof text,
                  "%6.1f frames/s  checksum errors %llu  lost replies %llu  last frame ",
                  view.framesPerSecond, static_cast<unsigned long long>(c.badChecksums),
                  static_cast<unsigned long long>(c.lostReplies));
    std::string line = text;
    if (view.latest.sequence == 0) {
        return line + "none yet";
    }
    std::snprintf(text, sizeof text, "%.0f ms ago", view.secondsSinceFrame * 1000);
    return line + text;
}

}  // namespace

std::string panel(const GloveView& view) {
    std::string out = view.port + "  " + status(view) + "\x1b[K\n";
    for (std::size_t i = 0; i < protocol::kSensorCount; ++i) {
        const unsigned value = view.latest.bytes[i];
        const int filled = static_cast<int>((value * kBarWidth + 127) / 255);
        char line[40];
        std::snprintf(line, sizeof line, "  %-8s %3u ", kNames[i], value);
        out += line;
        out.append(static_cast<std::size_t>(filled), '#');
        out.append(static_cast<std::size_t>(kBarWidth - filled), '.');
        out += "\x1b[K\n";
    }
    return out;
}

std::string plainLine(const GloveView& view) {
    std::string line = view.port + "  ";
    if (view.latest.sequence != 0) {
        const auto& b = view.latest.bytes;
        char values[96];
        std::snprintf(values, sizeof values, "%u %u %u %u %u %u %u  checksum %s  ", b[0], b[1],
                      b[2], b[3], b[4], b[5], b[6], view.latest.checksumGood ? "ok" : "bad");
        line += values;
    }
    return line + status(view) + "\n";
}

}  // namespace chirolink::cli
