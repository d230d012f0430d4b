// The Qt plot window on emulated gloves: the readout's menu entry and Ctrl+P, every frame into
// the model and onto the screen, pause, and a vanished glove. Saving the picture (Ctrl+S and
// its file dialog) is tested end to end, in plot-e2e.sh.
#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

#include "chirolink_glove.h"
#include "glove_emulator.h"
#include "plot_window.h"
#include "readout_dialog.h"

namespace chiroscope {
namespace {

using chirolink::tools::GloveEmulator;

alignas(8) unsigned char gSample[8] = {};
unsigned char* sample() {
    return gSample;
}

// The pixels of `image` left of `right` (the plot area and its axis, not the legend).
bool showsColour(const QImage& image, std::uint32_t rgb, int right) {
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < right; ++x) {
            if ((image.pixel(x, y) & 0xFFFFFF) == rgb) {
                return true;
            }
        }
    }
    return false;
}

// A glove at line timing with moving values, opened through the glove API. It sits behind a
// link that stays when it is unplugged and plugged in again, as a USB adapter's name would.
class GloveOnLink {
public:
    GloveOnLink() : emulator(dir.filePath(QStringLiteral("glove")).toStdString()) {
        emulator.setAnimated();
        EXPECT_EQ(chirolink_open(emulator.path().c_str(), &glove), CHIROLINK_OK);
    }
    ~GloveOnLink() { chirolink_close(glove); }
    GloveOnLink(const GloveOnLink&) = delete;
    GloveOnLink& operator=(const GloveOnLink&) = delete;

    chirolink_status status() const {
        chirolink_status status{};
        chirolink_get_status(glove, &status);
        return status;
    }

    QTemporaryDir dir;
    GloveEmulator emulator;
    chirolink_glove* glove = nullptr;
};

TEST(ReadoutPlotEntry, CtrlPAndTheEntrysCommandsOpenOnePlotWindow) {
    ReadoutDialog dialog(&sample);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    QTest::keyClick(&dialog, Qt::Key_P, Qt::ControlModifier);
    PlotWindow* plot = dialog.plotWindow();
    ASSERT_NE(plot, nullptr);
    EXPECT_TRUE(QTest::qWaitForWindowExposed(plot));
    EXPECT_TRUE(plot->isWindow());
    EXPECT_EQ(plot->windowTitle(), "Chiroscope Plot");

    // Again, by any of the entry's commands, or after closing it: the same window, in front.
    plot->close();
    ASSERT_FALSE(plot->isVisible());
    for (unsigned command : {0x0020u, 0x002Fu}) {
        dialog.systemCommand(command);
        EXPECT_EQ(dialog.plotWindow(), plot);
        EXPECT_TRUE(plot->isVisible());
    }
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    QTest::keyClick(&dialog, Qt::Key_P, Qt::ControlModifier);
    EXPECT_TRUE(QTest::qWaitForWindowActive(plot));
    EXPECT_EQ(dialog.findChildren<PlotWindow*>().size(), 1);
}

// A plot window shown on a glove whose frames flow.
class PlotWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    GloveOnLink link;
    PlotWindow window{link.glove};
};

TEST_F(PlotWindowTest, EveryFrameReachesTheModelAndTheTracesAreDrawn) {
    QTest::qWait(1500);
    const QImage picture = window.grab().toImage();
    for (const plot::Trace& trace : plot::kTraces) {
        EXPECT_TRUE(showsColour(picture, trace.rgb, window.scene().plot.right)) << trace.name;
    }
    EXPECT_EQ(window.scene().note, "");
    const int rate = std::stoi(window.scene().rate.text);
    // The line carries at most 192 exchanges a second (100 bit times each at 19200 baud); a
    // loaded machine may see far fewer, but some.
    EXPECT_GT(rate, 0) << window.scene().rate.text;
    EXPECT_LE(rate, 192) << window.scene().rate.text;

    // The glove goes quiet; by then the model holds every frame the link received.
    link.emulator.setSilent(true);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const chirolink_status status = link.status();
            return status.frames > 0 && window.model().frameCount() == status.frames;
        },
        3000))
        << window.model().frameCount() << " in the model, " << link.status().frames << " received";
    EXPECT_EQ(link.status().missed, 0u);
}

// The widest break between two stretches of a trace, in seconds.
double widestGapS(const plot::Scene& scene) {
    const auto& lines = scene.traces[0];
    const double pixelsPerSecond = (scene.plot.width() - 1) / plot::kWindowS;
    double widest = 0;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        widest = std::max(widest, (lines[i].front().x - lines[i - 1].back().x) / pixelsPerSecond);
    }
    return widest;
}

TEST_F(PlotWindowTest, AGoneGloveLeavesAGapAndSaysNoFrames) {
    QTest::qWait(500);
    link.emulator.unplug();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            window.grab();
            return window.scene().note == "no frames";
        },
        2000));
    QTest::qWait(500);
    link.emulator.plug();
    // Frames again, and between the old and the new ones a break of about the time unplugged
    // (a loaded machine may add short breaks of its own).
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            window.grab();
            return window.scene().note.empty() && widestGapS(window.scene()) > 0.4;
        },
        5000))
        << window.scene().note << ", widest gap " << widestGapS(window.scene()) << " s";
}

}  // namespace
}  // namespace chiroscope
