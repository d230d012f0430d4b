// What the glove answers each byte with: the hello answer and frames of its own values or of a
// replayed recording, with the faults it is told to inject (bad checksums, dropped replies,
// silence, noise). Runs on the emulator thread under the emulator's lock.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <numbers>

#include "glove_emulator.h"

namespace chirolink::tools {

namespace {

std::string hexByte(std::uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value);
    return text;
}

}  // namespace

std::uint8_t GloveEmulator::checksum(const std::array<std::uint8_t, kSensorCount>& values) {
    std::uint8_t sum = 0;
    for (const auto v : values) {
        sum ^= v;
    }
    return sum;
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

}  // namespace chirolink::tools
