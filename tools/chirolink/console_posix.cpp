// The console on POSIX systems. SIGINT, SIGTERM and SIGHUP (the terminal or the ssh session
// went away) ask the command to stop; SIGWINCH says the terminal changed size. All four are
// blocked in every thread and taken by sigtimedwait in the thread that waits, so no thread is
// interrupted by them and none ends the process half-way. A signalfd lets a wait for the
// output (a full pipe) end on a stop request too.
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <utility>

#include "console.h"

namespace chirolink::cli {

struct Console::State {
    sigset_t set{};
    int stops = -1;  // a signalfd, readable while a stop request waits to be taken
    bool stopped = false;
    bool resized = false;
};

Console::Console() : state_(std::make_unique<State>()) {
    sigemptyset(&state_->set);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGWINCH}) {
        sigaddset(&state_->set, signal);
    }
    pthread_sigmask(SIG_BLOCK, &state_->set, nullptr);
    sigset_t stops = state_->set;
    sigdelset(&stops, SIGWINCH);
    state_->stops = ::signalfd(-1, &stops, SFD_CLOEXEC | SFD_NONBLOCK);
}

Console::~Console() {
    if (state_->stops >= 0) {
        ::close(state_->stops);
    }
}

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

bool Console::stopRequested() const {
    return state_->stopped;
}

void Console::waitForOutput(std::intptr_t handle, Clock::time_point until) {
    pollfd fds[2] = {{static_cast<int>(handle), POLLOUT, 0}, {state_->stops, POLLIN, 0}};
    int ms = -1;
    if (until != Clock::time_point::max()) {
        const auto left = std::max(until - Clock::now(), Clock::duration::zero());
        ms = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
    }
    // Without a signalfd a stop is seen at least every 100 ms.
    const bool watched = state_->stops >= 0 && !state_->stopped;
    if (::poll(fds, watched ? 2 : 1, watched ? ms : (ms < 0 ? 100 : std::min(ms, 100))) > 0 &&
        fds[1].revents == 0) {
        return;
    }
    waitUntil(Clock::now());  // takes the stop request, if one came
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
