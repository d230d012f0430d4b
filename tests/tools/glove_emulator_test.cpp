#include "glove_emulator.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <numeric>
#include <thread>

#include <gtest/gtest.h>

#include "host_port.h"

namespace chirolink::tools::test {
namespace {

constexpr std::uint8_t kHello = 0x41;
constexpr std::uint8_t kRequest = 0x43;
constexpr std::array<std::uint8_t, 7> kValues{10, 20, 30, 40, 50, 60, 70};
const Bytes kFrame{0x80, 10, 20, 30, 40, 50, 60, 70, 0x60};
const Bytes kBadFrame{0x80, 10, 20, 30, 40, 50, 60, 70, 0x9F};

bool linkExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

class EmulatorTest : public ::testing::Test {
protected:
    EmulatorTest() { emulator.setInstant(true); }
    GloveEmulator emulator;
};

// Each step sends `each` and then a marker byte whose reply shows where the step's reply ends.
struct ReplyCase {
    const char* name;
    void (*setup)(GloveEmulator&);
    Bytes each;
    std::vector<Bytes> replies;
};

TEST(EmulatorReplies, AnswerAsConfigured) {
    const Bytes noisy = [] {
        Bytes b{0x00, 0xFF, 0x80};
        b.insert(b.end(), kFrame.begin(), kFrame.end());
        return b;
    }();
    const ReplyCase cases[] = {
        {"hello", [](GloveEmulator&) {}, {kHello}, {{0x55}, {0x55}}},
        {"wrong hello answer",
         [](GloveEmulator& e) { e.setHelloAnswer(0x23); },
         {kHello},
         {{0x23}}},
        {"hello answered from the third",
         [](GloveEmulator& e) { e.answerHelloFrom(3); },
         {kHello},
         {{}, {}, {0x55}, {0x55}}},
        {"request", [](GloveEmulator&) {}, {kRequest}, {kFrame, kFrame}},
        {"noise before header",
         [](GloveEmulator& e) {
             e.setNoiseBeforeHeader({0x00, 0xFF, 0x80});
         },
         {kRequest},
         {noisy, noisy}},
        {"bad checksum every 2nd",
         [](GloveEmulator& e) { e.corruptChecksumEvery(2); },
         {kRequest},
         {kFrame, kBadFrame, kFrame, kBadFrame}},
        {"drop every 3rd",
         [](GloveEmulator& e) { e.dropReplyEvery(3); },
         {kRequest},
         {kFrame, kFrame, {}, kFrame, kFrame, {}, kFrame}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        GloveEmulator e;
        e.setInstant(true);
        e.setFixedValues(kValues);
        c.setup(e);
        HostPort host(e.path());
        const bool askingHello = c.each == Bytes{kHello};
        for (std::size_t k = 0; k < c.replies.size(); ++k) {
            EXPECT_EQ(askingHello ? host.exchange(c.each, kRequest, kFrame)
                                  : host.exchange(c.each, kHello, {0x55}),
                      c.replies[k])
                << "step " << k + 1;
        }
    }
}

TEST(EmulatorReplies, FrameCarriesTheValuesAndTheirXor) {
    EXPECT_EQ(GloveEmulator::checksum(kValues), 0x60);
    GloveEmulator e;
    e.setFixedValues(kValues);
    HostPort host(e.path());
    host.send({kRequest});
    EXPECT_EQ(host.read(9), kFrame);
    ASSERT_TRUE(e.waitForFrames(1, milliseconds(2000)));
    EXPECT_EQ(e.framesSent(), 1u);
    const auto last = e.lastFrame();
    EXPECT_EQ(Bytes(last.begin(), last.end()), Bytes(kFrame.begin() + 1, kFrame.end()));
}

TEST(EmulatorReplies, FallSilentWhenToldTo) {
    const std::pair<void (*)(GloveEmulator&), std::size_t> cases[] = {
        {[](GloveEmulator& e) { e.stopAfterFrames(2); }, 2},
        {[](GloveEmulator& e) { e.setSilent(true); }, 0},
    };
    for (const auto& [setup, frames] : cases) {
        SCOPED_TRACE(frames);
        GloveEmulator e;
        e.setInstant(true);
        e.setFixedValues(kValues);
        setup(e);
        HostPort host(e.path());
        host.send({kRequest, kRequest, kRequest, kHello});
        ASSERT_TRUE(e.waitForReceived(kHello, 1, milliseconds(2000)));
        Bytes expected;
        for (std::size_t k = 0; k < frames; ++k) {
            expected.insert(expected.end(), kFrame.begin(), kFrame.end());
        }
        EXPECT_EQ(host.read(100, milliseconds(150)), expected);
        EXPECT_EQ(e.framesSent(), frames);
    }
}

TEST_F(EmulatorTest, AnimatesSmoothly) {
    emulator.setFixedValues(kValues);
    emulator.setAnimated();
    HostPort host(emulator.path());
    std::vector<Bytes> frames;
    const auto until = SteadyClock::now() + milliseconds(400);
    while (SteadyClock::now() < until) {
        host.send({kRequest});
        frames.push_back(host.read(9));
        ASSERT_EQ(frames.back().size(), 9u);
        std::this_thread::sleep_for(milliseconds(4));
    }
    const auto log = emulator.received();
    ASSERT_EQ(log.size(), frames.size());
    int changed = 0;
    for (std::size_t k = 0; k < frames.size(); ++k) {
        const auto& f = frames[k];
        ASSERT_EQ(f[8], std::accumulate(f.begin() + 1, f.begin() + 8, 0, std::bit_xor<>()));
        if (k == 0) {
            continue;
        }
        // Swings of about 220 units over 3 s: allow twice that rate between two requests.
        const double dt = std::chrono::duration<double>(log[k].at - log[k - 1].at).count();
        const int allowed = 2 + static_cast<int>(500 * dt);
        for (std::size_t i = 1; i < 8; ++i) {
            EXPECT_LE(std::abs(f[i] - frames[k - 1][i]), allowed) << "frame " << k << " byte " << i;
            changed += f[i] != frames[0][i];
        }
    }
    EXPECT_GT(changed, 0) << "animation never moved";
}

TEST(EmulatorTiming, RealLineTimingPacesBytesAndInstantDoesNot) {
    GloveEmulator real;
    real.setFixedValues(kValues);
    HostPort host(real.path());
    double fastestInstant = 1e9;
    SteadyClock::duration widestSpread{};
    for (int round = 0; round < 6; ++round) {
        std::vector<SteadyClock::time_point> times;
        const auto start = SteadyClock::now();
        host.send({kRequest});
        ASSERT_EQ(host.read(9, milliseconds(2000), &times), kFrame);
        // The request and the 9 answer bytes are 10 byte times (5.2 ms) end to end, a bound
        // that delays only lengthen.
        EXPECT_GE(times.back() - start, std::chrono::microseconds(5000));
        widestSpread = std::max(widestSpread, times.back() - times.front());
    }
    // First to last answer byte is 8 byte times (4.2 ms) when the reader keeps up; a busy
    // machine can make it read late and see bytes bunched up, but not in every round.
    EXPECT_GE(widestSpread, std::chrono::microseconds(3000));
    real.setInstant(true);
    for (int round = 0; round < 8; ++round) {
        const auto start = SteadyClock::now();
        host.send({kRequest});
        ASSERT_EQ(host.read(9), kFrame);
        fastestInstant =
            std::min(fastestInstant,
                     std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count());
    }
    EXPECT_LT(fastestInstant, 2.5);
}

TEST_F(EmulatorTest, LogsEveryByteInOrderAndIgnoresUnknownOnes) {
    HostPort host(emulator.path());
    const auto before = SteadyClock::now();
    EXPECT_TRUE(host.exchange({0x12, 0x7F}, kHello, Bytes{0x55}).empty());
    host.send({kRequest});
    ASSERT_EQ(host.read(9).size(), 9u);
    const auto log = emulator.received();
    ASSERT_EQ(log.size(), 4u);
    const Bytes expected{0x12, 0x7F, kHello, kRequest};
    for (std::size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(log[i].value, expected[i]);
        EXPECT_GE(log[i].at, i == 0 ? before : log[i - 1].at);
    }
    EXPECT_LE(log.back().at, SteadyClock::now());
    // The answers were not echoed back into the log.
    EXPECT_EQ(emulator.countReceived(0x55), 0u);
    EXPECT_EQ(emulator.countReceived(0x12), 1u);
    // A waiter already blocked is woken by a byte arriving later.
    std::thread late([&] {
        std::this_thread::sleep_for(milliseconds(50));
        host.send({0x12});
    });
    const auto waitStart = SteadyClock::now();
    EXPECT_TRUE(emulator.waitForReceived(0x12, 2, milliseconds(5000)));
    EXPECT_LT(SteadyClock::now() - waitStart, milliseconds(2500)) << "woken only by the timeout";
    late.join();
    emulator.clearLog();
    EXPECT_TRUE(emulator.received().empty());
    EXPECT_EQ(emulator.countReceived(kRequest), 0u);
    EXPECT_EQ(emulator.framesSent(), 1u);
}

TEST_F(EmulatorTest, LineIsRawBeforeTheHostConfiguresIt) {
    termios tio{};
    ASSERT_TRUE(emulator.lineSettings(tio));
    EXPECT_EQ(tio.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(tio.c_iflag & (ICRNL | IXON | ISTRIP), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    HostPort host(emulator.path(), false);
    // Carriage return, ^C and newline would be translated or swallowed by a cooked line.
    emulator.sendRaw({0x0D, 0x03, 0x0A, 0x11});
    EXPECT_EQ(host.read(4), (Bytes{0x0D, 0x03, 0x0A, 0x11}));
}

TEST_F(EmulatorTest, KeepsAnsweringWhenTheHostReopensThePort) {
    for (int session = 0; session < 3; ++session) {
        HostPort host(emulator.path());
        EXPECT_EQ(host.exchange({}, kHello, Bytes{0x55}), Bytes{}) << "session " << session;
    }
}

TEST(EmulatorPlug, UnplugHangsUpAndRemovesLinkPlugRestoresIt) {
    const auto link = uniqueLinkPath("plug");
    {
        GloveEmulator e(link);
        e.setInstant(true);
        EXPECT_EQ(e.path(), link);
        HostPort host(link);
        e.unplug();
        EXPECT_FALSE(e.plugged());
        EXPECT_FALSE(linkExists(link));
        EXPECT_EQ(e.masterFd(), -1);
        pollfd pfd{host.fd(), POLLIN, 0};
        ASSERT_EQ(::poll(&pfd, 1, 2000), 1);
        EXPECT_TRUE(pfd.revents & POLLHUP);
        const std::uint8_t hello = kHello;
        EXPECT_EQ(::write(host.fd(), &hello, 1), -1);
        EXPECT_EQ(errno, EIO);

        e.plug();
        ASSERT_TRUE(e.plugged());
        char target[256] = {};
        ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(std::string(target), e.slavePath());
        HostPort again(link);
        EXPECT_EQ(again.exchange({}, kHello, Bytes{0x55}), Bytes{});

        // Scheduled: out after 50 ms, back 100 ms later.
        e.unplugAfter(0.05, 0.1);
        ASSERT_TRUE(e.waitForPlugged(false, milliseconds(2000)));
        EXPECT_FALSE(linkExists(link));
        ASSERT_TRUE(e.waitForPlugged(true, milliseconds(2000)));
        EXPECT_TRUE(linkExists(link));
        HostPort third(link);
        EXPECT_EQ(third.exchange({}, kHello, Bytes{0x55}), Bytes{});
    }
    EXPECT_FALSE(linkExists(link));
}

}  // namespace
}  // namespace chirolink::tools::test
