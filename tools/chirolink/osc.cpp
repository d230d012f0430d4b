#include "osc.h"

#include <netdb.h>
#include <sys/socket.h>

#include <chrono>
#include <memory>

namespace chirolink::cli {

Resolved resolveHost(const std::string& host, const std::string& port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (const int error = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); error != 0) {
        return {{}, "cannot resolve '" + host + "': " + ::gai_strerror(error)};
    }
    std::unique_ptr<addrinfo, void (*)(addrinfo*)> owner(found, ::freeaddrinfo);
    char address[NI_MAXHOST];
    if (::getnameinfo(found->ai_addr, found->ai_addrlen, address, sizeof address, nullptr, 0,
                      NI_NUMERICHOST) != 0) {
        return {{}, "cannot resolve '" + host + "'"};
    }
    return {address, {}};
}

OscSender::OscSender(const std::string& address, const std::string& port, int n)
    : target_(lo_address_new_with_proto(LO_UDP, address.c_str(), port.c_str())),
      path_("/chirolink/" + std::to_string(n) + "/frame") {}

OscSender::~OscSender() {
    if (target_ != nullptr) {
        lo_address_free(target_);
    }
}

bool OscSender::send(const StampedFrame& frame) {
    if (target_ == nullptr) {
        return false;
    }
    const lo_message message = lo_message_new();
    if (message == nullptr) {
        return false;
    }
    for (std::size_t i = 0; i < protocol::kSensorCount; ++i) {
        lo_message_add_int32(message, frame.bytes[i]);
    }
    lo_message_add_int32(message, frame.checksumGood ? 1 : 0);
    lo_message_add_int64(message, static_cast<int64_t>(frame.sequence));
    lo_message_add_double(
        message, std::chrono::duration<double>(frame.monotonic.time_since_epoch()).count());
    const bool sent = lo_send_message(target_, path_.c_str(), message) >= 0;
    lo_message_free(message);
    return sent;
}

}  // namespace chirolink::cli
