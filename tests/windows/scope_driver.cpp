// Drives a running Chiroscope.exe from outside, as a user would, and checks what it shows.
//
// Usage: scope_driver readout CHIROSCOPE.EXE ARTIFACTS V1,V2,...,V7
//        scope_driver message CHIROSCOPE.EXE ARTIFACTS
//        scope_driver plot CHIROSCOPE.EXE ARTIFACTS
// readout: the readout window shows the seven values, its controls sit where template 102 puts
// them, system commands 0x0010 and 0x001F open the About box, and OK ends the program.
// message: the message box says the glove could not be initialised, and OK ends the program.
// plot: Ctrl+P in the readout window opens the plot window, which draws the seven traces and
// stands still while paused (Space); the "Plot..." entry's commands 0x0020 and 0x002F bring
// the same window back; OK ends the program.
// Screenshots of each window go to ARTIFACTS as BMP files. Exits 0 when all holds.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

int failures = 0;

void check(bool condition, const std::string& what) {
    if (!condition) {
        std::printf("FAIL: %s\n", what.c_str());
        ++failures;
    }
}

template <typename Condition>
bool eventually(Condition condition, int milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

HWND findDialog(const char* caption, int milliseconds) {
    HWND window = nullptr;
    eventually(
        [&] {
            window = FindWindowA("#32770", caption);
            return window != nullptr && IsWindowVisible(window);
        },
        milliseconds);
    return window;
}

std::string itemText(HWND dialog, int id) {
    char text[256] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

// What the screen shows of `window`: 24-bit pixels, bottom row first, rows padded to 4 bytes.
struct Capture {
    BITMAPINFOHEADER header{};
    std::vector<BYTE> pixels;
};

Capture capture(HWND window) {
    RECT box;
    GetWindowRect(window, &box);
    Capture shot;
    shot.header.biSize = sizeof shot.header;
    shot.header.biWidth = box.right - box.left;
    shot.header.biHeight = box.bottom - box.top;
    shot.header.biPlanes = 1;
    shot.header.biBitCount = 24;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = shot.header;
    void* pixels = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, shot.header.biWidth, shot.header.biHeight, screen, box.left, box.top,
           SRCCOPY);
    GdiFlush();
    const auto size =
        static_cast<std::size_t>(((shot.header.biWidth * 3 + 3) & ~3) * shot.header.biHeight);
    shot.pixels.assign(static_cast<BYTE*>(pixels), static_cast<BYTE*>(pixels) + size);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return shot;
}

// Writes what the screen shows of `window` as a 24-bit BMP file.
void screenshot(HWND window, const std::string& path) {
    const Capture shot = capture(window);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof shot.header;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(shot.pixels.size());
    if (FILE* out = std::fopen(path.c_str(), "wb")) {
        std::fwrite(&file, sizeof file, 1, out);
        std::fwrite(&shot.header, sizeof shot.header, 1, out);
        std::fwrite(shot.pixels.data(), shot.pixels.size(), 1, out);
        std::fclose(out);
    }
}

// One control of an extended dialog template.
struct TemplateItem {
    DWORD style;
    short x, y, cx, cy;
    int id;
};

struct Reader {
    const BYTE* at;
    template <typename T>
    T take() {
        T value;
        std::memcpy(&value, at, sizeof value);
        at += sizeof value;
        return value;
    }
    void skipText() {  // a number (0xFFFF, then the number), nothing (0), or a string
        const WORD first = take<WORD>();
        if (first == 0xFFFF) {
            take<WORD>();
        } else {
            for (WORD c = first; c != 0; c = take<WORD>()) {
            }
        }
    }
    void alignTo(std::size_t bytes, const BYTE* base) {
        while ((at - base) % bytes != 0) {
            ++at;
        }
    }
};

// Extended dialog template `id` of `module`, as bytes.
std::vector<BYTE> templateBytes(HMODULE module, int id) {
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));  // RT_DIALOG
    const auto* data = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
    if (data == nullptr) {
        return {};
    }
    return std::vector<BYTE>(data, data + SizeofResource(module, found));
}

// The client size and the controls of an extended dialog template.
std::vector<TemplateItem> readTemplate(const std::vector<BYTE>& bytes, SIZE& client) {
    std::vector<TemplateItem> items;
    const BYTE* base = bytes.data();
    if (bytes.size() < 26) {
        return items;
    }
    Reader read{base};
    read.take<WORD>();  // version
    if (read.take<WORD>() != 0xFFFF) {
        return items;  // not the extended form
    }
    read.take<DWORD>();  // help id
    read.take<DWORD>();  // extended style
    const DWORD style = read.take<DWORD>();
    const WORD count = read.take<WORD>();
    read.take<short>();
    read.take<short>();
    client.cx = read.take<short>();
    client.cy = read.take<short>();
    read.skipText();  // menu
    read.skipText();  // class
    read.skipText();  // caption
    if ((style & DS_SETFONT) != 0) {
        read.take<WORD>();
        read.take<WORD>();
        read.take<BYTE>();
        read.take<BYTE>();
        read.skipText();
    }
    for (WORD i = 0; i < count; ++i) {
        read.alignTo(4, base);
        TemplateItem item{};
        read.take<DWORD>();  // help id
        read.take<DWORD>();  // extended style
        item.style = read.take<DWORD>();
        item.x = read.take<short>();
        item.y = read.take<short>();
        item.cx = read.take<short>();
        item.cy = read.take<short>();
        item.id = static_cast<int>(read.take<DWORD>());
        read.skipText();  // class
        read.skipText();  // text
        read.at += read.take<WORD>();
        items.push_back(item);
    }
    return items;
}

INT_PTR CALLBACK quietProcedure(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

std::string describe(const RECT& r) {
    std::ostringstream text;
    text << "(" << r.left << "," << r.top << ")-(" << r.right << "," << r.bottom << ")";
    return text.str();
}

// Every control where template 102 puts it, in pixels as the template's font makes them. The
// units come from a hidden dialog of this process built from the same template: MapDialogRect
// works only on a dialog of one's own.
void checkGeometry(HWND dialog, const char* exe) {
    HMODULE module = LoadLibraryExA(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    std::vector<BYTE> bytes = templateBytes(module, 102);
    FreeLibrary(module);
    SIZE client{};
    const auto items = readTemplate(bytes, client);
    check(items.size() == 15, "template 102 has " + std::to_string(items.size()) + " controls");
    if (items.empty()) {
        return;
    }
    DWORD style;
    std::memcpy(&style, bytes.data() + 12, sizeof style);
    style &= ~static_cast<DWORD>(WS_VISIBLE);
    std::memcpy(bytes.data() + 12, &style, sizeof style);
    HWND units = CreateDialogIndirectParamA(GetModuleHandleA(nullptr),
                                            reinterpret_cast<LPCDLGTEMPLATEA>(bytes.data()),
                                            nullptr, quietProcedure, 0);
    check(units != nullptr, "no dialog from template 102 here");
    RECT expected{0, 0, client.cx, client.cy};
    MapDialogRect(units, &expected);
    RECT shown;
    GetClientRect(dialog, &shown);
    check(EqualRect(&shown, &expected) != FALSE,
          "client area " + describe(shown) + ", template " + describe(expected));
    HWND child = GetWindow(dialog, GW_CHILD);
    for (const TemplateItem& item : items) {
        if (child == nullptr) {
            check(false, "fewer controls than in the template");
            break;
        }
        // Position and size are converted each on its own, as the dialog manager builds them.
        RECT mapped{item.x, item.y, item.cx, item.cy};
        MapDialogRect(units, &mapped);
        const RECT want{mapped.left, mapped.top, mapped.left + mapped.right,
                        mapped.top + mapped.bottom};
        RECT got;
        GetWindowRect(child, &got);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&got), 2);
        const std::string which = "control " + std::to_string(item.id) + " at " +
                                  std::to_string(item.x) + "," + std::to_string(item.y);
        check(EqualRect(&got, &want) != FALSE,
              which + ": " + describe(got) + ", template " + describe(want));
        check(GetDlgCtrlID(child) == item.id || item.id == -1 || item.id == 0xFFFF,
              which + ": identifier " + std::to_string(GetDlgCtrlID(child)));
        const DWORD style = static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE));
        check((style & WS_TABSTOP) == (item.style & WS_TABSTOP), which + ": tab stop");
        child = GetWindow(child, GW_HWNDNEXT);
    }
    DestroyWindow(units);
}

// Opens the About box with system command `command`, photographs it when `shot` is not empty,
// and closes it.
void checkAbout(HWND readout, WPARAM command, const std::string& shot) {
    PostMessageA(readout, WM_SYSCOMMAND, command, 0);
    HWND about = findDialog("About Chiroscope", 5000);
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%04X", static_cast<unsigned>(command));
    check(about != nullptr, std::string("no About box after system command ") + hex);
    if (about == nullptr) {
        return;
    }
    if (!shot.empty()) {
        Sleep(300);
        screenshot(about, shot);
    }
    PostMessageA(about, WM_COMMAND, IDOK, 0);
    check(eventually([&] { return !IsWindow(about); }, 5000), "the About box did not close");
}

int readout(const char* exe, const std::string& artifacts, const std::string& values) {
    HWND window = findDialog("Chiroscope", 20000);
    if (window == nullptr) {
        std::printf("FAIL: no window named Chiroscope within 20 s\n");
        return 1;
    }
    const int fields[] = {1000, 1001, 1002, 1004, 1005, 1006, 1007};
    auto shown = [&] {
        std::string text;
        for (int id : fields) {
            text += (text.empty() ? "" : ",") + itemText(window, id);
        }
        return text;
    };
    check(eventually([&] { return shown() == values; }, 5000),
          "the fields show " + shown() + ", not " + values);
    const LONG style = GetWindowLongA(window, GWL_STYLE);
    const LONG exStyle = GetWindowLongA(window, GWL_EXSTYLE);
    check((exStyle & WS_EX_APPWINDOW) != 0, "the readout window is not in the task bar");
    check((style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) == 0, "minimise or maximise box");
    check((style & WS_SYSMENU) != 0 && (style & WS_CAPTION) == WS_CAPTION,
          "caption or system menu");
    checkGeometry(window, exe);
    Sleep(200);
    screenshot(window, artifacts + "\\readout.bmp");

    checkAbout(window, 0x0010, artifacts + "\\about.bmp");
    checkAbout(window, 0x001F, "");
    check(IsWindow(window) != FALSE, "the readout window went away with the About box");

    PostMessageA(window, WM_COMMAND, IDOK, 0);
    check(eventually([&] { return !IsWindow(window); }, 5000), "OK did not close the window");
    return failures == 0 ? 0 : 1;
}

// The colours (0xRRGGBB) that a capture shows.
std::set<unsigned> coloursOf(const Capture& shot) {
    std::set<unsigned> colours;
    for (std::size_t i = 0; i + 2 < shot.pixels.size(); i += 3) {
        colours.insert(static_cast<unsigned>(shot.pixels[i + 2] << 16 | shot.pixels[i + 1] << 8 |
                                             shot.pixels[i]));
    }
    return colours;
}

// Presses `key` with Ctrl held, as the keyboard would.
void pressCtrl(WORD key) {
    INPUT inputs[4] = {};
    const WORD keys[4] = {VK_CONTROL, key, key, VK_CONTROL};
    for (int i = 0; i < 4; ++i) {
        inputs[i].type = INPUT_KEYBOARD;
        inputs[i].ki.wVk = keys[i];
        inputs[i].ki.dwFlags = i < 2 ? 0 : KEYEVENTF_KEYUP;
    }
    SendInput(4, inputs, sizeof inputs[0]);
}

int countPlotWindows() {
    int count = 0;
    for (HWND w = FindWindowExA(nullptr, nullptr, nullptr, "Chiroscope Plot"); w != nullptr;
         w = FindWindowExA(nullptr, w, nullptr, "Chiroscope Plot")) {
        ++count;
    }
    return count;
}

int plot(const std::string& artifacts) {
    // The seven traces' colours (demo/plot_traces.h).
    const unsigned kColours[] = {0x1F77B4, 0xFF7F0E, 0x2CA02C, 0xD62728,
                                 0x9467BD, 0x8C564B, 0xBCBD22};
    HWND readout = findDialog("Chiroscope", 20000);
    if (readout == nullptr) {
        std::printf("FAIL: no window named Chiroscope within 20 s\n");
        return 1;
    }
    SetForegroundWindow(readout);
    Sleep(300);
    pressCtrl('P');
    HWND plot = nullptr;
    check(eventually(
              [&] {
                  plot = FindWindowA(nullptr, "Chiroscope Plot");
                  return plot != nullptr && IsWindowVisible(plot);
              },
              5000),
          "no visible window named Chiroscope Plot after Ctrl+P");
    if (plot == nullptr) {
        return 1;
    }
    const LONG style = GetWindowLongA(plot, GWL_STYLE);
    check((style & WS_CAPTION) == WS_CAPTION && (style & WS_THICKFRAME) != 0,
          "the plot window has no caption or sizing frame");
    Sleep(2000);  // a couple of seconds of traces
    screenshot(plot, artifacts + "\\plot-window.bmp");
    const auto colours = coloursOf(capture(plot));
    for (unsigned colour : kColours) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "#%06X", colour);
        check(colours.count(colour) == 1, std::string("the plot shows no ") + hex);
    }

    // Space: the picture stands still while frames keep arriving, then moves again.
    PostMessageA(plot, WM_KEYDOWN, VK_SPACE, 0);
    Sleep(300);
    const Capture paused = capture(plot);
    Sleep(500);
    check(capture(plot).pixels == paused.pixels, "the paused plot changed");
    PostMessageA(plot, WM_KEYDOWN, VK_SPACE, 0);
    Sleep(300);
    check(capture(plot).pixels != paused.pixels, "the plot did not move after the second Space");

    // Closed, then opened again by the entry's commands: the same window, one of it.
    PostMessageA(plot, WM_CLOSE, 0, 0);
    check(eventually([&] { return !IsWindowVisible(plot); }, 5000), "the plot did not close");
    for (WPARAM command : {WPARAM{0x0020}, WPARAM{0x002F}}) {
        PostMessageA(readout, WM_SYSCOMMAND, command, 0);
        check(eventually([&] { return IsWindowVisible(plot) != FALSE; }, 5000),
              "system command " + std::to_string(command) + " did not show the plot");
        check(countPlotWindows() == 1, "more than one plot window");
    }

    PostMessageA(readout, WM_COMMAND, IDOK, 0);
    check(eventually([&] { return !IsWindow(readout) && !IsWindow(plot); }, 5000),
          "OK did not close the windows");
    return failures == 0 ? 0 : 1;
}

int message(const std::string& artifacts) {
    HWND box = findDialog("Chiroscope", 20000);
    if (box == nullptr) {
        std::printf("FAIL: no message box titled Chiroscope within 20 s\n");
        return 1;
    }
    const std::string text = itemText(box, 0xFFFF);  // a message box's text
    check(text.rfind("Unable to initialise glove", 0) == 0, "the message box says '" + text + "'");
    check(GetDlgItem(box, 1000) == nullptr, "the message box has the readout's fields");
    Sleep(200);
    screenshot(box, artifacts + "\\message-box.bmp");
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    check(eventually([&] { return !IsWindow(box); }, 5000), "OK did not close the message box");
    Sleep(500);
    check(FindWindowA(nullptr, "Chiroscope") == nullptr, "a window is left after the message box");
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "readout" && argc == 5) {
        return readout(argv[2], argv[3], argv[4]);
    }
    if (mode == "message" && argc == 4) {
        return message(argv[3]);
    }
    if (mode == "plot" && argc == 4) {
        return plot(argv[3]);
    }
    std::fprintf(stderr,
                 "usage: scope_driver readout|message|plot CHIROSCOPE.EXE ARTIFACTS [VALUES]\n");
    return 2;
}
