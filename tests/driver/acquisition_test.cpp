// The acquisition thread against the emulator: frames, the checksum line, a quiet or lossy
// glove, a port that vanishes and comes back.
#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>

#include <ostream>

#include <gtest/gtest.h>

#include "chirolink.h"
#include "glove_emulator.h"
#include "platform/platform.h"
#include "sample.h"

namespace {
// The thread whose allocations fail, when not 0.
std::atomic<pid_t> failingAllocationThread{0};
}  // namespace

// Allocation for this test program: fails on the thread the test names, for showing what the
// library does with an exception on its own thread.
void* operator new(std::size_t size) {
    const pid_t failing = failingAllocationThread.load(std::memory_order_relaxed);
    if (failing != 0 && failing == gettid()) {
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// The pair of the allocations above: what they get from malloc goes back to free.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* memory) noexcept {
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
#pragma GCC diagnostic pop

namespace chirolink {
namespace {

using chirolink::testing::Clock;
using chirolink::testing::eventually;
using chirolink::testing::kRequest;
using chirolink::testing::milliseconds;
using chirolink::testing::sample;
using chirolink::testing::showsValues;
using chirolink::testing::Values;
using tools::GloveEmulator;

// Every debug line the library writes while it lives.
class DebugLines {
public:
    DebugLines() {
        const std::lock_guard lock(mutex);
        lines.clear();
        platform::setDebugSink(&DebugLines::sink);
    }
    ~DebugLines() { platform::setDebugSink(nullptr); }
    static std::size_t count() { return all().size(); }
    static std::vector<std::string> all() {
        const std::lock_guard lock(mutex);
        return lines;
    }

private:
    static void sink(const char* line) {
        const std::lock_guard lock(mutex);
        lines.emplace_back(line);
    }
    static inline std::mutex mutex;
    static inline std::vector<std::string> lines;
};

std::uint8_t checksumInBuffer() {
    // One atomic load of the whole buffer, as a careful caller does.
    const auto word = __atomic_load_n(reinterpret_cast<const std::uint64_t*>(GloveGetDataPtr()),
                                      __ATOMIC_ACQUIRE);
    std::uint8_t bytes[8];
    std::memcpy(bytes, &word, 8);
    return bytes[7];
}

class AcquisitionTest : public ::testing::Test {
protected:
    void SetUp() override { glove.setInstant(true); }
    void TearDown() override { GloveInit(nullptr); }

    void start() { ASSERT_EQ(GloveInit(glove.path().c_str()), 1); }

    DebugLines debugLines;
    GloveEmulator glove;
};

struct FrameCase {
    const char* name;
    Values values;
    std::vector<std::uint8_t> noise;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const FrameCase& c, std::ostream* out) {
    *out << c.name;
}

class FrameTest : public AcquisitionTest, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(FrameTest, LandsInTheBufferWithItsChecksum) {
    glove.setFixedValues(GetParam().values);
    glove.setNoiseBeforeHeader(GetParam().noise);
    start();
    ASSERT_TRUE(showsValues(GetParam().values));
    EXPECT_EQ(checksumInBuffer(), GloveEmulator::checksum(GetParam().values));
    EXPECT_TRUE(glove.waitForFrames(20, milliseconds(3000)));
    EXPECT_EQ(DebugLines::count(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, FrameTest,
    ::testing::Values(FrameCase{"Plain", {10, 20, 30, 40, 50, 60, 70}, {}},
                      FrameCase{"HeaderByteInside", {0x80, 1, 0x80, 2, 3, 0x80, 0x80}, {}},
                      FrameCase{"AllFF", {255, 255, 255, 255, 255, 255, 255}, {}},
                      FrameCase{"NoiseBeforeHeader", {1, 2, 3, 4, 5, 6, 200}, {0x00, 0x7F, 0xFF}}),
    [](const auto& info) { return info.param.name; });

TEST_F(AcquisitionTest, GetDataGivesZeroOutsideTheSensors) {
    glove.setFixedValues({11, 12, 13, 14, 15, 16, 17});
    start();
    ASSERT_TRUE(showsValues({11, 12, 13, 14, 15, 16, 17}));
    EXPECT_EQ(GloveGetData(6), 17);
    for (const int32_t index : {7, 8, -1, 1000, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(GloveGetData(index), 0) << index;
    }
    EXPECT_EQ(GloveGetDataPtr(), GloveGetDataPtr());
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(GloveGetDataPtr()) % 8, 0u);
}

TEST_F(AcquisitionTest, BadFrameWritesOneLineAndTheGoodOneAfterItNone) {
    glove.setFixedValues({10, 20, 30, 40, 50, 60, 70});
    glove.corruptChecksumEvery(2);  // frame 2 is bad
    glove.stopAfterFrames(3);       // frame 3 is good, then the glove goes quiet
    start();
    ASSERT_TRUE(glove.waitForFrames(3, milliseconds(3000)));
    ASSERT_TRUE(eventually([] { return checksumInBuffer() == 0x60; }, milliseconds(3000)));
    std::this_thread::sleep_for(milliseconds(1000));  // a few quiet cycles
    EXPECT_EQ(DebugLines::all(), std::vector<std::string>{"Chirolink: Glove checksum error\n"});
}

TEST_F(AcquisitionTest, QuietAfterABadFrameRepeatsTheLine) {
    glove.setFixedValues({10, 20, 30, 40, 50, 60, 70});
    glove.corruptChecksumEvery(2);
    glove.stopAfterFrames(2);  // the last frame is bad
    start();
    ASSERT_TRUE(glove.waitForFrames(2, milliseconds(3000)));
    EXPECT_TRUE(eventually([] { return DebugLines::count() >= 3; }, milliseconds(3000)));
    EXPECT_EQ(sample(), (Values{10, 20, 30, 40, 50, 60, 70})) << "the bad frame stays visible";
    EXPECT_EQ(checksumInBuffer(), 0x60 ^ 0xFF);
}

TEST_F(AcquisitionTest, QuietGloveKeepsLastFrameAndIsAskedAgain) {
    glove.setFixedValues({1, 2, 3, 4, 5, 6, 7});
    glove.stopAfterFrames(5);
    start();
    ASSERT_TRUE(glove.waitForFrames(5, milliseconds(3000)));
    ASSERT_TRUE(showsValues({1, 2, 3, 4, 5, 6, 7}));
    const std::size_t before = glove.countReceived(kRequest);
    ASSERT_TRUE(glove.waitForReceived(kRequest, before + 4, milliseconds(4000)));

    // Requests while quiet: one at least every 409 ms (a 201 ms and a 208 ms time-out).
    std::vector<Clock::time_point> requests;
    for (const auto& byte : glove.received()) {
        if (byte.value == kRequest) {
            requests.push_back(byte.at);
        }
    }
    for (std::size_t i = requests.size() - 3; i < requests.size(); ++i) {
        const auto gap = std::chrono::duration<double, std::milli>(requests[i] - requests[i - 1]);
        EXPECT_GE(gap.count(), 380.0);
        EXPECT_LE(gap.count(), 409.0 + 250.0);
    }
    EXPECT_EQ(sample(), (Values{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(DebugLines::count(), 0u);

    glove.setFixedValues({9, 8, 7, 6, 5, 4, 3});
    glove.stopAfterFrames(-1);
    EXPECT_TRUE(showsValues({9, 8, 7, 6, 5, 4, 3})) << "frames flow again when it answers";
}

TEST_F(AcquisitionTest, LostRepliesBeforeTheFirstHeaderDoNotStallTheLink) {
    glove.setFixedValues({5, 5, 5, 5, 5, 5, 5});
    glove.dropReplyEvery(1);
    start();
    // A new request after each 201 ms hunt time-out, not a hunt that waits for good.
    EXPECT_TRUE(glove.waitForReceived(kRequest, 4, milliseconds(2000)));
    glove.dropReplyEvery(0);
    EXPECT_TRUE(showsValues({5, 5, 5, 5, 5, 5, 5}));
}

TEST_F(AcquisitionTest, StrayByteDuringTheHuntDoesNotStallTheLink) {
    glove.setFixedValues({7, 7, 7, 7, 7, 7, 7});
    start();
    ASSERT_TRUE(showsValues({7, 7, 7, 7, 7, 7, 7}));
    glove.setSilent(true);
    // Send the stray byte right after a request, while the thread hunts for the header.
    const std::size_t asked = glove.countReceived(kRequest);
    ASSERT_TRUE(glove.waitForReceived(kRequest, asked + 1, milliseconds(2000)));
    glove.sendRaw({0x12});
    const std::size_t afterStray = glove.countReceived(kRequest);
    EXPECT_TRUE(glove.waitForReceived(kRequest, afterStray + 2, milliseconds(2000)));
    EXPECT_EQ(sample(), (Values{7, 7, 7, 7, 7, 7, 7}));
}

// Starts the link on `glove`, behind `link`, answering at once with all values 1, and gives
// the acquisition thread's id.
void startStreamingOnes(GloveEmulator& glove, const std::string& link, pid_t& thread) {
    glove.setInstant(true);
    glove.setFixedValues({1, 1, 1, 1, 1, 1, 1});
    ASSERT_EQ(GloveInit(link.c_str()), 1);
    ASSERT_TRUE(showsValues({1, 1, 1, 1, 1, 1, 1}));
    thread = chirolink::testing::acquisitionThreadId();
    ASSERT_NE(thread, 0);
}

TEST_F(AcquisitionTest, UnpluggedPortIsReopenedWithoutSpinning) {
    const chirolink::testing::TempDir dir;
    const std::string link = dir / "glove";
    {
        GloveEmulator pluggable(link);
        pid_t thread = 0;
        ASSERT_NO_FATAL_FAILURE(startStreamingOnes(pluggable, link, thread));

        pluggable.unplug();
        std::this_thread::sleep_for(milliseconds(300));
        const auto cpuBefore = chirolink::testing::threadCpuNanoseconds(thread);
        std::this_thread::sleep_for(milliseconds(1000));
        const auto cpuUsed = chirolink::testing::threadCpuNanoseconds(thread) - cpuBefore;
        EXPECT_LT(cpuUsed, 50'000'000u) << "unplugged, the thread must wait, not spin";
        EXPECT_EQ(sample(), (Values{1, 1, 1, 1, 1, 1, 1})) << "the last frame stays";

        pluggable.setFixedValues({2, 2, 2, 2, 2, 2, 2});
        pluggable.plug();
        EXPECT_TRUE(showsValues({2, 2, 2, 2, 2, 2, 2}, milliseconds(1500)))
            << "frames flow again soon, with no call";
        EXPECT_EQ(pluggable.countReceived(0x41), 2u) << "one hello to the device that came back";
        GloveInit(nullptr);
    }
}

TEST_F(AcquisitionTest, ReopenedNameThatIsNoGloveIsLeftAsFound) {
    const chirolink::testing::TempDir dir;
    const std::string link = dir / "ttyUSB0";
    {
        GloveEmulator pluggable(link);
        pluggable.setInstant(true);
        ASSERT_EQ(GloveInit(link.c_str()), 1);
        ASSERT_TRUE(pluggable.waitForFrames(5, milliseconds(3000)));
        pluggable.unplug();
        {
            // Another device takes the name: one that does not answer a hello, in settings
            // of its own.
            GloveEmulator modem(link);
            modem.setSilent(true);
            termios own{};
            {
                const int line = open(link.c_str(), O_RDWR | O_NOCTTY);
                ASSERT_GE(line, 0);
                ASSERT_EQ(tcgetattr(line, &own), 0);
                cfsetispeed(&own, B9600);
                cfsetospeed(&own, B9600);
                own.c_lflag |= ICANON | ECHO;
                ASSERT_EQ(tcsetattr(line, TCSANOW, &own), 0);
                close(line);
            }
            ASSERT_TRUE(modem.waitForReceived(0x41, 1, milliseconds(2000)));
            std::this_thread::sleep_for(milliseconds(600));  // the hello's pause and read
            EXPECT_EQ(modem.countReceived(kRequest), 0u) << "no requests for a stranger";
            termios left{};
            ASSERT_TRUE(modem.lineSettings(left));
            EXPECT_EQ(cfgetispeed(&left), B9600) << "its settings must be put back";
            EXPECT_NE(left.c_lflag & ICANON, 0u);
            const platform::Handle ours = platform::openPort(link.c_str());
            EXPECT_NE(ours, platform::kNoHandle) << "it must be closed, not kept locked";
            if (ours != platform::kNoHandle) {
                platform::closePort(ours);
            }
            // The next try comes only after a pause of two seconds.
            const auto firstHello = modem.received().front().at;
            ASSERT_TRUE(modem.waitForReceived(0x41, 2, milliseconds(4000)));
            std::chrono::steady_clock::time_point secondHello{};
            for (const auto& byte : modem.received()) {
                if (byte.value == 0x41) {
                    secondHello = byte.at;
                }
            }
            EXPECT_GE(secondHello - firstHello, milliseconds(1900));
            EXPECT_EQ(modem.countReceived(kRequest), 0u);
            GloveInit(nullptr);
        }
    }
}

TEST_F(AcquisitionTest, ExceptionInTheThreadIsCaughtAndTheReopenTriedAgain) {
    const chirolink::testing::TempDir dir;
    const std::string link = dir / "a-name-longer-than-short-strings";
    {
        GloveEmulator pluggable(link);
        pid_t thread = 0;
        ASSERT_NO_FATAL_FAILURE(startStreamingOnes(pluggable, link, thread));

        // Reopening needs memory for the device's path: every try now throws bad_alloc.
        failingAllocationThread = thread;
        pluggable.unplug();
        pluggable.setFixedValues({2, 2, 2, 2, 2, 2, 2});
        pluggable.plug();
        std::this_thread::sleep_for(milliseconds(800));
        EXPECT_EQ(pluggable.countReceived(0x41), 1u) << "no reopen could have got through";
        failingAllocationThread = 0;
        EXPECT_TRUE(showsValues({2, 2, 2, 2, 2, 2, 2})) << "the thread lives and tries again";
        GloveInit(nullptr);
    }
}

TEST_F(AcquisitionTest, ThreadBlocksAsynchronousSignals) {
    start();
    const pid_t thread = chirolink::testing::acquisitionThreadId();
    ASSERT_NE(thread, 0);
    const std::uint64_t blocked = chirolink::testing::blockedSignals(thread);
    for (const int signal :
         {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2, SIGALRM, SIGCHLD, SIGPIPE}) {
        EXPECT_NE(blocked & (1ull << (signal - 1)), 0u) << strsignal(signal);
    }
    const std::uint64_t ours = chirolink::testing::blockedSignals(gettid());
    EXPECT_EQ(ours & (1ull << (SIGINT - 1)), 0u) << "the caller's mask must be left as it was";
}

}  // namespace
}  // namespace chirolink
