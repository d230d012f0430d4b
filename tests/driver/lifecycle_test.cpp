// Starting a link again, owning the port alone, and the process around the link.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

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

TEST_F(LifecycleTest, ForkedChildEndsWithoutTouchingTheParentsLink) {
    ASSERT_EQ(GloveInit(first.path().c_str()), 1);
    ASSERT_TRUE(showsValues({1, 2, 3, 4, 5, 6, 7}));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        inForkedChild = true;
        alarm(5);  // a child that tried to join a thread it does not have would hang here
        std::exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;

    EXPECT_FALSE(portIsFree(first)) << "the child must not release the parent's port";
    const std::size_t frames = first.framesSent();
    EXPECT_TRUE(first.waitForFrames(frames + 10, milliseconds(3000))) << "the link runs on";
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
