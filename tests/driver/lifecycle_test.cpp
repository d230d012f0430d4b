// Starting a link again, owning the port alone, and the process around the link.
#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "chirolink.h"
#include "chirolink_glove.h"
#include "glove_emulator.h"
#include "glove_link.h"
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

// Descriptors of a pseudo-terminal's slave (a glove's port) that this process holds
// non-blocking, as the library opens its ports; the glove emulator's own slaves are blocking and
// its masters are /dev/ptmx. -1 when the descriptors cannot be listed. System calls only: it runs
// in the child of a threaded fork().
int libraryPortsHeld() {
    const int list = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (list < 0) {
        return -1;
    }
    int held = 0;
    alignas(dirent64) char entries[4096];
    for (ssize_t got = 0; (got = getdents64(list, entries, sizeof entries)) > 0;) {
        for (ssize_t at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const dirent64*>(entries + at);
            at += entry->d_reclen;
            int fd = 0;
            for (const char* digit = entry->d_name; *digit >= '0' && *digit <= '9'; ++digit) {
                fd = fd * 10 + (*digit - '0');
            }
            // The standard streams are the test runner's, whatever they are.
            const int flags =
                entry->d_name[0] == '.' || fd <= 2 || fd == list ? -1 : fcntl(fd, F_GETFL);
            if (flags < 0 || (flags & O_NONBLOCK) == 0) {
                continue;
            }
            constexpr std::size_t kPrefix = sizeof "/proc/self/fd/" - 1;
            char link[kPrefix + 16] = "/proc/self/fd/";
            std::memcpy(link + kPrefix, entry->d_name,
                        std::min<std::size_t>(std::strlen(entry->d_name), 15));
            char target[64] = {};
            if (readlink(link, target, sizeof target - 1) > 9 &&
                std::memcmp(target, "/dev/pts/", 9) == 0 && target[9] >= '0' && target[9] <= '9') {
                ++held;
            }
        }
    }
    close(list);
    return held;
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
    // Nobody reads the process glove's queue: it overflows and counts missed frames.
    chirolink_glove* const process = chirolink_process_glove();
    chirolink_status status{};
    ASSERT_TRUE(chirolink::testing::eventually(
        [&] { return chirolink_get_status(process, &status) == CHIROLINK_OK && status.missed > 0; },
        milliseconds(20000)));
    const auto restarted = std::chrono::steady_clock::now();
    ASSERT_EQ(GloveInit(second.path().c_str()), 1);
    // The wait for the first frame gets the new link's first, not a stale one of the old link.
    chirolink_frame frame{};
    ASSERT_EQ(chirolink_next_frame(process, &frame, 1000), CHIROLINK_OK);
    EXPECT_EQ(frame.sequence, 1u);
    EXPECT_EQ(frame.values[0], 70);
    EXPECT_GT(frame.monotonic_s,
              std::chrono::duration<double>(restarted.time_since_epoch()).count());
    ASSERT_EQ(chirolink_get_status(process, &status), CHIROLINK_OK);
    EXPECT_EQ(status.missed, 0u);
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
TEST_F(LifecycleTest, InitFromAnExitHandlerDoesNothing) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a ThreadSanitizer build cannot see the process's exit begin";
#endif
    const auto run = runProbe({"initatexit", first.path()});
    EXPECT_EQ(run.exitCode, 0) << "GloveInit from the exit handler must give 0";
    EXPECT_EQ(first.countReceived(0x41), 1u) << "only the first call says hello";
    EXPECT_TRUE(portIsFree(first));
}

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

// Gloves unplugged and plugged in again and again while children are forked without pause:
// no child may find itself holding a port that a link's thread dropped around the fork.
TEST_F(LifecycleTest, ChildForkedWhileAPortIsDroppedHoldsNoCopyOfIt) {
    constexpr int kGloves = 8;
    constexpr int kRounds = 40;
    // Forks are slow under the sanitizers: there the test runs out of time before its rounds.
    const auto deadline = chirolink::testing::Clock::now() + std::chrono::seconds(10);
    const chirolink::testing::TempDir dir;
    std::vector<std::unique_ptr<GloveEmulator>> gloves;
    std::vector<std::unique_ptr<GloveLink>> links;
    for (int i = 0; i < kGloves; ++i) {
        gloves.push_back(std::make_unique<GloveEmulator>(dir / ("glove" + std::to_string(i))));
        gloves.back()->setInstant(true);
        links.push_back(std::make_unique<GloveLink>());
        ASSERT_EQ(links.back()->start(gloves.back()->path().c_str()), StartResult::started);
    }

    // Children are forked without pause while the ports are dropped, from just before the
    // gloves go away until every link has noticed.
    std::atomic<bool> forking{true};
    std::atomic<bool> dropping{false};
    std::atomic<int> children{0};
    std::atomic<int> holding{0};  // children that held a port
    std::atomic<int> unsure{0};   // children that could not tell, or did not exit
    std::thread forker([&] {
        std::vector<pid_t> running;
        auto reapOne = [&] {
            int status = 0;
            const bool exited =
                waitpid(running.front(), &status, 0) == running.front() && WIFEXITED(status);
            if (exited && WEXITSTATUS(status) == 1) {
                ++holding;
            } else if (!exited || WEXITSTATUS(status) != 0) {
                ++unsure;
            }
            running.erase(running.begin());
        };
        while (forking.load()) {
            if (!dropping.load()) {
                while (!running.empty()) {
                    reapOne();
                }
                std::this_thread::sleep_for(milliseconds(1));
                continue;
            }
            const pid_t child = fork();
            if (child == 0) {
                inForkedChild = true;
                const int held = libraryPortsHeld();
                _exit(held == 0 ? 0 : held > 0 ? 1 : 2);
            }
            if (child > 0) {
                ++children;
                running.push_back(child);
            }
            if (running.size() >= 4 || (child < 0 && !running.empty())) {
                reapOne();
            }
        }
        while (!running.empty()) {
            reapOne();
        }
    });

    int round = 0;
    while (round < kRounds && holding.load() == 0 && unsure.load() == 0 &&
           chirolink::testing::Clock::now() < deadline) {
        ++round;
        dropping = true;
        std::this_thread::sleep_for(milliseconds(2));
        for (auto& glove : gloves) {
            glove->unplug();
        }
        const bool dropped = chirolink::testing::eventually(
            [&] {
                return std::all_of(links.begin(), links.end(), [](const auto& link) {
                    return link->state() == LinkState::reopening;
                });
            },
            milliseconds(3000));
        std::this_thread::sleep_for(milliseconds(2));
        dropping = false;
        if (!dropped) {
            ADD_FAILURE() << "round " << round << ": a link did not notice its glove go";
            break;
        }
        // New links, rather than waiting a quarter of a second for these to reopen.
        std::vector<std::thread> starts;
        std::atomic<int> started{0};
        for (int i = 0; i < kGloves; ++i) {
            gloves[i]->plug();
            starts.emplace_back([&, i] {
                links[i] = std::make_unique<GloveLink>();
                if (links[i]->start(gloves[i]->path().c_str()) == StartResult::started) {
                    ++started;
                }
            });
        }
        for (auto& start : starts) {
            start.join();
        }
        if (started.load() != kGloves) {
            ADD_FAILURE() << "round " << round << ": " << started.load() << " links started";
            break;
        }
    }
    forking = false;
    forker.join();
    EXPECT_EQ(holding.load(), 0) << holding.load() << " of " << children.load()
                                 << " children held a port, within " << round * kGloves << " drops";
    EXPECT_EQ(unsure.load(), 0) << "children that could not list their descriptors";
    EXPECT_GE(children.load(), round) << "children forked while the ports were dropped";
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
