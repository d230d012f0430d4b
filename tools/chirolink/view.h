// What `show` draws: on a terminal a panel of lines with bars per glove, fitted to the
// terminal's size; elsewhere (and on a console that takes no escapes) one plain line per glove.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "chirolink_calibration.h"
#include "console.h"
#include "glove_link.h"

namespace chirolink::cli {

struct GloveView {
    std::string port;
    StampedFrame latest;  // sequence 0: no frame yet
    LinkCounters counters;
    double framesPerSecond = 0;
    double secondsSinceFrame = 0;                      // ignored without a frame
    std::optional<chirolink_calibration> calibration;  // the bars show 0..1 as it makes them
};

// A title line, then one line per value with its bar.
inline constexpr int kPanelLines = 8;

// The lines of the live view on a terminal of `size`, without escapes: the panels of the
// gloves while they fit, then a line saying how many gloves are hidden. No line is wider than
// the terminal less one column and there are no more lines than rows, so that nothing wraps
// and the screen never scrolls; titles and bars get shorter on a narrow terminal.
std::vector<std::string> screenLines(const std::vector<GloveView>& views, TerminalSize size);

// Draws the live view in place, over what it drew before.
class LiveScreen {
public:
    // The bytes that draw `lines`. `fresh`: on a cleared screen from its top (after the
    // terminal changed size, when whatever was drawn before may have moved).
    std::string draw(const std::vector<std::string>& lines, bool fresh);
    // The bytes that leave the cursor on the line below the view.
    std::string end() const;

private:
    std::size_t drawn_ = 0;  // lines drawn last; the cursor is on the last of them
};

// One plain line without escapes, without its line feed.
std::string plainLine(const GloveView& view);

// `line` cut to at most `columns` characters.
std::string fitted(const std::string& line, int columns);

}  // namespace chirolink::cli
