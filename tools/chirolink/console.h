// The console the command runs in: requests to stop (Ctrl+C, a closed terminal), whether the
// output goes to a terminal, the terminal's size and its changes. The one part of the command
// that differs between systems: console_posix.cpp, console_win32.cpp.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

namespace chirolink::cli {

using Clock = std::chrono::steady_clock;

struct TerminalSize {
    int columns = 0;
    int rows = 0;
};

enum class Stream { output, error };

class Console {
public:
    // Takes over the stop requests from their default action (ending the process at once);
    // construct before any thread starts, so that every thread leaves them to this object.
    Console();
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // Waits until `until`, a stop request or a change of the terminal's size; true when a stop
    // was requested (then or earlier).
    bool waitUntil(Clock::time_point until);
    // True once after each change of the terminal's size.
    bool resized();
    // Whether a stop was requested (as waitUntil or waitForOutput found).
    bool stopRequested() const;
    // Waits until the output `handle` (an OutputFile's) can take more bytes, a stop request or
    // `until`. On Windows a write that blocks is cancelled on a stop request instead, and this
    // waits for the stop or `until` only.
    void waitForOutput(std::intptr_t handle, Clock::time_point until);

    static bool isTerminal(Stream stream);
    // The size of the terminal `stream` writes to; nullopt when it is none or does not say.
    static std::optional<TerminalSize> size(Stream stream);
    // Makes the terminal on standard output take escape sequences until this object goes;
    // false when it cannot.
    bool enableEscapes();

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace chirolink::cli
