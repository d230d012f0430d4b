// The plot window's model, shared by the Qt and the Win32 program: the frame history, the
// time window, the scaling to pixels, the colours and the layout of axes, legend and notes.
// It uses nothing but the standard library; a window hands it frames, the link's state and a
// way to measure text, and paints the Scene it lays out (lines, rectangles and texts in
// pixels) as given.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "plot_traces.h"

namespace chiroscope::plot {

// What the plot shows, and how often.
inline constexpr double kWindowS = 10.0;         // the last 10 s of frames
inline constexpr double kGapS = 0.05;            // frames further apart are not joined by a line
inline constexpr double kNoFramesAfterS = 0.25;  // "no frames" once the newest is older
inline constexpr int kRedrawPeriodMs = 50;       // 20 redraws a second
inline constexpr std::array<int, 3> kGridValues = {64, 128, 192};
inline constexpr int kMaxValue = 255;
inline constexpr int kTimeTickS = 2;  // a labelled tick every 2 s

// One frame as the plot needs it: when it arrived (seconds on the link's monotonic clock) and
// its seven values.
struct Frame {
    double time = 0;
    std::array<std::uint8_t, kTraceCount> values{};
};

struct Point {
    int x = 0;
    int y = 0;
    bool operator==(const Point&) const = default;
};

// Pixels; right and bottom are outside the rectangle.
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool contains(Point p) const {
        return p.x >= left && p.x < right && p.y >= top && p.y < bottom;
    }
};

// A line of text in a box: aligned horizontally as given, centred vertically.
struct Label {
    enum class Align { Left, Centre, Right };
    Rect box;
    std::string text;
    Align align = Align::Left;
};

struct LegendEntry {
    Rect swatch;  // filled with the trace's colour
    Label name;
    Label value;  // the trace's newest value, empty before the first frame
};

// Everything a window paints, in its order: background, plot frame, grid, traces (clipped to
// the plot area), axis labels, legend, rate, note.
struct Scene {
    Rect plot;                      // framed; the traces stay inside
    std::vector<int> gridY;         // horizontal grid lines at kGridValues
    std::vector<int> tickX;         // vertical grid lines at the labelled seconds
    std::vector<Label> axisLabels;  // values on the left, seconds below, the time axis's title
    // Each trace as polylines, one per stretch of frames without a gap.
    std::array<std::vector<std::vector<Point>>, kTraceCount> traces;
    std::array<LegendEntry, kTraceCount> legend;
    Label rate;        // frames per second over the last second
    std::string note;  // "no frames", "paused", or empty
    Rect noteBox;      // where the note goes, centred in the plot area
};

// How the window's font measures: a line's height and a text's width, in pixels.
struct TextMetrics {
    int lineHeight = 0;
    std::function<int(std::string_view)> width;
};

class Model {
public:
    // Frames in the order the link received them.
    void add(const Frame& frame);
    // The link's state at a redraw: whether it runs (not reopening a vanished port) and the
    // age of its newest frame in seconds (negative before the first). The plot's "now" is the
    // newest frame's time plus that age: the link's own clock, whatever the window's is.
    void setLink(bool running, double lastFrameAgeS);

    // Paused, the picture stays as it was while frames keep arriving.
    void setPaused(bool paused);
    bool paused() const { return paused_; }

    // Every frame given to add() so far.
    std::uint64_t frameCount() const { return frameCount_; }

    // Lays out a window of `width` x `height` pixels into `scene` (its storage is reused).
    void layout(int width, int height, const TextMetrics& metrics, Scene& scene) const;

private:
    struct View {
        std::deque<Frame> frames;
        double now = 0;
        bool running = false;
        bool hasNow = false;
    };
    const View& shown() const { return paused_ ? frozen_ : live_; }
    bool receiving(const View& view) const;
    int framesInLastSecond(const View& view) const;

    View live_;
    View frozen_;
    bool paused_ = false;
    std::uint64_t frameCount_ = 0;
};

}  // namespace chiroscope::plot
