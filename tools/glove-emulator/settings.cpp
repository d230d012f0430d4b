// What the emulator is told to do (values, replay, faults to inject) and what it tells about
// itself (the bytes it received, the frames it sent). All under the emulator's lock, from any
// thread.
#include <utility>

#include "glove_emulator.h"

namespace chirolink::tools {

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

}  // namespace chirolink::tools
