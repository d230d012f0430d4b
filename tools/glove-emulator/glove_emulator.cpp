#include "glove_emulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <numbers>
#include <system_error>
#include <utility>

namespace chirolink::tools {

namespace {

[[noreturn]] void throwErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

std::string hexByte(std::uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value);
    return text;
}

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

std::uint8_t GloveEmulator::checksum(const std::array<std::uint8_t, kSensorCount>& values) {
    std::uint8_t sum = 0;
    for (const auto v : values) {
        sum ^= v;
    }
    return sum;
}

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

void GloveEmulator::openLine() {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        throwErrno("posix_openpt");
    }
    auto fail = [&](const char* what) {
        const int saved = errno;
        ::close(master);
        errno = saved;
        throwErrno(what);
    };
    if (::grantpt(master) != 0) {
        fail("grantpt");
    }
    if (::unlockpt(master) != 0) {
        fail("unlockpt");
    }
    char name[128];
    if (::ptsname_r(master, name, sizeof name) != 0) {
        fail("ptsname_r");
    }
    const int flags = ::fcntl(master, F_GETFL);
    if (flags < 0 || ::fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0 ||
        ::fcntl(master, F_SETFD, FD_CLOEXEC) != 0) {
        fail("fcntl");
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        fail("open slave");
    }
    termios tio{};
    if (::tcgetattr(slave, &tio) != 0) {
        ::close(slave);
        fail("tcgetattr");
    }
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B19200);
    ::cfsetospeed(&tio, B19200);
    if (::tcsetattr(slave, TCSANOW, &tio) != 0) {
        ::close(slave);
        fail("tcsetattr");
    }
    master_ = master;
    ownSlave_ = slave;
    slavePath_ = name;
    plugged_ = true;
    masterBroken_ = false;
    ++generation_;
    txFreeAt_ = Clock::time_point{};
    try {
        updateLink();
    } catch (...) {
        Events ignored;
        closeLine(ignored);
        throw;
    }
    changed_.notify_all();
}

void GloveEmulator::closeLine(Events& events) {
    closeFd(master_);
    closeFd(ownSlave_);
    removeLink();
    slavePath_.clear();
    plugged_ = false;
    ++generation_;
    outgoing_.clear();
    changed_.notify_all();
    events.emplace_back(Clock::now(), "unplugged");
}

void GloveEmulator::updateLink() {
    if (linkPath_.empty()) {
        return;
    }
    const std::string temp =
        linkPath_ + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(++linkCounter_);
    ::unlink(temp.c_str());
    if (::symlink(slavePath_.c_str(), temp.c_str()) != 0) {
        throwErrno("symlink");
    }
    if (::rename(temp.c_str(), linkPath_.c_str()) != 0) {
        const int saved = errno;
        ::unlink(temp.c_str());
        errno = saved;
        throwErrno("rename");
    }
}

void GloveEmulator::removeLink() {
    if (linkPath_.empty()) {
        return;
    }
    struct stat st {};
    if (::lstat(linkPath_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        ::unlink(linkPath_.c_str());
    }
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

std::string GloveEmulator::slavePath() const {
    std::lock_guard lock(mutex_);
    return slavePath_;
}

std::string GloveEmulator::path() const {
    return linkPath_.empty() ? slavePath() : linkPath_;
}

void GloveEmulator::setInstant(bool instant) {
    std::lock_guard lock(mutex_);
    instant_ = instant;
}

void GloveEmulator::setFixedValues(std::array<std::uint8_t, kSensorCount> values) {
    std::lock_guard lock(mutex_);
    fixed_ = values;
}

void GloveEmulator::setAnimated() {
    std::lock_guard lock(mutex_);
    fixed_.reset();
}

void GloveEmulator::replay(std::vector<RecordedFrame> frames) {
    std::lock_guard lock(mutex_);
    replay_ = std::move(frames);
    replayStart_.reset();
    replayEnded_ = false;
}

void GloveEmulator::setSilent(bool silent) {
    std::lock_guard lock(mutex_);
    silent_ = silent;
}

void GloveEmulator::setHelloAnswer(std::uint8_t answer) {
    std::lock_guard lock(mutex_);
    helloAnswer_ = answer;
}

void GloveEmulator::setBeforeHelloAnswer(std::vector<std::uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    beforeHelloAnswer_ = std::move(bytes);
}

void GloveEmulator::answerHelloFrom(int n) {
    std::lock_guard lock(mutex_);
    answerHelloFrom_ = n;
    hellos_ = 0;
}

void GloveEmulator::setNoiseBeforeHeader(std::vector<std::uint8_t> noise) {
    std::lock_guard lock(mutex_);
    noise_ = std::move(noise);
}

void GloveEmulator::corruptChecksumEvery(int n) {
    std::lock_guard lock(mutex_);
    corruptEvery_ = n;
    framesForCorruption_ = 0;
}

void GloveEmulator::dropReplyEvery(int n) {
    std::lock_guard lock(mutex_);
    dropEvery_ = n;
    requests_ = 0;
}

void GloveEmulator::stopAfterFrames(int n) {
    std::lock_guard lock(mutex_);
    stopAfter_ = n;
    framesForStop_ = 0;
}

void GloveEmulator::unplugAfter(double seconds, double replugAfterSeconds) {
    {
        std::lock_guard lock(mutex_);
        unplugAt_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(std::max(seconds, 0.0)));
        replugAt_.reset();
        replugAfter_ = replugAfterSeconds;
    }
    wake();
}

void GloveEmulator::unplug() {
    Events events;
    {
        std::lock_guard lock(mutex_);
        if (!plugged_) {
            return;
        }
        closeLine(events);
    }
    wake();
    emit(events);
}

void GloveEmulator::plug() {
    Events events;
    {
        std::lock_guard lock(mutex_);
        if (plugged_) {
            return;
        }
        openLine();
        events.emplace_back(Clock::now(), "plugged " + slavePath_);
    }
    wake();
    emit(events);
}

bool GloveEmulator::plugged() const {
    std::lock_guard lock(mutex_);
    return plugged_;
}

bool GloveEmulator::waitForPlugged(bool plugged, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return plugged_ == plugged; });
}

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

void GloveEmulator::setEventSink(EventSink sink) {
    std::lock_guard lock(mutex_);
    sink_ = std::move(sink);
}

std::vector<ReceivedByte> GloveEmulator::received() const {
    std::lock_guard lock(mutex_);
    return log_;
}

std::size_t GloveEmulator::countReceived(std::uint8_t value) const {
    std::lock_guard lock(mutex_);
    return counts_[value];
}

bool GloveEmulator::waitForReceived(std::uint8_t value, std::size_t count,
                                    std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return counts_[value] >= count; });
}

std::size_t GloveEmulator::framesSent() const {
    std::lock_guard lock(mutex_);
    return framesSent_;
}

bool GloveEmulator::waitForFrames(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return framesSent_ >= count; });
}

std::array<std::uint8_t, GloveEmulator::kFrameSize> GloveEmulator::lastFrame() const {
    std::lock_guard lock(mutex_);
    return lastFrame_;
}

void GloveEmulator::clearLog() {
    std::lock_guard lock(mutex_);
    log_.clear();
    counts_.fill(0);
}

bool GloveEmulator::lineSettings(termios& out) const {
    std::lock_guard lock(mutex_);
    return plugged_ && ::tcgetattr(master_, &out) == 0;
}

int GloveEmulator::masterFd() const {
    std::lock_guard lock(mutex_);
    return master_;
}

std::array<std::uint8_t, GloveEmulator::kSensorCount> GloveEmulator::currentValues(
    Clock::time_point now) const {
    if (fixed_) {
        return *fixed_;
    }
    // Fingers close and open slowly, each on its own period and phase; roll and pitch sway
    // around the middle. Periods of 3-6 s keep consecutive frames (5 ms apart) within a step
    // or two of each other.
    static constexpr std::array<double, kSensorCount> kPeriod{3.1, 3.7, 4.3, 4.9, 5.5, 6.0, 4.0};
    static constexpr std::array<double, kSensorCount> kPhase{0.0, 0.6, 1.2, 1.8, 2.4, 0.3, 1.5};
    static constexpr std::array<double, kSensorCount> kAmplitude{110, 110, 110, 110, 110, 60, 45};
    const double t = std::chrono::duration<double>(now - started_).count();
    std::array<std::uint8_t, kSensorCount> values{};
    for (std::size_t i = 0; i < kSensorCount; ++i) {
        const double angle = 2.0 * std::numbers::pi * t / kPeriod[i] + kPhase[i];
        const double v = 127.5 + kAmplitude[i] * std::sin(angle);
        values[i] = static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
    }
    return values;
}

std::array<std::uint8_t, GloveEmulator::kFrameSize> GloveEmulator::replayedFrame(
    Clock::time_point now, Events& events) {
    if (!replayStart_) {
        replayStart_ = now;
        events.emplace_back(now, "replay started");
    }
    const auto elapsed = now - *replayStart_;
    const auto after = std::upper_bound(
        replay_.begin(), replay_.end(), elapsed,
        [](Clock::duration e, const RecordedFrame& frame) { return e < frame.offset; });
    if (after == replay_.end() && !replayEnded_) {
        replayEnded_ = true;
        events.emplace_back(now, "replay ended; repeating its last frame");
    }
    return after == replay_.begin() ? after->bytes : std::prev(after)->bytes;
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

void GloveEmulator::handleByte(std::uint8_t value, Clock::time_point now, Events& events) {
    log_.push_back({now, value});
    ++counts_[value];
    const bool stopped = stopAfter_ >= 0 && framesForStop_ >= static_cast<std::size_t>(stopAfter_);
    if (value == kHello) {
        ++hellos_;
        events.emplace_back(now, "rx " + hexByte(value));
        if (!silent_ && !stopped && hellos_ >= static_cast<std::size_t>(answerHelloFrom_)) {
            std::vector<std::uint8_t> answer = beforeHelloAnswer_;
            answer.push_back(helloAnswer_);
            queueAnswer(answer, now, false, {});
        }
    } else if (value == kRequest) {
        ++requests_;
        events.emplace_back(now, "rx " + hexByte(value));
        const bool dropped = dropEvery_ > 0 && requests_ % dropEvery_ == 0;
        if (silent_ || stopped || dropped) {
            return;
        }
        std::array<std::uint8_t, kFrameSize> frame{};
        if (!replay_.empty()) {
            frame = replayedFrame(now, events);
        } else {
            const auto values = currentValues(now);
            std::copy(values.begin(), values.end(), frame.begin());
            frame[kSensorCount] = checksum(values);
        }
        ++framesForStop_;
        if (corruptEvery_ > 0 && ++framesForCorruption_ % corruptEvery_ == 0) {
            frame[kSensorCount] ^= 0xFF;
        }
        std::vector<std::uint8_t> bytes = noise_;
        bytes.push_back(kHeader);
        bytes.insert(bytes.end(), frame.begin(), frame.end());
        queueAnswer(bytes, now, true, frame);
    } else {
        events.emplace_back(now, "rx " + hexByte(value) + "  ignored");
    }
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

void GloveEmulator::runTimers(Clock::time_point now, Events& events) {
    if (unplugAt_ && *unplugAt_ <= now) {
        unplugAt_.reset();
        if (plugged_) {
            closeLine(events);
        }
        if (replugAfter_ >= 0) {
            replugAt_ = now + std::chrono::duration_cast<Clock::duration>(
                                  std::chrono::duration<double>(replugAfter_));
        }
    }
    if (replugAt_ && *replugAt_ <= now) {
        replugAt_.reset();
        if (!plugged_) {
            try {
                openLine();
                events.emplace_back(now, "plugged " + slavePath_);
            } catch (const std::system_error& e) {
                events.emplace_back(now, std::string("replug failed: ") + e.what());
            }
        }
    }
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
