// UDP datagrams to HOST:PORT, on BSD sockets and on Winsock. udp.cpp is the one place that
// knows the two apart (Winsock's start-up, its error codes, closesocket).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace chirolink::cli {

/// Where datagrams go: every address the host name resolved to, IPv6 and IPv4, in the
/// resolver's order. Each is a socket address (sockaddr_in or sockaddr_in6) as raw bytes.
struct UdpTarget {
    std::vector<std::string> addresses;
};

struct ResolvedTarget {
    UdpTarget target;
    std::string error;  // why the host did not resolve; empty when it did
};

/// Resolves `host` (a name, an IPv4 address, or an IPv6 address without brackets) with the
/// numeric `port`.
ResolvedTarget resolveUdp(const std::string& host, const std::string& port);

/// A socket address for people: "127.0.0.1:9000", "[::1]:9000".
std::string describeAddress(const std::string& address);

/// A UDP socket connected to one address of a target at a time. A connected socket learns
/// from the system when its address refuses datagrams (nobody listens there, no route): the
/// send that finds out fails, and the next one goes to the target's next address. A name with
/// an IPv6 and an IPv4 address thus reaches a receiver that listens on either.
/// Not for use by two threads at once.
class UdpSender {
public:
    explicit UdpSender(UdpTarget target);
    ~UdpSender();
    UdpSender(const UdpSender&) = delete;
    UdpSender& operator=(const UdpSender&) = delete;

    /// Sends one datagram; false when it could not be sent, and error() says why.
    bool send(const void* data, std::size_t size);
    /// The latest failure: "[::1]:9000: Connection refused".
    const std::string& error() const { return error_; }

private:
    bool connectCurrent();
    void fail(int code, bool moveOn);

    const UdpTarget target_;
    std::size_t current_ = 0;
    std::intptr_t socket_ = -1;
    std::string error_;
};

}  // namespace chirolink::cli
