#include "osc.h"

#include "calibration_map.h"

#include <bit>
#include <chrono>

namespace chirolink::cli {

namespace {

// An OSC string: the bytes, then 1 to 4 zero bytes up to a multiple of 4.
void appendPadded(std::string& to, std::string_view text) {
    to += text;
    to.append(4 - text.size() % 4, '\0');
}

void appendBigEndian(std::string& to, std::uint64_t value, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) {
        to += static_cast<char>((value >> shift) & 0xff);
    }
}

std::string addressOf(int n, const char* what) {
    return "/chirolink/" + std::to_string(n) + "/" + what;
}

}  // namespace

OscMessage::OscMessage(std::string_view address) : address_(address) {}

OscMessage& OscMessage::add(std::int32_t value) {
    types_ += 'i';
    appendBigEndian(arguments_, static_cast<std::uint32_t>(value), 4);
    return *this;
}

OscMessage& OscMessage::add(std::int64_t value) {
    types_ += 'h';
    appendBigEndian(arguments_, static_cast<std::uint64_t>(value), 8);
    return *this;
}

OscMessage& OscMessage::add(float value) {
    types_ += 'f';
    appendBigEndian(arguments_, std::bit_cast<std::uint32_t>(value), 4);
    return *this;
}

OscMessage& OscMessage::add(double value) {
    types_ += 'd';
    appendBigEndian(arguments_, std::bit_cast<std::uint64_t>(value), 8);
    return *this;
}

OscMessage& OscMessage::add(std::string_view value) {
    types_ += 's';
    appendPadded(arguments_, value);
    return *this;
}

std::string OscMessage::packet() const {
    std::string packet;
    appendPadded(packet, address_);
    appendPadded(packet, types_);
    return packet + arguments_;
}

OscMessage frameMessage(int n, const StampedFrame& frame, OscFormat format,
                        const chirolink_calibration* calibration) {
    if (format == OscFormat::float32) {
        OscMessage message(addressOf(n, "values"));
        float values[protocol::kSensorCount];
        for (std::size_t i = 0; i < protocol::kSensorCount; ++i) {
            values[i] = static_cast<float>(frame.bytes[i]) / 255.0f;
        }
        if (calibration != nullptr) {
            calibration::apply(*calibration, frame.bytes.data(), values);
        }
        for (const float value : values) {
            message.add(value);
        }
        return message;
    }
    OscMessage message(addressOf(n, "frame"));
    for (std::size_t i = 0; i < protocol::kSensorCount; ++i) {
        message.add(std::int32_t{frame.bytes[i]});
    }
    message.add(std::int32_t{frame.checksumGood ? 1 : 0});
    message.add(static_cast<std::int64_t>(frame.sequence));
    message.add(std::chrono::duration<double>(frame.monotonic.time_since_epoch()).count());
    return message;
}

OscSender::OscSender(const UdpTarget& target, int n, OscFormat format,
                     std::optional<chirolink_calibration> calibration)
    : n_(n), format_(format), calibration_(calibration), udp_(target) {}

bool OscSender::sendFrame(const StampedFrame& frame) {
    framesTaken_.fetch_add(1, std::memory_order_relaxed);
    const OscMessage message =
        frameMessage(n_, frame, format_, calibration_ ? &*calibration_ : nullptr);
    const std::lock_guard lock(mutex_);
    if (format_ == OscFormat::float32) {
        sendStateLocked("running");  // a frame came: the glove answers
    }
    if (!sendLocked(message)) {
        return false;
    }
    framesSent_.fetch_add(1, std::memory_order_relaxed);
    return true;
}

void OscSender::sendState(LinkState state) {
    if (format_ != OscFormat::float32 || state == LinkState::stopped) {
        return;
    }
    const std::lock_guard lock(mutex_);
    sendStateLocked(state == LinkState::running ? "running" : "reopening");
}

std::string OscSender::lastError() const {
    const std::lock_guard lock(mutex_);
    return udp_.error();
}

void OscSender::sendStateLocked(std::string_view state) {
    if (state != lastState_ && sendLocked(OscMessage(addressOf(n_, "state")).add(state))) {
        lastState_ = state;
    }
}

bool OscSender::sendLocked(const OscMessage& message) {
    const std::string packet = message.packet();
    if (udp_.send(packet.data(), packet.size())) {
        return true;
    }
    failures_.fetch_add(1, std::memory_order_relaxed);
    return false;
}

std::string FailureReport::since(const std::vector<std::unique_ptr<OscSender>>& senders) {
    std::uint64_t failures = 0;
    std::string why;
    for (const auto& sender : senders) {
        if (const auto mine = sender->failures(); mine > 0) {
            failures += mine;
            why = sender->lastError();
        }
    }
    if (failures <= reported_) {
        return {};
    }
    const auto fresh = failures - reported_;
    reported_ = failures;
    return std::to_string(fresh) + (fresh == 1 ? " message" : " messages") + " not sent: " + why;
}

}  // namespace chirolink::cli
