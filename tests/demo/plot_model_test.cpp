// The plot's model with scripted frames: which frames the time window holds, where gaps break
// the traces, how values and times become pixels, and what the legend and notes say.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "plot_model.h"

namespace chiroscope::plot {
namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 360;
constexpr double kPeriod = 0.005;  // a frame every 5 ms, about the line's rate

// A font of 7-pixel characters on 14-pixel lines.
const TextMetrics kMetrics{14,
                           [](std::string_view text) { return 7 * static_cast<int>(text.size()); }};

Frame frameAt(double time, std::uint8_t value) {
    Frame frame{time, {}};
    frame.values.fill(value);
    return frame;
}

// Frames every kPeriod from `from` to `to` (inclusive), all seven values `value`.
void addFrames(Model& model, double from, double to, std::uint8_t value) {
    for (int i = 0; from + i * kPeriod <= to + 1e-9; ++i) {
        model.add(frameAt(from + i * kPeriod, value));
    }
}

Scene layout(const Model& model) {
    Scene scene;
    model.layout(kWidth, kHeight, kMetrics, scene);
    return scene;
}

std::vector<Point> allPoints(const Scene& scene, std::size_t trace) {
    std::vector<Point> points;
    for (const auto& line : scene.traces[trace]) {
        points.insert(points.end(), line.begin(), line.end());
    }
    return points;
}

TEST(PlotModel, ShowsTheLastTenSecondsAcrossThePlotWidth) {
    Model model;
    // 20 s of frames; the first ten at value 10, the last ten (from t = 110) at value 200.
    addFrames(model, 100.0, 109.995, 10);
    addFrames(model, 110.0, 120.0, 200);
    model.setLink(true, 0.0);
    const Scene scene = layout(model);
    const Rect& plot = scene.plot;
    ASSERT_EQ(scene.traces[0].size(), 1u);
    const auto points = allPoints(scene, 0);
    // Now (t = 120) is the right edge, t = 110 the left edge.
    EXPECT_EQ(points.back().x, plot.right - 1);
    // The line enters at the left edge from the one older frame just before the window (value
    // 10); the frames before that are gone.
    const int y10 =
        plot.bottom - 1 - static_cast<int>(std::lround(10 * (plot.height() - 1) / 255.0));
    EXPECT_EQ(points.front(), (Point{plot.left, y10}));
    EXPECT_EQ(std::count_if(points.begin(), points.end(), [&](Point p) { return p.y == y10; }), 1);
    EXPECT_TRUE(
        std::all_of(points.begin(), points.end(), [&](Point p) { return p.x >= plot.left; }));
}

TEST(PlotModel, ScalesValuesToTheFullHeightWithGridLinesAtQuarterValues) {
    Model model;
    model.add(frameAt(1.0, 0));
    Frame top = frameAt(1.005, 255);
    model.add(top);
    model.setLink(true, 0.0);
    const Scene scene = layout(model);
    const Rect& plot = scene.plot;
    const auto points = allPoints(scene, 3);
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[0].y, plot.bottom - 1);
    EXPECT_EQ(points[1].y, plot.top);
    ASSERT_EQ(scene.gridY.size(), 3u);
    for (std::size_t i = 0; i < kGridValues.size(); ++i) {
        EXPECT_EQ(scene.gridY[i],
                  plot.top + std::lround((255 - kGridValues[i]) * (plot.height() - 1) / 255.0));
    }
    // The value axis is labelled at 0, the grid lines and 255, beside them.
    std::set<std::string> labels;
    for (const Label& label : scene.axisLabels) {
        if (label.box.right <= plot.left) {
            labels.insert(label.text);
        }
    }
    EXPECT_EQ(labels, (std::set<std::string>{"0", "64", "128", "192", "255"}));
}

TEST(PlotModel, LeavesGapsOpenAndJoinsFramesCloseTogether) {
    Model model;
    addFrames(model, 50.0, 52.0, 100);
    // 40 ms without a frame is joined; 300 ms is a gap.
    addFrames(model, 52.040, 54.0, 120);
    addFrames(model, 54.300, 56.0, 140);
    model.setLink(true, 0.0);
    const Scene scene = layout(model);
    for (std::size_t trace = 0; trace < kTraceCount; ++trace) {
        ASSERT_EQ(scene.traces[trace].size(), 2u) << kTraces[trace].name;
    }
    const auto& lines = scene.traces[6];
    const double xScale = (scene.plot.width() - 1) / kWindowS;
    EXPECT_EQ(lines[0].back().x, scene.plot.left + std::lround((54.0 - 46.0) * xScale));
    EXPECT_EQ(lines[1].front().x, scene.plot.left + std::lround((54.3 - 46.0) * xScale));
}

TEST(PlotModel, EveryFrameShowsEvenWhereManyShareAPixelColumn) {
    Model model;
    addFrames(model, 0.0, 10.0, 128);
    // One frame of 250 and one of 3 among 128s, 5 ms apart: the same pixel column as their
    // neighbours.
    model.add(frameAt(10.005, 250));
    model.add(frameAt(10.010, 3));
    addFrames(model, 10.015, 10.5, 128);
    model.setLink(true, 0.0);
    const Scene scene = layout(model);
    const auto points = allPoints(scene, 0);
    const auto [low, high] = std::minmax_element(points.begin(), points.end(),
                                                 [](Point a, Point b) { return a.y < b.y; });
    const Rect& plot = scene.plot;
    EXPECT_EQ(low->y, plot.top + std::lround((255 - 250) * (plot.height() - 1) / 255.0));
    EXPECT_EQ(high->y, plot.top + std::lround((255 - 3) * (plot.height() - 1) / 255.0));
    // Far fewer points than frames: one column holds about four frames here.
    EXPECT_LT(points.size(), 2100u / 2);
}

TEST(PlotModel, SaysNoFramesWhenTheGloveIsGoneOrTheLinkReopens) {
    Model model;
    EXPECT_EQ(layout(model).note, "no frames");  // before the first frame
    addFrames(model, 5.0, 7.0, 90);
    model.setLink(true, 0.01);
    EXPECT_EQ(layout(model).note, "");
    model.setLink(true, 0.5);
    Scene scene = layout(model);
    EXPECT_EQ(scene.note, "no frames");
    // Time goes on without frames: the trace ends where the frames did, half a second ago.
    const double xScale = (scene.plot.width() - 1) / kWindowS;
    EXPECT_EQ(allPoints(scene, 0).back().x, scene.plot.right - 1 - std::lround(0.5 * xScale));
    model.setLink(false, 0.02);
    EXPECT_EQ(layout(model).note, "no frames");
    EXPECT_TRUE(layout(model).noteBox.width() > 0);
}

TEST(PlotModel, PausedThePictureStaysWhileFramesKeepCounting) {
    Model model;
    addFrames(model, 0.0, 3.0, 60);
    model.setLink(true, 0.0);
    const Scene before = layout(model);
    model.setPaused(true);
    addFrames(model, 3.005, 6.0, 220);
    model.setLink(true, 0.0);
    const Scene paused = layout(model);
    EXPECT_EQ(paused.traces, before.traces);
    EXPECT_EQ(paused.legend[0].value.text, "60");
    EXPECT_EQ(paused.note, "paused");
    EXPECT_EQ(model.frameCount(), 601u + 600u);
    model.setPaused(false);
    const Scene resumed = layout(model);
    EXPECT_EQ(resumed.legend[0].value.text, "220");
    EXPECT_EQ(resumed.note, "");
}

TEST(PlotModel, LegendShowsNamesNewestValuesAndTheRateOfTheLastSecond) {
    Model model;
    // 200 frames a second, the newest with values 1 to 7; now is 2 ms after it.
    for (int i = 0; i < 799; ++i) {
        model.add(frameAt(0.00125 + i * kPeriod, 0));
    }
    model.add(Frame{0.00125 + 799 * kPeriod, {1, 2, 3, 4, 5, 6, 7}});
    model.setLink(true, 0.002);
    const Scene scene = layout(model);
    for (std::size_t i = 0; i < kTraceCount; ++i) {
        EXPECT_EQ(scene.legend[i].name.text, kTraces[i].name);
        EXPECT_EQ(scene.legend[i].value.text, std::to_string(i + 1));
    }
    EXPECT_EQ(scene.rate.text, "200 frames/s");
}

TEST(PlotModel, EverythingFitsTheWindowWithoutCoveringThePlot) {
    Model model;
    addFrames(model, 0.0, 1.0, 128);
    model.setLink(true, 0.0);
    for (const auto& [width, height] : {std::pair{640, 360}, std::pair{400, 260}}) {
        Scene scene;
        model.layout(width, height, kMetrics, scene);
        const Rect window{0, 0, width, height};
        std::vector<Rect> boxes;
        for (const Label& label : scene.axisLabels) {
            boxes.push_back(label.box);
        }
        for (const LegendEntry& entry : scene.legend) {
            boxes.insert(boxes.end(), {entry.swatch, entry.name.box, entry.value.box});
        }
        boxes.push_back(scene.rate.box);
        for (const Rect& box : boxes) {
            EXPECT_TRUE(window.contains({box.left, box.top}) &&
                        window.contains({box.right - 1, box.bottom - 1}))
                << width << "x" << height << ": box at " << box.left << "," << box.top;
            const bool overlaps = box.left < scene.plot.right && scene.plot.left < box.right &&
                                  box.top < scene.plot.bottom && scene.plot.top < box.bottom;
            EXPECT_FALSE(overlaps) << "box at " << box.left << "," << box.top;
        }
    }
}

// Seven colours that are told apart at a glance: far from each other and from the white
// background.
TEST(PlotTraces, ColoursAreClearlyDistinct) {
    auto distance = [](std::uint32_t a, std::uint32_t b) {
        double sum = 0;
        for (int shift : {16, 8, 0}) {
            const double d =
                static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
            sum += d * d;
        }
        return std::sqrt(sum);
    };
    for (std::size_t i = 0; i < kTraceCount; ++i) {
        EXPECT_GT(distance(kTraces[i].rgb, 0xFFFFFF), 120) << kTraces[i].name;
        for (std::size_t j = i + 1; j < kTraceCount; ++j) {
            EXPECT_GT(distance(kTraces[i].rgb, kTraces[j].rgb), 90)
                << kTraces[i].name << " and " << kTraces[j].name;
        }
    }
}

}  // namespace
}  // namespace chiroscope::plot
