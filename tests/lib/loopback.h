// The loopback address of an address family, for the OSC tests' receivers on Linux and Windows.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace chirolink::testing {

/// Fills `address` with the loopback address of `family` (AF_INET6, else AF_INET), port 0, and
/// returns its length.
inline int loopbackAddress(int family, sockaddr_storage& address) {
    address = {};
    if (family == AF_INET6) {
        auto& in6 = reinterpret_cast<sockaddr_in6&>(address);
        in6.sin6_family = AF_INET6;
        in6.sin6_addr = in6addr_loopback;
        return sizeof in6;
    }
    auto& in = reinterpret_cast<sockaddr_in&>(address);
    in.sin_family = AF_INET;
    in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sizeof in;
}

}  // namespace chirolink::testing
