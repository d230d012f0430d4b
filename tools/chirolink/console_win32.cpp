// The console on Windows. Ctrl+C, Ctrl+Break and closing the console window (also logging off
// and shutting down) ask the command to stop: the system calls the handler on a thread of its
// own, which sets the stop event and, for the events after which the system ends the process
// as soon as the handler returns, waits until the command has ended in order (the system
// allows about five seconds). The terminal's size is the console window's; a change shows
// when it is asked for.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <optional>

#include "console.h"

namespace chirolink::cli {

namespace {

// The handler's view of the one Console; the system calls it on a thread of its own.
HANDLE stopEvent = nullptr;      // set by the handler
HANDLE finishedEvent = nullptr;  // set when the Console goes, once the command has ended

BOOL WINAPI onControl(DWORD event) {
    SetEvent(stopEvent);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        WaitForSingleObject(finishedEvent, 4500);
    }
    return TRUE;
}

HANDLE handleOf(Stream stream) {
    return GetStdHandle(stream == Stream::output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

}  // namespace

struct Console::State {
    bool stopped = false;
    std::optional<TerminalSize> size = Console::size(Stream::output);
    DWORD outputMode = 0;
    bool modeChanged = false;
};

Console::Console() : state_(std::make_unique<State>()) {
    // Bytes as they are, as on other systems: rows end in "\n" in a file and a pipe alike.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    finishedEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(onControl, TRUE);
}

Console::~Console() {
    if (state_->modeChanged) {
        SetConsoleMode(handleOf(Stream::output), state_->outputMode);
    }
    SetEvent(finishedEvent);
}

bool Console::waitUntil(Clock::time_point until) {
    const auto left = std::max(until - Clock::now(), Clock::duration::zero());
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    if (WaitForSingleObject(stopEvent, static_cast<DWORD>(ms)) == WAIT_OBJECT_0) {
        state_->stopped = true;
    }
    return state_->stopped;
}

bool Console::stopRequested() const {
    return state_->stopped;
}

// A stream's write waits for its writer thread itself (output_file_win32.cpp): this only takes
// a stop request.
void Console::waitForOutput(std::intptr_t, Clock::time_point) {
    if (WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0) {
        state_->stopped = true;
    }
}

bool Console::resized() {
    const auto now = size(Stream::output);
    const bool changed =
        now.has_value() != state_->size.has_value() ||
        (now && (now->columns != state_->size->columns || now->rows != state_->size->rows));
    state_->size = now;
    return changed;
}

bool Console::isTerminal(Stream stream) {
    DWORD mode = 0;
    return GetConsoleMode(handleOf(stream), &mode) != 0;
}

std::optional<TerminalSize> Console::size(Stream stream) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(handleOf(stream), &info)) {
        return std::nullopt;
    }
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    const int rows = info.srWindow.Bottom - info.srWindow.Top + 1;
    if (columns <= 0 || rows <= 0) {
        return std::nullopt;
    }
    return TerminalSize{columns, rows};
}

bool Console::enableEscapes() {
    const HANDLE output = handleOf(Stream::output);
    DWORD mode = 0;
    if (!GetConsoleMode(output, &mode)) {
        return false;
    }
    if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) {
        return true;
    }
    if (!SetConsoleMode(output, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
        return false;  // a console from before Windows 10
    }
    // Called once, by `show`; the destructor puts the mode back.
    state_->outputMode = mode;
    state_->modeChanged = true;
    return true;
}

}  // namespace chirolink::cli
