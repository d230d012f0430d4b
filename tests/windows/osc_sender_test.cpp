// The OSC sender of the chirolink command on Winsock: a glove's messages reach receivers on
// 127.0.0.1 and on ::1 exactly as made, a refused send is counted with the system's reason, and
// a name that does not resolve says so. What the messages hold is checked on Linux against
// liblo (tests/tools/osc_test.cpp); here it is the socket layer.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>

#include <gtest/gtest.h>

#include "../lib/loopback.h"
#include "osc.h"
#include "udp.h"

namespace chirolink::cli {
namespace {

// A UDP socket on a loopback address, on a free port.
class Receiver {
public:
    explicit Receiver(int family) {
        socket_ = ::socket(family, SOCK_DGRAM, IPPROTO_UDP);
        EXPECT_NE(socket_, INVALID_SOCKET) << WSAGetLastError();
        sockaddr_storage address;
        int length = testing::loopbackAddress(family, address);
        EXPECT_EQ(::bind(socket_, reinterpret_cast<sockaddr*>(&address), length), 0)
            << WSAGetLastError();
        EXPECT_EQ(::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length), 0);
        port_ = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(address).sin6_port
                                         : reinterpret_cast<sockaddr_in&>(address).sin_port);
        const DWORD patience = 5000;
        setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&patience),
                   sizeof patience);
    }
    ~Receiver() { ::closesocket(socket_); }

    std::string port() const { return std::to_string(port_); }
    // The next datagram; empty when none came within 5 s.
    std::string next() {
        char buffer[2048];
        const int size = ::recv(socket_, buffer, sizeof buffer, 0);
        return size > 0 ? std::string(buffer, static_cast<std::size_t>(size)) : std::string();
    }

private:
    SOCKET socket_ = INVALID_SOCKET;
    unsigned short port_ = 0;
};

class OscSenderOnWinsock : public ::testing::TestWithParam<const char*> {
protected:
    static void SetUpTestSuite() {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    }
};

StampedFrame aFrame() {
    StampedFrame frame;
    frame.bytes = {0, 1, 127, 128, 200, 254, 255, 9};
    frame.checksumGood = true;
    frame.sequence = 42;
    frame.monotonic = std::chrono::steady_clock::time_point(std::chrono::milliseconds(123456));
    return frame;
}

TEST_P(OscSenderOnWinsock, MessagesArriveAsMade) {
    const std::string host = GetParam();
    Receiver receiver(host == "::1" ? AF_INET6 : AF_INET);
    const auto resolved = resolveUdp(host, receiver.port());
    ASSERT_EQ(resolved.error, "");
    const StampedFrame frame = aFrame();

    OscSender frames(resolved.target, 1, OscFormat::frame);
    EXPECT_TRUE(frames.sendFrame(frame));
    EXPECT_EQ(receiver.next(), frameMessage(1, frame, OscFormat::frame).packet());

    OscSender floats(resolved.target, 2, OscFormat::float32);
    EXPECT_TRUE(floats.sendFrame(frame));
    EXPECT_EQ(receiver.next(), OscMessage("/chirolink/2/state").add("running").packet());
    EXPECT_EQ(receiver.next(), frameMessage(2, frame, OscFormat::float32).packet());
    EXPECT_EQ(frames.failures() + floats.failures(), 0u) << floats.lastError();
    EXPECT_EQ(frames.framesSent() + floats.framesSent(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Loopback, OscSenderOnWinsock, ::testing::Values("127.0.0.1", "::1"),
                         [](const auto& info) {
                             return std::string(info.param) == "::1" ? "Ipv6" : "Ipv4";
                         });

TEST(OscSenderFailures, ARefusedSendIsCountedWithTheReason) {
    const auto resolved = resolveUdp("255.255.255.255", "9");  // broadcast: refused by default
    ASSERT_EQ(resolved.error, "");
    OscSender sender(resolved.target, 1, OscFormat::frame);
    EXPECT_FALSE(sender.sendFrame(aFrame()));
    EXPECT_FALSE(sender.sendFrame(aFrame()));
    EXPECT_EQ(sender.failures(), 2u);
    EXPECT_EQ(sender.framesSent(), 0u);
    const std::string error = sender.lastError();
    EXPECT_EQ(error.rfind("255.255.255.255:9: ", 0), 0u) << error;
    EXPECT_GT(error.size(), std::string("255.255.255.255:9: ").size()) << error;
}

TEST(OscSenderFailures, ANameThatDoesNotResolveSaysSo) {
    const auto resolved = resolveUdp("nosuch.invalid", "9000");
    EXPECT_TRUE(resolved.target.addresses.empty());
    EXPECT_EQ(resolved.error.rfind("cannot resolve 'nosuch.invalid': ", 0), 0u) << resolved.error;
}

}  // namespace
}  // namespace chirolink::cli
