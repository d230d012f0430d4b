// Starting a link again, owning the port alone, and the process around the link.
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <future>

#include <gtest/gtest.h>

#include "chirolink.h"
#include "glove_emulator.h"
#include "platform/platform.h"
#include "sample.h"

namespace {
bool inForkedChild = false;
}  // namespace

// LeakSanitizer asks this before its check at exit. A forked child holds copies of objects
// whose owners, the parent's other threads, did not come along: they are not leaks.
extern "C" int __lsan_is_turned_off() {
    return inForkedChild ? 1 : 0;
}

namespace chirolink {
namespace {

using chirolink::testing::kRequest;
using chirolink::testing::milliseconds;
using chirolink::testing::requestsStopped;
using chirolink::testing::runProbe;
using chirolink::testing::showsValues;
using tools::GloveEmulator;

// True when nobody holds the port any more.
bool portIsFree(const GloveEmulator& glove) {
    const platform::Handle port = platform::openPort(glove.path().c_str());
    if (port == platform::kNoHandle) {
        return false;
    }
    platform::closePort(port);
    return true;
}

class LifecycleTest : public ::testing::Test {
protected:
    void SetUp() override {
        first.setInstant(true);
        first.setFixedValues({1, 2, 3, 4, 5, 6, 7});
        second.setInstant(true);
        second.setFixedValues({70, 60, 50, 40, 30, 20, 10});
    }
    void TearDown() override { GloveInit(nullptr); }
    GloveEmulator first;
    GloveEmulator second;
};

TEST_F(LifecycleTest, RepeatedInitMovesTheLinkToTheNewPort) {
    ASSERT_EQ(GloveInit(first.path().c_str()), 1);
    ASSERT_TRUE(showsValues({1, 2, 3, 4, 5, 6, 7}));
    ASSERT_EQ(GloveInit(second.path().c_str()), 1);
    EXPECT_TRUE(showsValues({70, 60, 50, 40, 30, 20, 10}));
    EXPECT_TRUE(requestsStopped(first)) << "the first link's thread must be gone";
    EXPECT_TRUE(portIsFree(first)) << "the first port must be closed";
    EXPECT_NE(chirolink::testing::acquisitionThreadId(), 0) << "the new link runs its thread";
}

TEST_F(LifecycleTest, RepeatedInitOnTheSamePortStartsAfresh) {
    // At line speed a reply is nearly always under way when the call comes: it must not be
    // left in the port to spoil the next handshake.
    first.setInstant(false);
    for (int round = 1; round <= 5; ++round) {
        ASSERT_EQ(GloveInit(first.path().c_str()), 1) << "round " << round;
        ASSERT_TRUE(first.waitForFrames(static_cast<std::size_t>(round) * 5, milliseconds(3000)));
    }
    EXPECT_EQ(first.countReceived(0x41), 5u);
    first.setFixedValues({4, 4, 4, 4, 4, 4, 4});
    EXPECT_TRUE(showsValues({4, 4, 4, 4, 4, 4, 4}));
}

TEST_F(LifecycleTest, RepeatedInitStopsWithinACycleOnABabblingLine) {
    ASSERT_EQ(GloveInit(first.path().c_str()), 1);
    ASSERT_TRUE(showsValues({1, 2, 3, 4, 5, 6, 7}));
    // The glove stops answering and the line carries a byte every 20 ms, never a header: the
    // header hunt alone would go on for good.
    first.setSilent(true);
    std::atomic<bool> babbling{true};
    std::thread babble([&] {
        while (babbling) {
            first.sendRaw({0x00});
            std::this_thread::sleep_for(milliseconds(20));
        }
    });
    std::this_thread::sleep_for(milliseconds(300));

    const auto start = chirolink::testing::Clock::now();
    auto stopped = std::async(std::launch::async, [] { return GloveInit(nullptr); });
    const bool returned = stopped.wait_for(std::chrono::seconds(3)) == std::future_status::ready;
    const double took = chirolink::testing::millisecondsSince(start);
    babbling = false;  // lets a stop that waits for the hunt end after all
    babble.join();
    EXPECT_TRUE(returned) << "GloveInit must not wait for a hunt that never ends";
    EXPECT_EQ(stopped.get(), 0);
    EXPECT_LT(took, 1500.0) << "409 ms for the exchange under way, then the thread is woken";
}

TEST_F(LifecycleTest, FailedRepeatedInitLeavesNoLinkRunning) {
    ASSERT_EQ(GloveInit(first.path().c_str()), 1);
    ASSERT_TRUE(showsValues({1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(GloveInit("/dev/chirolink-missing"), 0);
    EXPECT_TRUE(requestsStopped(first));
    EXPECT_TRUE(portIsFree(first));
    EXPECT_EQ(chirolink::testing::acquisitionThreadId(), 0);
    EXPECT_TRUE(showsValues({1, 2, 3, 4, 5, 6, 7})) << "the buffer keeps the last frame";
}

TEST_F(LifecycleTest, PortIsExclusiveAgainstThisAndOtherProcesses) {
    ASSERT_EQ(GloveInit(first.path().c_str()), 1);
    EXPECT_FALSE(portIsFree(first));
    const auto other = runProbe({"init", first.path()});
    EXPECT_EQ(other.exitCode, 1) << "a second process must not get the port";
    EXPECT_LT(other.milliseconds, 1000.0) << "and must be told at once";
    EXPECT_EQ(first.countReceived(0x41), 1u) << "the other process must not write to it";
}

TEST_F(LifecycleTest, ProcessEndsPromptlyWithTheThreadRunning) {
    const auto run = runProbe({"init", first.path()});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_LT(run.milliseconds, 3000.0);
    EXPECT_GT(first.framesSent(), 0u);
    EXPECT_TRUE(portIsFree(first));
}

// The probe's other thread calls on while the exit handlers run. What a sanitizer build has to
// say about it (a touch of freed memory) comes from that thread, perhaps too late to change the
// exit status: the probe must say nothing at all.
TEST_F(LifecycleTest, ProcessEndsCleanlyWhileAThreadCallsGloveInit) {
    const auto run = runProbe({"exitduringinit"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_LT(run.milliseconds, 3000.0);
    EXPECT_EQ(run.errors, "");
}

TEST_F(LifecycleTest, ForkedChildHoldsNothingOfTheParentsLink) {
    ASSERT_EQ(GloveInit(first.path().c_str()), 1);
    ASSERT_TRUE(showsValues({1, 2, 3, 4, 5, 6, 7}));
    int release[2];
    int running[2];
    ASSERT_EQ(pipe(release), 0);
    ASSERT_EQ(pipe(running), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A worker that outlives what the parent does with its link next.
        inForkedChild = true;
        alarm(10);
        close(release[1]);
        close(running[0]);
        char byte = 1;
        [[maybe_unused]] const auto sent = write(running[1], &byte, 1);
        [[maybe_unused]] const auto got = read(release[0], &byte, 1);
        std::exit(0);  // a child that tried to join a thread it does not have would hang here
    }
    close(release[0]);
    close(running[1]);
    // The child's fork handler has run once the child runs at all; on a busy machine that can
    // be later than the parent's next steps.
    char byte = 0;
    ASSERT_EQ(read(running[0], &byte, 1), 1);
    close(running[0]);
    const std::size_t frames = first.framesSent();
    EXPECT_TRUE(first.waitForFrames(frames + 10, milliseconds(3000))) << "the link runs on";

    // The parent starts its link afresh on the same port while the child lives: the child's
    // copies must not keep the port locked.
    EXPECT_EQ(GloveInit(first.path().c_str()), 1) << "the child still holds the port";

    close(release[1]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    const std::size_t later = first.framesSent();
    EXPECT_TRUE(first.waitForFrames(later + 10, milliseconds(3000))) << "the child's end left it";
}

TEST_F(LifecycleTest, ThreadThatCannotStartGivesZeroAndClosesThePort) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "sanitizers reserve address space that the probe's limit would refuse";
#endif
    const auto run = runProbe({"nothread", first.path()});
    EXPECT_EQ(run.exitCode, 0) << "1: the port stayed open, 3: a thread started anyway";
    EXPECT_EQ(first.countReceived(0x41), 2u) << "both handshakes must have succeeded";
}

}  // namespace
}  // namespace chirolink
