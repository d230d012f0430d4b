#include "plot_window.h"

#include <algorithm>
#include <string_view>

#include "framework.h"
#include "plot_feed.h"
#include "resource.h"

namespace scope {

namespace plot = chiroscope::plot;

namespace {

constexpr char kClassName[] = "ChiroscopePlot";
constexpr UINT_PTR kRedrawTimer = 1;

COLORREF toColorRef(std::uint32_t rgb) {
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

RECT toRect(const plot::Rect& r) {
    return RECT{r.left, r.top, r.right, r.bottom};
}

void drawLabel(HDC dc, const plot::Label& label) {
    RECT box = toRect(label.box);
    const UINT align = label.align == plot::Label::Align::Left    ? DT_LEFT
                       : label.align == plot::Label::Align::Right ? DT_RIGHT
                                                                  : DT_CENTER;
    DrawTextA(dc, label.text.c_str(), static_cast<int>(label.text.size()), &box,
              align | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
}

void registerClass(HINSTANCE instance, WNDPROC procedure) {
    WNDCLASSEXA windowClass{};
    if (GetClassInfoExA(instance, kClassName, &windowClass)) {
        return;
    }
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    windowClass.hIcon = loadIcon(IDR_MAINFRAME);
    windowClass.lpszClassName = kClassName;
    RegisterClassExA(&windowClass);
}

// Shrinks and moves `window` as far as needed to lie wholly on the desktop's work area (a small
// screen, or the task bar, would cut it off otherwise).
void fitIntoWorkArea(HWND window) {
    RECT work;
    RECT frame;
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0) || !GetWindowRect(window, &frame)) {
        return;
    }
    const LONG width = std::min(frame.right - frame.left, work.right - work.left);
    const LONG height = std::min(frame.bottom - frame.top, work.bottom - work.top);
    const LONG left = std::max(work.left, std::min(frame.left, work.right - width));
    const LONG top = std::max(work.top, std::min(frame.top, work.bottom - height));
    SetWindowPos(window, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

PlotWindow::PlotWindow(chirolink_glove* glove)
    : glove_(glove), gridPen_(CreatePen(PS_SOLID, 1, RGB(0xD0, 0xD0, 0xD0))) {
    for (std::size_t i = 0; i < plot::kTraceCount; ++i) {
        tracePens_[i] = CreatePen(PS_SOLID, 1, toColorRef(plot::kTraces[i].rgb));
        swatchBrushes_[i] = CreateSolidBrush(toColorRef(plot::kTraces[i].rgb));
    }
}

PlotWindow::~PlotWindow() {
    if (window_ != nullptr) {
        DestroyWindow(window_);
    }
    DeleteObject(gridPen_);
    for (std::size_t i = 0; i < plot::kTraceCount; ++i) {
        DeleteObject(tracePens_[i]);
        DeleteObject(swatchBrushes_[i]);
    }
}

void PlotWindow::show() {
    if (window_ == nullptr) {
        HINSTANCE instance = Application::current().instance();
        registerClass(instance, procedure);
        const DWORD style = WS_OVERLAPPEDWINDOW;
        RECT frame{0, 0, kWidth, kHeight};
        AdjustWindowRect(&frame, style, FALSE);
        CreateWindowExA(0, kClassName, "Chiroscope Plot", style, CW_USEDEFAULT, CW_USEDEFAULT,
                        frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                        instance, this);
        if (window_ == nullptr) {
            return;
        }
        fitIntoWorkArea(window_);
        SetTimer(window_, kRedrawTimer, plot::kRedrawPeriodMs, nullptr);
    }
    ShowWindow(window_, IsIconic(window_) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(window_);
    BringWindowToTop(window_);
}

LRESULT CALLBACK PlotWindow::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<PlotWindow*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        self->window_ = window;
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<PlotWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    return self->handle(window, message, wParam, lParam);
}

LRESULT PlotWindow::handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_TIMER:
            if (wParam == kRedrawTimer) {
                // Drained also while hidden or paused: every frame reaches the model.
                plot::feed(glove_, model_);
                if (!model_.paused() && IsWindowVisible(window_)) {
                    InvalidateRect(window_, nullptr, FALSE);
                }
            }
            return 0;
        case WM_ERASEBKGND:
            return 1;  // painting covers everything
        case WM_PAINT: {
            PaintContext paintContext(window_);
            RECT client;
            GetClientRect(window_, &client);
            paint(paintContext.deviceContext(), client);
            return 0;
        }
        case WM_KEYDOWN:
            if (wParam == VK_SPACE) {
                model_.setPaused(!model_.paused());
                InvalidateRect(window_, nullptr, FALSE);
                return 0;
            }
            break;
        case WM_CLOSE:
            ShowWindow(window_, SW_HIDE);
            return 0;
        case WM_NCDESTROY:
            SetWindowLongPtrA(window, GWLP_USERDATA, 0);
            window_ = nullptr;
            break;
        default:
            break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void PlotWindow::paint(HDC target, const RECT& client) {
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    if (width <= 0 || height <= 0) {
        return;
    }
    // Drawn off screen, then copied in one go: no flicker.
    HDC dc = CreateCompatibleDC(target);
    HBITMAP bitmap = CreateCompatibleBitmap(target, width, height);
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    HGDIOBJ oldPen = SelectObject(dc, gridPen_);
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));

    TEXTMETRICA font{};
    GetTextMetricsA(dc, &font);
    const plot::TextMetrics metrics{font.tmHeight, [dc](std::string_view text) {
                                        SIZE size{};
                                        GetTextExtentPoint32A(dc, text.data(),
                                                              static_cast<int>(text.size()), &size);
                                        return static_cast<int>(size.cx);
                                    }};
    model_.layout(width, height, metrics, scene_);
    const RECT all{0, 0, width, height};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    const plot::Rect& area = scene_.plot;

    for (int y : scene_.gridY) {
        MoveToEx(dc, area.left, y, nullptr);
        LineTo(dc, area.right, y);
    }
    for (int x : scene_.tickX) {
        MoveToEx(dc, x, area.top, nullptr);
        LineTo(dc, x, area.bottom);
    }

    const int saved = SaveDC(dc);
    IntersectClipRect(dc, area.left, area.top, area.right, area.bottom);
    for (std::size_t i = 0; i < plot::kTraceCount; ++i) {
        SelectObject(dc, tracePens_[i]);
        for (const auto& line : scene_.traces[i]) {
            points_.resize(line.size());
            for (std::size_t p = 0; p < line.size(); ++p) {
                points_[p] = POINT{line[p].x, line[p].y};
            }
            if (points_.size() == 1) {
                SetPixel(dc, points_[0].x, points_[0].y, toColorRef(plot::kTraces[i].rgb));
            } else {
                Polyline(dc, points_.data(), static_cast<int>(points_.size()));
            }
        }
    }
    RestoreDC(dc, saved);

    SelectObject(dc, GetStockObject(BLACK_PEN));
    Rectangle(dc, area.left - 1, area.top - 1, area.right + 1, area.bottom + 1);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    for (const plot::Label& label : scene_.axisLabels) {
        drawLabel(dc, label);
    }
    for (std::size_t i = 0; i < plot::kTraceCount; ++i) {
        const plot::LegendEntry& entry = scene_.legend[i];
        const RECT swatch = toRect(entry.swatch);
        FillRect(dc, &swatch, swatchBrushes_[i]);
        drawLabel(dc, entry.name);
        drawLabel(dc, entry.value);
    }
    drawLabel(dc, scene_.rate);
    if (!scene_.note.empty()) {
        const RECT box = toRect(scene_.noteBox);
        FillRect(dc, &box, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        FrameRect(dc, &box, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        drawLabel(dc, plot::Label{scene_.noteBox, scene_.note, plot::Label::Align::Centre});
    }

    BitBlt(target, 0, 0, width, height, dc, 0, 0, SRCCOPY);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldFont);
    SelectObject(dc, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

}  // namespace scope
