// The emulator's thread and its life: it waits for bytes from the host, for the next byte due
// on the line and for the next plug or unplug, and does each under the emulator's lock; the
// events it collects are handed to the sink after the lock is let go. Construction opens the
// first pseudo-terminal; destruction stops the thread and closes everything.
#include "glove_emulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>

#include <cstdio>
#include <utility>

#include "fd.h"

namespace chirolink::tools {

namespace {

// Sleep target for ppoll: how long from now until `deadline`, clamped at zero.
timespec untilDeadline(GloveEmulator::Clock::time_point deadline) {
    auto left = deadline - GloveEmulator::Clock::now();
    if (left < GloveEmulator::Clock::duration::zero()) {
        left = GloveEmulator::Clock::duration::zero();
    }
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

}  // namespace

GloveEmulator::GloveEmulator(std::string linkPath)
    : linkPath_(std::move(linkPath)), started_(Clock::now()) {
    if (!linkPath_.empty()) {
        struct stat st {};
        if (::lstat(linkPath_.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
            throw std::system_error(std::make_error_code(std::errc::file_exists),
                                    "glove emulator link path is not a symlink: " + linkPath_);
        }
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        throwErrno("pipe2");
    }
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
    {
        std::lock_guard lock(mutex_);
        try {
            openLine();
        } catch (...) {
            closeFd(wakeRead_);
            closeFd(wakeWrite_);
            throw;
        }
    }
    thread_ = std::thread([this] { run(); });
}

GloveEmulator::~GloveEmulator() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake();
    thread_.join();
    Events events;
    std::lock_guard lock(mutex_);
    if (plugged_) {
        closeLine(events);
    }
    closeFd(wakeRead_);
    closeFd(wakeWrite_);
}

void GloveEmulator::wake() {
    const std::uint8_t one = 1;
    // A full pipe already means a wake-up is pending.
    [[maybe_unused]] const auto n = ::write(wakeWrite_, &one, 1);
}

void GloveEmulator::emit(Events& events) const {
    if (events.empty()) {
        return;
    }
    EventSink sink;
    {
        std::lock_guard lock(mutex_);
        sink = sink_;
    }
    if (sink) {
        for (const auto& [at, what] : events) {
            sink(at, what);
        }
    }
    events.clear();
}

std::optional<GloveEmulator::Clock::time_point> GloveEmulator::nextDeadline() const {
    std::optional<Clock::time_point> next;
    auto consider = [&](const std::optional<Clock::time_point>& t) {
        if (t && (!next || *t < *next)) {
            next = t;
        }
    };
    if (!outgoing_.empty()) {
        consider(outgoing_.front().due);
    }
    consider(unplugAt_);
    consider(replugAt_);
    return next;
}

void GloveEmulator::run() {
    Events events;
    for (;;) {
        pollfd fds[2]{};
        nfds_t count = 1;
        unsigned polledGeneration = 0;
        std::optional<Clock::time_point> deadline;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                return;
            }
            fds[0] = {wakeRead_, POLLIN, 0};
            if (plugged_ && !masterBroken_) {
                fds[1] = {master_, POLLIN, 0};
                count = 2;
            }
            polledGeneration = generation_;
            deadline = nextDeadline();
        }
        timespec timeout{};
        const int ready = ::ppoll(
            fds, count, deadline ? &(timeout = untilDeadline(*deadline)) : nullptr, nullptr);
        if (ready < 0 && errno != EINTR) {
            std::perror("glove-emulator: ppoll");
            return;
        }
        if (fds[0].revents & POLLIN) {
            std::uint8_t drain[64];
            while (::read(wakeRead_, drain, sizeof drain) > 0) {
            }
        }
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                return;
            }
            const auto now = Clock::now();
            if (count == 2 && polledGeneration == generation_ && plugged_) {
                if (fds[1].revents & POLLIN) {
                    readFromHost(now, events);
                } else if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
                    masterBroken_ = true;
                    events.emplace_back(now, "line broken");
                }
            }
            runTimers(now, events);
            writeDue(Clock::now());
        }
        emit(events);
    }
}

}  // namespace chirolink::tools
