// The Windows program's plot window: a plain top-level window that feeds the shared plot model
// (../plot_model.h) from the glove's frame queue at every redraw (up to 30 a second, never
// waiting) and paints the scene it lays out with GDI, through an off-screen bitmap.
// Space pauses and resumes the drawing; frames keep arriving. Closing it only hides it.
#pragma once

#include <windows.h>

#include <array>
#include <vector>

#include "chirolink_glove.h"
#include "plot_model.h"

namespace scope {

class PlotWindow {
public:
    static constexpr int kWidth = 720;  // client area, pixels
    static constexpr int kHeight = 400;

    // Shows the frames of `glove`, which must outlive the window.
    explicit PlotWindow(chirolink_glove* glove);
    ~PlotWindow();
    PlotWindow(const PlotWindow&) = delete;
    PlotWindow& operator=(const PlotWindow&) = delete;

    // Creates the window on the first call; shows it and brings it to the front.
    void show();
    HWND window() const { return window_; }

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void paint(HDC target, const RECT& client);

    chirolink_glove* glove_;
    chiroscope::plot::Model model_;
    chiroscope::plot::Scene scene_;
    HWND window_ = nullptr;
    HPEN gridPen_;
    std::array<HPEN, chiroscope::plot::kTraceCount> tracePens_{};
    std::array<HBRUSH, chiroscope::plot::kTraceCount> swatchBrushes_{};
    std::vector<POINT> points_;  // reused for every trace
};

}  // namespace scope
