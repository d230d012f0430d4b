// The host's end of the emulated serial line, as the tests drive it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace chirolink::tools::test {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

class HostPort {
public:
    // configure = false leaves the line as the emulator set it up.
    explicit HostPort(const std::string& path, bool configure = true)
        : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        EXPECT_GE(fd_, 0) << "open " << path;
        termios tio{};
        if (configure && ::tcgetattr(fd_, &tio) == 0) {
            ::cfmakeraw(&tio);
            EXPECT_EQ(::tcsetattr(fd_, TCSANOW, &tio), 0);
        }
    }
    ~HostPort() { ::close(fd_); }
    int fd() const { return fd_; }

    void send(const Bytes& b) { EXPECT_EQ(::write(fd_, b.data(), b.size()), ssize_t(b.size())); }

    // Reads one byte at a time until `done` says so or `timeout` passes; arrival times optional.
    template <typename Done>
    Bytes readWhile(Done done, milliseconds timeout,
                    std::vector<SteadyClock::time_point>* times = nullptr) {
        Bytes got;
        const auto deadline = SteadyClock::now() + timeout;
        pollfd pfd{fd_, POLLIN, 0};
        std::uint8_t byte = 0;
        while (!done(got) && SteadyClock::now() < deadline && ::poll(&pfd, 1, 10) >= 0) {
            if (::read(fd_, &byte, 1) == 1) {
                got.push_back(byte);
                if (times != nullptr) {
                    times->push_back(SteadyClock::now());
                }
            }
        }
        return got;
    }
    Bytes read(std::size_t count, milliseconds timeout = milliseconds(2000),
               std::vector<SteadyClock::time_point>* times = nullptr) {
        return readWhile([&](const Bytes& got) { return got.size() >= count; }, timeout, times);
    }

    // Sends `bytes` and then a marker byte; returns what arrived before the marker's reply. The
    // emulator answers in order, so this isolates the reply to `bytes` without waiting it out.
    Bytes exchange(const Bytes& bytes, std::uint8_t marker, const Bytes& markerReply) {
        Bytes all = bytes;
        all.push_back(marker);
        send(all);
        auto endsWithReply = [&](const Bytes& got) {
            return got.size() >= markerReply.size() &&
                   std::equal(markerReply.rbegin(), markerReply.rend(), got.rbegin());
        };
        Bytes got = readWhile(endsWithReply, milliseconds(2000));
        EXPECT_TRUE(endsWithReply(got)) << "the marker was never answered";
        got.resize(got.size() - std::min(got.size(), markerReply.size()));
        return got;
    }

private:
    int fd_;
};

inline std::string uniqueLinkPath(const std::string& name) {
    static int counter = 0;
    return ::testing::TempDir() + "chirolink-" + name + "-" + std::to_string(::getpid()) + "-" +
           std::to_string(++counter);
}

}  // namespace chirolink::tools::test
