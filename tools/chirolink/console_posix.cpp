// The console on POSIX systems. SIGINT, SIGTERM and SIGHUP (the terminal or the ssh session
// went away) ask the command to stop; SIGWINCH says the terminal changed size. All four are
// blocked in every thread and taken by sigtimedwait in the thread that waits, so no thread is
// interrupted by them and none ends the process half-way.
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <utility>

#include "console.h"

namespace chirolink::cli {

struct Console::State {
    sigset_t set{};
    bool stopped = false;
    bool resized = false;
};

Console::Console() : state_(std::make_unique<State>()) {
    sigemptyset(&state_->set);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGWINCH}) {
        sigaddset(&state_->set, signal);
    }
    pthread_sigmask(SIG_BLOCK, &state_->set, nullptr);
}

Console::~Console() = default;

bool Console::waitUntil(Clock::time_point until) {
    while (!state_->stopped) {
        const auto left = std::max(until - Clock::now(), Clock::duration::zero());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec timeout{static_cast<time_t>(ns / 1000000000),
                               static_cast<long>(ns % 1000000000)};
        const int signal = ::sigtimedwait(&state_->set, nullptr, &timeout);
        if (signal == SIGWINCH) {
            state_->resized = true;
            break;
        }
        if (signal > 0) {
            state_->stopped = true;
        } else if (errno == EAGAIN) {
            break;
        }
    }
    return state_->stopped;
}

bool Console::resized() {
    return std::exchange(state_->resized, false);
}

bool Console::isTerminal(Stream stream) {
    return ::isatty(stream == Stream::output ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

std::optional<TerminalSize> Console::size(Stream stream) {
    winsize size{};
    if (::ioctl(stream == Stream::output ? STDOUT_FILENO : STDERR_FILENO, TIOCGWINSZ, &size) != 0 ||
        size.ws_col == 0 || size.ws_row == 0) {
        return std::nullopt;
    }
    return TerminalSize{size.ws_col, size.ws_row};
}

bool Console::enableEscapes() {
    return isTerminal(Stream::output);
}

}  // namespace chirolink::cli
