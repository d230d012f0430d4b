// Chiroscope: finds the glove on COM1 or COM2 (or on the ports named on its command line,
// Chiroscope.exe [PORT...], in that order) and shows its seven values, refreshed every
// 100 ms, until the window is closed. "Plot..." in the system menu, or Ctrl+P, opens the plot
// window (plot_window.h).
#include <array>
#include <cstdlib>

#include "chirolink.h"
#include "chirolink_glove.h"
#include "framework.h"
#include "plot_window.h"
#include "resource.h"

namespace {

using scope::Dialog;
using scope::onMessage;

// The value field that shows each sample position: Finger 1 to 5, Roll, Pitch.
constexpr std::array<int, 7> kFieldForPosition = {
    IDC_FINGER1, IDC_FINGER2, IDC_FINGER3, IDC_FINGER4, IDC_FINGER5, IDC_ROLL, IDC_PITCH};
constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshMs = 100;

class AboutBox : public Dialog {
public:
    AboutBox() : Dialog(IDD_ABOUTBOX) {}
};

class ReadoutDialog : public Dialog {
public:
    ReadoutDialog()
        : Dialog(IDD_CHIROSCOPE_DIALOG),
          icon_(scope::loadIcon(IDR_MAINFRAME)),
          plot_(chirolink_process_glove()) {}
    ~ReadoutDialog() override {
        if (keyHook_ != nullptr) {
            UnhookWindowsHookEx(keyHook_);
        }
        shortcutTarget = nullptr;
    }

protected:
    bool onInitDialog() override {
        addAboutEntry();
        addPlotShortcut();
        SendMessageA(window(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
        SendMessageA(window(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
        SetTimer(window(), kRefreshTimer, kRefreshMs, nullptr);
        return true;
    }

    std::span<const MessageEntry> messageTable() const override {
        static const MessageEntry kTable[] = {
            onMessage(WM_SYSCOMMAND, &ReadoutDialog::onSysCommand),
            onMessage(WM_PAINT, &ReadoutDialog::onPaint),
            onMessage(WM_QUERYDRAGICON, &ReadoutDialog::onQueryDragIcon),
            onMessage(WM_TIMER, &ReadoutDialog::onTimer),
        };
        return kTable;
    }

private:
    // A separator and "&About Chiroscope..." at the end of the window's system menu.
    void addAboutEntry() {
        scope::SystemMenu menu(window());
        const std::string about = scope::loadString(IDS_ABOUTBOX);
        if (menu.valid() && !about.empty()) {
            menu.appendSeparator();
            menu.appendString(IDM_ABOUTBOX, about);
        }
        const std::string plot = scope::loadString(IDS_PLOT);
        if (menu.valid() && !plot.empty()) {
            menu.appendString(IDM_PLOT, plot);
        }
    }

    // Ctrl+P anywhere in the readout window. The dialog's modal loop passes every message it
    // takes to the thread's message filter hook first (MSGF_DIALOGBOX), the place where a
    // dialog box gets keyboard shortcuts.
    void addPlotShortcut() {
        shortcutTarget = window();
        keyHook_ = SetWindowsHookExA(WH_MSGFILTER, filterMessage, nullptr, GetCurrentThreadId());
    }

    static LRESULT CALLBACK filterMessage(int code, WPARAM wParam, LPARAM lParam) {
        const auto* message = reinterpret_cast<const MSG*>(lParam);
        if (code == MSGF_DIALOGBOX && shortcutTarget != nullptr && message->message == WM_KEYDOWN &&
            message->wParam == 'P' && GetKeyState(VK_CONTROL) < 0 && GetKeyState(VK_MENU) >= 0 &&
            (message->hwnd == shortcutTarget || IsChild(shortcutTarget, message->hwnd))) {
            PostMessageA(shortcutTarget, WM_SYSCOMMAND, IDM_PLOT, 0);
            return TRUE;
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    Result onSysCommand(WPARAM command, LPARAM) {
        // The system keeps the low four bits of a system command for itself.
        if ((command & 0xFFF0) == IDM_ABOUTBOX) {
            AboutBox().doModal();
            return 0;
        }
        if ((command & 0xFFF0) == IDM_PLOT) {
            plot_.show();
            return 0;
        }
        return std::nullopt;
    }

    // Minimised, the window shows the icon centred in its client area.
    Result onPaint(WPARAM, LPARAM) {
        if (!IsIconic(window())) {
            return std::nullopt;
        }
        scope::PaintContext paint(window());
        SendMessageA(window(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(paint.deviceContext()),
                     0);
        const int iconWidth = GetSystemMetrics(SM_CXICON);
        const int iconHeight = GetSystemMetrics(SM_CYICON);
        RECT client;
        GetClientRect(window(), &client);
        const int x = (client.right - client.left - iconWidth + 1) / 2;
        const int y = (client.bottom - client.top - iconHeight + 1) / 2;
        DrawIcon(paint.deviceContext(), x, y, icon_);
        return 0;
    }

    Result onQueryDragIcon(WPARAM, LPARAM) { return reinterpret_cast<INT_PTR>(icon_); }

    Result onTimer(WPARAM timer, LPARAM) {
        if (timer == kRefreshTimer) {
            const unsigned char* sample = GloveGetDataPtr();
            for (std::size_t position = 0; position < kFieldForPosition.size(); ++position) {
                scope::setDialogItemInt(window(), kFieldForPosition[position], sample[position]);
            }
        }
        return 0;  // other timers are left alone
    }

    HICON icon_;
    scope::PlotWindow plot_;
    HHOOK keyHook_ = nullptr;
    static inline HWND shortcutTarget = nullptr;  // the readout window, for the hook
};

// The glove on the first of the ports named on the command line that answers; without
// arguments on COM1, then COM2.
bool openGlove() {
    if (__argc < 2) {
        return GloveInit("COM1") != 0 || GloveInit("COM2") != 0;
    }
    for (int i = 1; i < __argc; ++i) {
        if (GloveInit(__argv[i]) != 0) {
            return true;
        }
    }
    return false;
}

class ChiroscopeApplication : public scope::Application {
public:
    bool initInstance() override {
        if (!openGlove()) {
            scope::messageBox("Unable to initialise glove\n", 0);
            return false;
        }
        ReadoutDialog dialog;
        mainWindow = &dialog;
        dialog.doModal();
        mainWindow = nullptr;
        return false;  // the program ends with the window
    }
};

ChiroscopeApplication theApplication;

}  // namespace
