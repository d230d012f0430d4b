#include "plot_model.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace chiroscope::plot {

namespace {

// Frames older than the newest by this much are never shown again: the window, and one frame
// before it for the line that enters at the left edge.
constexpr double kKeepS = kWindowS + 1.0;

bool earlier(const Frame& frame, double time) {
    return frame.time < time;
}

// Collects one trace's points, one pixel column at a time. Of the frames that fall into one
// column it keeps the first, the lowest and the highest (in the order they came) and the last:
// the line drawn through them covers every frame's value, with at most four points a column.
class TraceBuilder {
public:
    explicit TraceBuilder(std::vector<std::vector<Point>>& lines) : lines_(lines) {}
    ~TraceBuilder() {
        flush();
        lines_.resize(used_);
    }
    TraceBuilder(const TraceBuilder&) = delete;
    TraceBuilder& operator=(const TraceBuilder&) = delete;

    void startLine() {
        flush();
        if (used_ < lines_.size()) {
            lines_[used_].clear();
        } else {
            lines_.emplace_back();
        }
        ++used_;
    }

    void add(int x, int y) {
        if (count_ > 0 && x == x_) {
            if (y < low_) {
                low_ = y;
                lowAt_ = count_;
            }
            if (y > high_) {
                high_ = y;
                highAt_ = count_;
            }
            last_ = y;
            ++count_;
            return;
        }
        flush();
        x_ = x;
        first_ = low_ = high_ = last_ = y;
        lowAt_ = highAt_ = 0;
        count_ = 1;
    }

private:
    void flush() {
        if (count_ == 0) {
            return;
        }
        emit(first_);
        emit(lowAt_ < highAt_ ? low_ : high_);
        emit(lowAt_ < highAt_ ? high_ : low_);
        emit(last_);
        count_ = 0;
    }
    void emit(int y) {
        std::vector<Point>& line = lines_[used_ - 1];
        const Point point{x_, y};
        if (line.empty() || line.back() != point) {
            line.push_back(point);
        }
    }

    std::vector<std::vector<Point>>& lines_;
    std::size_t used_ = 0;
    int x_ = 0;
    int first_ = 0, low_ = 0, high_ = 0, last_ = 0;
    int lowAt_ = 0, highAt_ = 0, count_ = 0;
};

}  // namespace

void Model::add(const Frame& frame) {
    ++frameCount_;
    live_.frames.push_back(frame);
    while (live_.frames.front().time < frame.time - kKeepS) {
        live_.frames.pop_front();
    }
}

void Model::setLink(bool running, double lastFrameAgeS) {
    live_.running = running;
    if (live_.frames.empty()) {
        return;
    }
    const double now = live_.frames.back().time + std::max(lastFrameAgeS, 0.0);
    // The age belongs to the link's newest frame, which may be a frame newer than ours: never
    // let the plot's time run backwards for that.
    live_.now = live_.hasNow ? std::max(live_.now, now) : now;
    live_.hasNow = true;
}

void Model::setPaused(bool paused) {
    if (paused && !paused_) {
        frozen_ = live_;
    }
    paused_ = paused;
    if (!paused) {
        frozen_ = View{};
    }
}

bool Model::receiving(const View& view) const {
    return view.running && view.hasNow && !view.frames.empty() &&
           view.now - view.frames.back().time <= kNoFramesAfterS;
}

int Model::framesInLastSecond(const View& view) const {
    if (!view.hasNow) {
        return 0;
    }
    const auto from = std::upper_bound(view.frames.begin(), view.frames.end(), view.now - 1.0,
                                       [](double time, const Frame& f) { return time < f.time; });
    return static_cast<int>(view.frames.end() - from);
}

void Model::layout(int width, int height, const TextMetrics& metrics, Scene& scene) const {
    const View& view = shown();
    const int line = std::max(metrics.lineHeight, 1);
    const int pad = std::max(4, line / 2);
    const int valueWidth = metrics.width("255");
    int nameWidth = 0;
    for (const Trace& trace : kTraces) {
        nameWidth = std::max(nameWidth, metrics.width(trace.name));
    }
    const int swatch = std::max(line * 2 / 3, 1);
    const int legendWidth =
        std::max(swatch + pad / 2 + nameWidth + pad + valueWidth, metrics.width("999 frames/s"));

    Rect& plot = scene.plot;
    plot.left = pad + valueWidth + pad / 2;
    plot.top = pad + line / 2;
    plot.right = std::max(plot.left + 2, width - pad - legendWidth - pad);
    plot.bottom = std::max(plot.top + 2, height - pad - 2 * line - pad / 2);

    const double start = view.now - kWindowS;
    const double xScale = (plot.width() - 1) / kWindowS;
    const double yScale = (plot.height() - 1) / static_cast<double>(kMaxValue);
    auto xOf = [&](double time) {
        return plot.left + static_cast<int>(std::floor((time - start) * xScale + 0.5));
    };
    auto yOf = [&](int value) {
        return plot.top + static_cast<int>(std::lround((kMaxValue - value) * yScale));
    };
    // Every frame's seven values go through this: one lookup each instead of arithmetic.
    std::array<int, kMaxValue + 1> yOfValue{};
    for (int value = 0; value <= kMaxValue; ++value) {
        yOfValue[static_cast<std::size_t>(value)] = yOf(value);
    }

    scene.gridY.clear();
    for (int value : kGridValues) {
        scene.gridY.push_back(yOf(value));
    }
    scene.axisLabels.clear();
    for (int value : {0, 64, 128, 192, kMaxValue}) {
        const int y = yOf(value) - line / 2;
        scene.axisLabels.push_back(
            {{pad, y, plot.left - pad / 2, y + line}, std::to_string(value), Label::Align::Right});
    }
    scene.tickX.clear();
    const int tickWidth = metrics.width("-10") + pad;
    for (int seconds = -static_cast<int>(kWindowS); seconds <= 0; seconds += kTimeTickS) {
        const int x = plot.left + static_cast<int>(std::lround((seconds + kWindowS) * xScale));
        if (seconds != -static_cast<int>(kWindowS) && seconds != 0) {
            scene.tickX.push_back(x);
        }
        const int top = plot.bottom + pad / 2;
        scene.axisLabels.push_back(
            {{x - tickWidth / 2, top, x - tickWidth / 2 + tickWidth, top + line},
             std::to_string(seconds),
             Label::Align::Centre});
    }
    const int captionTop = plot.bottom + pad / 2 + line;
    scene.axisLabels.push_back(
        {{plot.left, captionTop, plot.right, captionTop + line}, "seconds", Label::Align::Centre});

    // The traces: every frame from just before the window's start to now.
    std::array<std::optional<TraceBuilder>, kTraceCount> builders;
    for (std::size_t i = 0; i < kTraceCount; ++i) {
        builders[i].emplace(scene.traces[i]);
    }
    if (view.hasNow) {
        auto from = std::lower_bound(view.frames.begin(), view.frames.end(), start, earlier);
        if (from != view.frames.begin()) {
            --from;
        }
        const Frame* previous = nullptr;
        for (auto it = from; it != view.frames.end() && it->time <= view.now; ++it) {
            const bool joined = previous != nullptr && it->time - previous->time <= kGapS;
            const int x = xOf(it->time);
            for (std::size_t i = 0; i < kTraceCount; ++i) {
                if (!joined) {
                    builders[i]->startLine();
                }
                builders[i]->add(x, yOfValue[it->values[i]]);
            }
            previous = &*it;
        }
    }
    for (auto& builder : builders) {
        builder.reset();  // the last column, and the unused lines dropped
    }

    const int legendLeft = plot.right + pad;
    const int legendRight = legendLeft + legendWidth;
    const Frame* newest = nullptr;
    if (view.hasNow && !view.frames.empty()) {
        newest = &view.frames.back();
    }
    int rowTop = plot.top;
    for (std::size_t i = 0; i < kTraceCount; ++i) {
        LegendEntry& entry = scene.legend[i];
        const int swatchTop = rowTop + (line - swatch) / 2;
        entry.swatch = {legendLeft, swatchTop, legendLeft + swatch, swatchTop + swatch};
        const int nameLeft = legendLeft + swatch + pad / 2;
        entry.name = {{nameLeft, rowTop, nameLeft + nameWidth, rowTop + line},
                      kTraces[i].name,
                      Label::Align::Left};
        entry.value = {{legendRight - valueWidth, rowTop, legendRight, rowTop + line},
                       newest != nullptr ? std::to_string(newest->values[i]) : std::string(),
                       Label::Align::Right};
        rowTop += line + line / 4;
    }
    rowTop += line / 2;
    scene.rate = {{legendLeft, rowTop, legendRight, rowTop + line},
                  std::to_string(framesInLastSecond(view)) + " frames/s",
                  Label::Align::Left};

    scene.note = paused_ ? "paused" : receiving(view) ? "" : "no frames";
    const int noteWidth = metrics.width(scene.note) + 2 * pad;
    const int noteHeight = line + pad;
    const int noteLeft = plot.left + (plot.width() - noteWidth) / 2;
    const int noteTop = plot.top + (plot.height() - noteHeight) / 2;
    scene.noteBox = {noteLeft, noteTop, noteLeft + noteWidth, noteTop + noteHeight};
}

}  // namespace chiroscope::plot
