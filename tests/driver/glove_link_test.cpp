// GloveLink on its own: several links in one process, stamped frames and counters, readers
// that wait, queue or take callbacks, and why a start failed.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "chirolink.h"
#include "glove_emulator.h"
#include "glove_link.h"
#include "sample.h"

namespace chirolink {
namespace {

using chirolink::testing::eventually;
using chirolink::testing::milliseconds;
using tools::GloveEmulator;

using Values = std::array<std::uint8_t, 7>;

// Byte 0 of a sample buffer, read with one atomic load of the whole buffer as a careful
// reader does.
std::uint8_t firstByte(const unsigned char* buffer) {
    const auto word =
        __atomic_load_n(reinterpret_cast<const std::uint64_t*>(buffer), __ATOMIC_ACQUIRE);
    return static_cast<std::uint8_t>(word & 0xFF);
}

Values valuesOf(const StampedFrame& frame) {
    Values values{};
    std::copy_n(frame.bytes.begin(), values.size(), values.begin());
    return values;
}

TEST(GloveLinkTest, SeveralLinksRunSideBySideBesideTheProcessLink) {
    GloveEmulator left;
    GloveEmulator right;
    GloveEmulator third;
    left.setFixedValues({1, 1, 1, 1, 1, 1, 1});
    right.setFixedValues({2, 2, 2, 2, 2, 2, 2});
    third.setFixedValues({3, 3, 3, 3, 3, 3, 3});
    GloveLink a;
    GloveLink b;
    ASSERT_EQ(a.start(left.path().c_str()), StartResult::started);
    ASSERT_EQ(b.start(right.path().c_str()), StartResult::started);
    ASSERT_EQ(GloveInit(third.path().c_str()), 1);

    ASSERT_TRUE(a.waitForFrame(5, milliseconds(3000)));
    ASSERT_TRUE(b.waitForFrame(5, milliseconds(3000)));
    EXPECT_EQ(valuesOf(a.latest()), (Values{1, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(valuesOf(b.latest()), (Values{2, 2, 2, 2, 2, 2, 2}));
    EXPECT_EQ(firstByte(a.data()), 1);
    EXPECT_EQ(firstByte(b.data()), 2);
    EXPECT_TRUE(chirolink::testing::showsValues({3, 3, 3, 3, 3, 3, 3}));
    EXPECT_NE(a.data(), GloveGetDataPtr());
    EXPECT_EQ(GloveLink::process().data(), GloveGetDataPtr());

    a.stop();
    EXPECT_TRUE(chirolink::testing::requestsStopped(left));
    EXPECT_TRUE(b.waitForFrame(b.latest().sequence, milliseconds(3000))) << "b runs on";
    GloveInit(nullptr);
}

TEST(GloveLinkTest, StampsEveryFrameAndCountsWhatWentWrong) {
    GloveEmulator glove;
    glove.setInstant(true);
    glove.setFixedValues({10, 20, 30, 40, 50, 60, 70});
    glove.corruptChecksumEvery(4);
    glove.dropReplyEvery(10);
    GloveLink link;
    auto queue = link.subscribe(100);  // before the start: from the very first frame
    const auto before = std::chrono::system_clock::now();
    ASSERT_EQ(link.start(glove.path().c_str()), StartResult::started);
    std::vector<StampedFrame> frames;
    while (frames.size() < 20) {
        auto frame = queue->next(milliseconds(3000));
        ASSERT_TRUE(frame);
        frames.push_back(*frame);
    }
    link.stop();

    for (std::size_t i = 1; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].sequence, frames[i - 1].sequence + 1);
        EXPECT_GE(frames[i].monotonic, frames[i - 1].monotonic);
    }
    EXPECT_EQ(frames.front().sequence, 1u);
    EXPECT_GE(frames.front().wall, before);
    EXPECT_LE(frames.back().wall, std::chrono::system_clock::now());
    std::size_t bad = 0;
    for (const auto& frame : frames) {
        EXPECT_EQ(valuesOf(frame), (Values{10, 20, 30, 40, 50, 60, 70}));
        EXPECT_EQ(frame.checksumGood, protocol::frameIsGood(frame.bytes));
        bad += frame.checksumGood ? 0 : 1;
    }
    EXPECT_EQ(bad, 5u) << "every fourth frame";
    const LinkCounters counted = link.counters();
    EXPECT_GE(counted.frames, 20u);
    EXPECT_EQ(counted.badChecksums, counted.frames / 4);
    EXPECT_GE(counted.lostReplies, 1u) << "every tenth request goes unanswered";
    EXPECT_EQ(counted.reopens, 0u);
}

TEST(GloveLinkTest, WaitForFrameGivesANewerFrameOrTimesOut) {
    GloveEmulator glove;
    glove.setInstant(true);
    GloveLink link;
    ASSERT_EQ(link.start(glove.path().c_str()), StartResult::started);
    const auto first = link.waitForFrame(0, milliseconds(3000));
    ASSERT_TRUE(first);
    const auto later = link.waitForFrame(first->sequence, milliseconds(3000));
    ASSERT_TRUE(later);
    EXPECT_GT(later->sequence, first->sequence);

    glove.setSilent(true);
    std::this_thread::sleep_for(milliseconds(100));
    const auto start = chirolink::testing::Clock::now();
    EXPECT_FALSE(link.waitForFrame(link.latest().sequence, milliseconds(300)));
    EXPECT_GE(chirolink::testing::millisecondsSince(start), 290.0);
}

TEST(GloveLinkTest, SlowReadersMissFramesWithoutSlowingTheLink) {
    GloveEmulator glove;
    glove.setInstant(true);
    GloveLink link;
    ASSERT_EQ(link.start(glove.path().c_str()), StartResult::started);
    auto queue = link.subscribe(10);
    std::atomic<int> calls{0};
    {
        // A callback that takes 200 ms a frame.
        FrameCallback slow(link, [&](const StampedFrame&) {
            ++calls;
            std::this_thread::sleep_for(milliseconds(200));
        });
        ASSERT_TRUE(glove.waitForFrames(glove.framesSent() + 200, milliseconds(3000)))
            << "the link keeps its pace";
    }
    EXPECT_GE(calls.load(), 1);
    EXPECT_LE(calls.load(), 20);

    link.stop();
    // The queue kept the ten newest: consecutive among themselves, far behind the first frame.
    std::vector<std::uint64_t> sequences;
    while (auto frame = queue->next(milliseconds(0))) {
        sequences.push_back(frame->sequence);
    }
    ASSERT_EQ(sequences.size(), 10u);
    EXPECT_GT(sequences.front(), 100u) << "the oldest frames were dropped: a gap";
    EXPECT_EQ(sequences.back() - sequences.front(), 9u);
}

TEST(GloveLinkTest, CallbackThatThrowsIsCountedAndDeliveryGoesOn) {
    GloveEmulator glove;
    glove.setInstant(true);
    GloveLink link;
    ASSERT_EQ(link.start(glove.path().c_str()), StartResult::started);
    std::atomic<int> calls{0};
    FrameCallback failing(link, [&](const StampedFrame&) {
        // Any exception at all: a standard one, then something else.
        if (++calls % 2 == 1) {
            throw std::runtime_error("the reader failed");
        }
        throw 42;
    });
    EXPECT_TRUE(eventually([&] { return calls.load() >= 20; }, milliseconds(3000)))
        << "frames keep coming after a call threw: " << calls.load() << " calls";
    link.stop();
    // Every call threw: once the queue is drained, each one is counted.
    EXPECT_TRUE(eventually([&] { return failing.exceptions() == std::uint64_t(calls.load()); },
                           milliseconds(3000)))
        << failing.exceptions() << " exceptions counted in " << calls.load() << " calls";
}

TEST(GloveLinkTest, CountsAReopenedPort) {
    const chirolink::testing::TempDir dir;
    const std::string path = dir / "glove";
    {
        GloveEmulator glove(path);
        glove.setInstant(true);
        GloveLink link;
        ASSERT_EQ(link.start(path.c_str()), StartResult::started);
        ASSERT_TRUE(link.waitForFrame(3, milliseconds(3000)));
        glove.unplug();
        std::this_thread::sleep_for(milliseconds(300));
        glove.plug();
        EXPECT_TRUE(eventually([&] { return link.counters().reopens == 1; }, milliseconds(3000)));
        EXPECT_TRUE(link.waitForFrame(link.latest().sequence, milliseconds(3000)));
    }
}

struct StartCase {
    const char* name;
    std::function<std::string(GloveEmulator&)> port;
    StartResult result;
};

void PrintTo(const StartCase& c, std::ostream* out) {
    *out << c.name;
}

class StartResultTest : public ::testing::TestWithParam<StartCase> {};

TEST_P(StartResultTest, SaysWhyAStartFailed) {
    GloveEmulator glove;
    GloveLink holder;  // for a port somebody else holds
    const std::string port = GetParam().port(glove);
    if (GetParam().result == StartResult::busy) {
        ASSERT_EQ(holder.start(port.c_str()), StartResult::started);
    }
    GloveLink link;
    const StartResult result = link.start(port.c_str());
    EXPECT_EQ(result, GetParam().result) << describe(result);
    EXPECT_FALSE(link.running());
}

INSTANTIATE_TEST_SUITE_P(
    Ports, StartResultTest,
    ::testing::Values(
        StartCase{"EmptyName", [](GloveEmulator&) { return std::string(); }, StartResult::badName},
        StartCase{"Missing", [](GloveEmulator&) { return std::string("/dev/chirolink-none"); },
                  StartResult::missing},
        StartCase{"NotATerminal", [](GloveEmulator&) { return std::string("/dev/null"); },
                  StartResult::notATerminal},
        StartCase{"Busy", [](GloveEmulator& g) { return g.path(); }, StartResult::busy},
        StartCase{"NoAnswer",
                  [](GloveEmulator& g) {
                      g.setSilent(true);
                      return g.path();
                  },
                  StartResult::noAnswer}),
    [](const auto& info) { return info.param.name; });

// A serial node with no device behind it (ttyS1 to ttyS3 on most PCs) fails its open with EIO.
// So does the slave of a pseudo-terminal that its master has not unlocked.
TEST(GloveLinkTest, NodeWithNoDeviceBehindItIsMissing) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    char name[128] = {};
    const bool named = grantpt(master) == 0 && ptsname_r(master, name, sizeof name) == 0;
    const int opened = named ? open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC) : -1;
    const int why = errno;
    StartResult result = StartResult::started;
    if (named && opened < 0 && why == EIO) {
        GloveLink link;
        result = link.start(name);
    }
    if (opened >= 0) {
        close(opened);
    }
    close(master);
    ASSERT_TRUE(named);
    ASSERT_EQ(opened, -1) << "a locked slave must not open";
    ASSERT_EQ(why, EIO) << std::strerror(why);
    EXPECT_EQ(result, StartResult::missing) << describe(result);
}

// Readers may ask for the line settings at any time, from any thread, while the link is
// started and stopped: they see the configured line or no port, never anything half made.
TEST(GloveLinkTest, LineSettingsWhileTheLinkStartsAndStops) {
    GloveEmulator glove;
    glove.setInstant(true);
    GloveLink link;
    constexpr const char* kConfigured = "19200 baud, 8N1, raw, no flow control";
    std::atomic<bool> asking{true};
    std::atomic<int> configured{0};
    std::atomic<int> closed{0};
    std::mutex oddMutex;
    std::vector<std::string> odd;
    std::vector<std::thread> readers;
    for (int i = 0; i < 2; ++i) {
        readers.emplace_back([&] {
            while (asking.load()) {
                const std::string settings = link.lineSettings();
                if (settings == kConfigured) {
                    ++configured;
                } else if (settings == "no port open") {
                    ++closed;
                } else {
                    const std::lock_guard lock(oddMutex);
                    odd.push_back(settings);
                }
            }
        });
    }
    int started = 0;
    for (int round = 0; round < 10; ++round) {
        started += link.start(glove.path().c_str()) == StartResult::started ? 1 : 0;
        std::this_thread::sleep_for(milliseconds(20));
        link.stop();
        std::this_thread::sleep_for(milliseconds(5));
    }
    asking = false;
    for (auto& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(started, 10);
    EXPECT_GT(configured.load(), 0);
    EXPECT_GT(closed.load(), 0);
    EXPECT_TRUE(odd.empty()) << odd.size() << " odd answers, the first: " << odd.front();
}

}  // namespace
}  // namespace chirolink
