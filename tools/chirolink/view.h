// What `show` draws for one glove: on a terminal a panel of lines with bars, else one line.
#pragma once

#include <optional>
#include <string>

#include "glove_link.h"

namespace chirolink::cli {

struct GloveView {
    std::string port;
    StampedFrame latest;  // sequence 0: no frame yet
    LinkCounters counters;
    double framesPerSecond = 0;
    double secondsSinceFrame = 0;  // ignored without a frame
};

// The panel: a title line, then one line per value with its bar. Every line ends with
// "erase to the end of the line" and a line feed, so it can be drawn over an older panel.
std::string panel(const GloveView& view);
inline constexpr int kPanelLines = 8;

// One plain line without escapes.
std::string plainLine(const GloveView& view);

}  // namespace chirolink::cli
