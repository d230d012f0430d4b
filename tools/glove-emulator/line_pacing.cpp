// The line at 19200 baud: answers leave one byte time apart, after the byte that asked for
// them has crossed the line; bytes from the host are read as they come. Runs on the emulator
// thread (sendRaw on the caller's) under the emulator's lock.
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "glove_emulator.h"

namespace chirolink::tools {

void GloveEmulator::sendRaw(std::vector<std::uint8_t> bytes) {
    {
        std::lock_guard lock(mutex_);
        if (!plugged_) {
            return;
        }
        queueAnswer(bytes, Clock::now() - kByteTime, false, {});
    }
    wake();
}

void GloveEmulator::queueAnswer(const std::vector<std::uint8_t>& bytes, Clock::time_point readAt,
                                bool isFrame, const std::array<std::uint8_t, kFrameSize>& frame) {
    const auto now = Clock::now();
    if (instant_) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            outgoing_.push_back({now, bytes[i], isFrame && i + 1 == bytes.size(), frame});
        }
        txFreeAt_ = now;
        return;
    }
    // The asking byte needed one byte time on the wire before the glove could react; the line
    // back carries one byte per byte time and may still be busy with an earlier answer.
    auto at = std::max(txFreeAt_, readAt + kByteTime);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        at += kByteTime;
        outgoing_.push_back({at, bytes[i], isFrame && i + 1 == bytes.size(), frame});
    }
    txFreeAt_ = at;
}

void GloveEmulator::readFromHost(Clock::time_point now, Events& events) {
    std::uint8_t buffer[256];
    for (;;) {
        const auto n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            for (ssize_t i = 0; i < n; ++i) {
                handleByte(buffer[i], now, events);
            }
            changed_.notify_all();
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            // EIO: the slave side is gone although this emulator holds it open; stop polling
            // the master instead of spinning on it until the next plug.
            masterBroken_ = true;
            events.emplace_back(now, "line broken");
        }
        return;
    }
}

void GloveEmulator::writeDue(Clock::time_point now) {
    if (!plugged_ || masterBroken_) {
        outgoing_.clear();
        return;
    }
    std::vector<std::uint8_t> chunk;
    bool frameDone = false;
    while (!outgoing_.empty() && outgoing_.front().due <= now) {
        const auto& out = outgoing_.front();
        chunk.push_back(out.value);
        if (out.endsFrame) {
            // Counted as soon as the checksum goes out, even if the host is not listening.
            ++framesSent_;
            lastFrame_ = out.frame;
            frameDone = true;
        }
        outgoing_.pop_front();
    }
    std::size_t done = 0;
    while (done < chunk.size()) {
        const auto n = ::write(master_, chunk.data() + done, chunk.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            // Nobody draining the line (buffer full) or a broken line: like a real serial line
            // with nobody listening, the bytes are lost.
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (frameDone) {
        changed_.notify_all();
    }
}

}  // namespace chirolink::tools
