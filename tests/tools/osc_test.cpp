// The OSC sender of `chirolink stream`: its messages byte for byte against liblo's, the program
// streaming to receivers on 127.0.0.1 and on ::1 in both formats, the state messages, a name
// with an address that refuses, and a run in which no message can be sent.
//
// The receivers are UDP sockets of the test's own, with liblo decoding what arrives: Debian's
// liblo is built without IPv6, so its servers cannot listen on ::1.
#include <arpa/inet.h>
#include <lo/lo.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>

#include <gtest/gtest.h>

#include "../lib/loopback.h"
#include "glove_emulator.h"
#include "host_port.h"
#include "osc.h"
#include "process.h"
#include "udp.h"

namespace chirolink::tools::test {
namespace {

using namespace std::chrono_literals;
using cli::OscFormat;

constexpr std::array<std::uint8_t, 7> kValues{0, 1, 127, 128, 200, 254, 255};

// One decoded argument; `number` holds i, h, f and d alike.
struct Argument {
    char type;
    double number;
    std::string text;
};

struct Message {
    std::string path, types;
    std::vector<Argument> arguments;
};

// Decodes one datagram with liblo; an empty path when liblo refuses it.
Message decode(std::vector<char> datagram) {
    int result = 0;
    const lo_message message = lo_message_deserialise(datagram.data(), datagram.size(), &result);
    if (message == nullptr) {
        ADD_FAILURE() << "liblo refused a datagram: error " << result;
        return {};
    }
    Message decoded{lo_get_path(datagram.data(), static_cast<ssize_t>(datagram.size())),
                    lo_message_get_types(message),
                    {}};
    lo_arg** argv = lo_message_get_argv(message);
    // The arguments lie at 4-byte boundaries: copied out, not read in place.
    auto copy = [](const lo_arg* at, auto value) {
        std::memcpy(&value, at, sizeof value);
        return value;
    };
    for (std::size_t i = 0; i < decoded.types.size(); ++i) {
        Argument argument{decoded.types[i], 0, {}};
        switch (argument.type) {
            case 'i':
                argument.number = copy(argv[i], std::int32_t{});
                break;
            case 'h':
                argument.number = static_cast<double>(copy(argv[i], std::int64_t{}));
                break;
            case 'f':
                argument.number = copy(argv[i], float{});
                break;
            case 'd':
                argument.number = copy(argv[i], double{});
                break;
            case 's':
                argument.text = &argv[i]->s;
                break;
            default:
                ADD_FAILURE() << "unexpected type " << argument.type;
        }
        decoded.arguments.push_back(argument);
    }
    lo_message_free(message);
    return decoded;
}

// A UDP socket on 127.0.0.1 or ::1, on a free port.
class Receiver {
public:
    explicit Receiver(int family) : family_(family) {
        fd_ = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        EXPECT_GE(fd_, 0);
        sockaddr_storage address;
        auto length = static_cast<socklen_t>(testing::loopbackAddress(family, address));
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), length), 0);
        EXPECT_EQ(::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length), 0);
        port_ = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(address).sin6_port
                                         : reinterpret_cast<sockaddr_in&>(address).sin_port);
    }
    ~Receiver() { ::close(fd_); }

    int port() const { return port_; }
    std::string host() const { return family_ == AF_INET6 ? "::1" : "127.0.0.1"; }
    // As --osc takes it.
    std::string hostPort() const {
        return (family_ == AF_INET6 ? "[::1]:" : "127.0.0.1:") + std::to_string(port_);
    }

    // Adds what arrives to `messages` until `done(messages)` or `timeout`; true when done.
    bool collect(std::vector<Message>& messages,
                 const std::function<bool(const std::vector<Message>&)>& done,
                 std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!done(messages)) {
            if (std::chrono::steady_clock::now() >= end) {
                return false;
            }
            pollfd ready{fd_, POLLIN, 0};
            if (::poll(&ready, 1, 20) == 1) {
                std::vector<char> datagram(65536);
                const auto size = ::recv(fd_, datagram.data(), datagram.size(), 0);
                if (size > 0) {
                    datagram.resize(static_cast<std::size_t>(size));
                    messages.push_back(decode(std::move(datagram)));
                }
            }
        }
        return true;
    }
    // Whatever is still waiting.
    void drain(std::vector<Message>& messages) {
        collect(
            messages, [](const auto&) { return false; }, 100ms);
    }

private:
    int family_;
    int fd_ = -1;
    int port_ = 0;
};

std::size_t countPath(const std::vector<Message>& messages, const std::string& path) {
    return static_cast<std::size_t>(std::count_if(
        messages.begin(), messages.end(), [&](const Message& m) { return m.path == path; }));
}

// The state messages, in order.
std::vector<std::string> statesIn(const std::vector<Message>& messages) {
    std::vector<std::string> states;
    for (const auto& m : messages) {
        if (m.path == "/chirolink/1/state") {
            EXPECT_EQ(m.types, "s");
            states.push_back(m.arguments.at(0).text);
        }
    }
    return states;
}

TEST(OscMessage, IsByteForByteWhatLibloMakesOfTheSameArguments) {
    // Addresses and strings of every length modulo 4, for the padding.
    for (const std::string address : {"/a", "/ab", "/abc", "/abcd"}) {
        for (const std::string text : {"", "x", "xy", "xyz", "wxyz"}) {
            cli::OscMessage ours(address);
            ours.add(std::int32_t{-5})
                .add(std::int64_t{0x0102030405060708})
                .add(0.25f)
                .add(-1.5e-3)
                .add(text)
                .add(std::int32_t{2147483647});
            const lo_message theirs = lo_message_new();
            lo_message_add_int32(theirs, -5);
            lo_message_add_int64(theirs, 0x0102030405060708);
            lo_message_add_float(theirs, 0.25f);
            lo_message_add_double(theirs, -1.5e-3);
            lo_message_add_string(theirs, text.c_str());
            lo_message_add_int32(theirs, 2147483647);
            std::size_t size = 0;
            void* bytes = lo_message_serialise(theirs, address.c_str(), nullptr, &size);
            ASSERT_NE(bytes, nullptr);
            EXPECT_EQ(ours.packet(), std::string(static_cast<const char*>(bytes), size))
                << address << " '" << text << "'";
            std::free(bytes);
            lo_message_free(theirs);
        }
    }
}

struct StreamCase {
    int family;
    OscFormat format;
};

class OscStream : public ::testing::TestWithParam<StreamCase> {};

// The glove's frames as the program streams them for a while, decoded by liblo.
TEST_P(OscStream, EveryFrameArrivesAsDocumented) {
    const auto [family, format] = GetParam();
    const bool floats = format == OscFormat::float32;
    GloveEmulator glove;
    glove.setFixedValues(kValues);
    glove.corruptChecksumEvery(3);
    Receiver receiver(family);
    const std::string path = floats ? "/chirolink/1/values" : "/chirolink/1/frame";
    std::vector<std::string> args{"stream",     glove.path(), "--osc", receiver.hostPort(),
                                  "--duration", "1.5"};
    if (floats) {
        args.insert(args.end(), {"--osc-format", "float"});  // frame is the default
    }
    Process stream(CHIROLINK_PROGRAM, args);
    std::vector<Message> messages;
    receiver.collect(
        messages, [&](const auto& got) { return countPath(got, path) >= 100; }, 15s);
    ASSERT_EQ(stream.wait(10s), 0) << stream.err();
    receiver.drain(messages);
    EXPECT_EQ(stream.err().find(" not sent:"), std::string::npos) << stream.err();

    ASSERT_GE(countPath(messages, path), 100u);
    if (floats) {
        // The state first, once: the glove ran throughout.
        EXPECT_EQ(messages.front().path, "/chirolink/1/state");
        EXPECT_EQ(statesIn(messages), std::vector<std::string>{"running"});
    } else {
        EXPECT_EQ(countPath(messages, path), messages.size());
    }
    const double now =
        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    double lastSequence = 0;
    double lastTime = 0;
    for (const auto& m : messages) {
        if (m.path != path) {
            continue;
        }
        ASSERT_EQ(m.types, floats ? "fffffff" : "iiiiiiiihd");
        for (std::size_t i = 0; i < kValues.size(); ++i) {
            if (floats) {
                EXPECT_FLOAT_EQ(static_cast<float>(m.arguments[i].number), kValues[i] / 255.0f);
            } else {
                EXPECT_EQ(m.arguments[i].number, kValues[i]);
            }
        }
        if (!floats) {
            const double sequence = m.arguments[8].number;
            EXPECT_EQ(m.arguments[7].number, std::fmod(sequence, 3) == 0 ? 0 : 1) << sequence;
            EXPECT_GT(sequence, lastSequence);
            EXPECT_GE(m.arguments[9].number, lastTime);
            EXPECT_NEAR(m.arguments[9].number, now, 20.0);
            lastSequence = sequence;
            lastTime = m.arguments[9].number;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Receivers, OscStream,
    // The frame format to 127.0.0.1 is chirolink_test's, with a liblo server as the receiver.
    ::testing::Values(StreamCase{AF_INET6, OscFormat::frame},
                      StreamCase{AF_INET, OscFormat::float32},
                      StreamCase{AF_INET6, OscFormat::float32}),
    [](const auto& info) {
        return std::string(info.param.family == AF_INET6 ? "Ipv6Loopback" : "Ipv4Loopback") +
               (info.param.format == OscFormat::float32 ? "Float" : "Frame");
    });

TEST(OscStreamState, SaysWhenTheGloveGoesAwayAndWhenItIsBack) {
    GloveEmulator glove(uniqueLinkPath("osc-state"));
    glove.setFixedValues(kValues);
    Receiver receiver(AF_INET);
    Process stream(CHIROLINK_PROGRAM,
                   {"stream", glove.path(), "--osc", receiver.hostPort(), "--osc-format", "float"});
    std::vector<Message> messages;
    auto values = [](const std::vector<Message>& got) {
        return countPath(got, "/chirolink/1/values");
    };
    ASSERT_TRUE(receiver.collect(
        messages, [&](const auto& got) { return values(got) >= 20; }, 15s))
        << stream.err();
    glove.unplug();
    ASSERT_TRUE(receiver.collect(
        messages, [](const auto& got) { return statesIn(got).size() >= 2; }, 5s));
    const auto before = values(messages);
    glove.plug();
    ASSERT_TRUE(receiver.collect(
        messages,
        [&](const auto& got) { return statesIn(got).size() >= 3 && values(got) >= before + 20; },
        10s));
    stream.signal(SIGINT);
    ASSERT_EQ(stream.wait(10s), 0) << stream.err();
    receiver.drain(messages);

    EXPECT_EQ(statesIn(messages), (std::vector<std::string>{"running", "reopening", "running"}));
    // Values before the glove went away and after it came back, none while it was away.
    std::vector<std::string> order;
    for (const auto& m : messages) {
        if (order.empty() || order.back() != m.path || m.path.ends_with("/state")) {
            order.push_back(m.path);
        }
    }
    EXPECT_EQ(order, (std::vector<std::string>{"/chirolink/1/state", "/chirolink/1/values",
                                               "/chirolink/1/state", "/chirolink/1/state",
                                               "/chirolink/1/values"}));
}

TEST(OscStreamFailures, ARunInWhichNoMessageCanBeSentIsReportedEachSecondAndExitsOne) {
    GloveEmulator glove;
    glove.setInstant(true);
    // Datagrams to the broadcast address are refused to a socket without SO_BROADCAST.
    const auto run = runToEnd(CHIROLINK_PROGRAM, {"stream", glove.path(), "--osc",
                                                  "255.255.255.255:9", "--duration", "2.5"});
    EXPECT_EQ(run.status, 1) << run.err;
    const std::string head = "chirolink: stream: ";
    const std::string tail = " messages not sent: 255.255.255.255:9: Permission denied";
    std::size_t reports = 0;
    std::istringstream lines(run.err);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(head) && line.ends_with(tail)) {
            const auto count = line.substr(head.size(), line.size() - head.size() - tail.size());
            EXPECT_TRUE(!count.empty() && count.find_first_not_of("0123456789") == count.npos &&
                        std::stoul(count) > 0)
                << line;
            ++reports;
        }
    }
    EXPECT_GE(reports, 2u) << run.err;  // once a second, and for the rest at the end
    EXPECT_LE(reports, 4u) << run.err;
    // The progress counts the frames taken from the glove, and the messages not sent apart.
    const auto last = run.err.rfind(" s, ");
    ASSERT_NE(last, std::string::npos) << run.err;
    std::istringstream progress(run.err.substr(last + 4));
    std::uint64_t frames = 0, errors = 0, notSent = 0;
    std::string word[5];
    progress >> frames >> word[0] >> word[1] >> errors >> word[2] >> notSent >> word[3] >> word[4];
    EXPECT_EQ(word[0] + word[2] + word[3] + word[4], "frames,errors,notsent") << run.err;
    EXPECT_GT(frames, 200u) << run.err;
    EXPECT_EQ(notSent, frames) << run.err;  // every message is refused
    EXPECT_TRUE(run.err.ends_with("chirolink: stream: not one message could be sent\n")) << run.err;
}

// A name with an IPv6 and an IPv4 address (localhost, where the hosts file gives both) whose
// receiver listens on IPv4 only: the IPv6 address refuses, and the sender moves on.
TEST(UdpSender, MovesOnToTheNextAddressWhenOneRefuses) {
    int closedPort = 0;
    {
        Receiver gone(AF_INET6);  // a port on ::1 that nobody listens on once it is closed
        closedPort = gone.port();
    }
    Receiver receiver(AF_INET);
    cli::UdpTarget target;
    for (const auto& [host, port] : {std::pair<std::string, int>{"::1", closedPort},
                                     std::pair<std::string, int>{"127.0.0.1", receiver.port()}}) {
        const auto resolved = cli::resolveUdp(host, std::to_string(port));
        ASSERT_EQ(resolved.error, "");
        ASSERT_EQ(resolved.target.addresses.size(), 1u) << host;
        target.addresses.push_back(resolved.target.addresses.front());
    }
    cli::UdpSender sender(target);
    const cli::OscMessage message = cli::OscMessage("/x").add(std::int32_t{1});
    const std::string packet = message.packet();
    int failures = 0;
    for (int i = 0; i < 10; ++i) {
        if (!sender.send(packet.data(), packet.size())) {
            ++failures;
            EXPECT_EQ(sender.error(),
                      "[::1]:" + std::to_string(closedPort) + ": Connection refused");
        }
    }
    std::vector<Message> messages;
    receiver.drain(messages);
    EXPECT_GE(failures, 1);
    EXPECT_GE(messages.size(), 7u);
    EXPECT_EQ(messages.size() + static_cast<std::size_t>(failures), 10u - 1)
        << "one datagram goes to ::1 before it refuses";
}

}  // namespace
}  // namespace chirolink::tools::test
