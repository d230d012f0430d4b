// The glove API's handles: why an open failed, a reader that falls behind, a glove that
// answers but sends no frame, and handles inherited by a forked child.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "chirolink_glove.h"
#include "glove_emulator.h"
#include "support.h"

namespace chirolink {
namespace {

using chirolink::testing::eventually;
using chirolink::testing::milliseconds;
using tools::GloveEmulator;

// Opens `port`, expecting it to fail with `expected`; the handle must come back NULL.
void expectRefused(const char* port, int32_t expected, const char* text) {
    chirolink_glove* glove = reinterpret_cast<chirolink_glove*>(&expected);
    EXPECT_EQ(chirolink_open(port, &glove), expected) << (port ? port : "NULL");
    EXPECT_EQ(glove, nullptr);
    EXPECT_STREQ(chirolink_error_text(expected), text);
}

TEST(GloveApiTest, EveryFailedOpenSaysWhy) {
    chirolink::testing::TempDir dir;
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    GloveEmulator held;
    chirolink_glove* holder = nullptr;
    ASSERT_EQ(chirolink_open(held.path().c_str(), &holder), CHIROLINK_OK);
    GloveEmulator silent;
    silent.setSilent(true);

    expectRefused(nullptr, CHIROLINK_ERR_ARG, "invalid argument");
    expectRefused("", CHIROLINK_ERR_ARG, "invalid argument");
    expectRefused((dir / "nothing").c_str(), CHIROLINK_ERR_MISSING, "no such device");
    expectRefused("/dev/null", CHIROLINK_ERR_NOT_SERIAL, "not a serial port");
    expectRefused(fifo.c_str(), CHIROLINK_ERR_NOT_SERIAL, "not a serial port");
    expectRefused(held.path().c_str(), CHIROLINK_ERR_BUSY,
                  "port busy (held by another program or link)");
    expectRefused(silent.path().c_str(), CHIROLINK_ERR_NO_GLOVE, "no glove answered");
    chirolink_close(holder);

    // Names that the system refuses before any device is looked at.
    ASSERT_EQ(symlink((dir / "loop-b").c_str(), (dir / "loop-a").c_str()), 0);
    ASSERT_EQ(symlink((dir / "loop-a").c_str(), (dir / "loop-b").c_str()), 0);
    expectRefused((dir / "loop-a").c_str(), CHIROLINK_ERR_MISSING, "no such device");
    expectRefused((dir / std::string(300, 'n')).c_str(), CHIROLINK_ERR_ARG, "invalid argument");
    // A port behind a directory that this user may not search; root may search any, so the
    // open is tried by a child that is somebody else.
    const std::string locked = dir / "locked";
    ASSERT_EQ(mkdir(locked.c_str(), 0700), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        chirolink_glove* glove = nullptr;
        const bool other = geteuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0);
        _exit(other ? -chirolink_open((locked + "/ttyS0").c_str(), &glove) : 100);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(-WEXITSTATUS(status), CHIROLINK_ERR_DENIED);
}

TEST(GloveApiTest, ReaderThatFallsBehindLosesTheOldestFramesAndSeesTheGap) {
    GloveEmulator glove;
    glove.setInstant(true);
    chirolink_glove* handle = nullptr;
    ASSERT_EQ(chirolink_open(glove.path().c_str(), &handle), CHIROLINK_OK);
    chirolink_status status{};
    ASSERT_TRUE(eventually(
        [&] {
            chirolink_get_status(handle, &status);
            return status.frames > 4096 + 500;
        },
        milliseconds(30000)))
        << "frames so far: " << status.frames;

    chirolink_frame frame{};
    ASSERT_EQ(chirolink_next_frame(handle, &frame, 0), CHIROLINK_OK);
    ASSERT_EQ(chirolink_get_status(handle, &status), CHIROLINK_OK);
    EXPECT_GT(status.missed, 0u);
    EXPECT_EQ(frame.sequence, status.missed + 1) << "the oldest frames went, in order";
    chirolink_frame next{};
    ASSERT_EQ(chirolink_next_frame(handle, &next, 1000), CHIROLINK_OK);
    EXPECT_EQ(next.sequence, frame.sequence + 1) << "what is kept comes in order";
    chirolink_close(handle);
}

TEST(GloveApiTest, GloveThatSendsNoFrameTimesOutEveryWait) {
    GloveEmulator glove;
    glove.dropReplyEvery(1);  // answers the hello, never a request
    chirolink_glove* handle = nullptr;
    ASSERT_EQ(chirolink_open(glove.path().c_str(), &handle), CHIROLINK_OK);
    chirolink_frame frame{};
    EXPECT_EQ(chirolink_latest_frame(handle, &frame), CHIROLINK_ERR_TIMEOUT);
    const auto start = chirolink::testing::Clock::now();
    EXPECT_EQ(chirolink_next_frame(handle, &frame, 300), CHIROLINK_ERR_TIMEOUT);
    const double waited = chirolink::testing::millisecondsSince(start);
    EXPECT_GE(waited, 290.0);
    EXPECT_LT(waited, 2000.0);
    chirolink_status status{};
    ASSERT_EQ(chirolink_get_status(handle, &status), CHIROLINK_OK);
    EXPECT_EQ(status.state, CHIROLINK_STATE_RUNNING);
    EXPECT_EQ(status.frames, 0u);
    EXPECT_LT(status.last_frame_age_s, 0.0) << "no frame yet";
    chirolink_close(handle);
}

// A child of fork() inherits the handles with whatever locks and waits the parent's threads
// were in at that moment: a frame being published, a reader blocked on its queue. It must
// still be able to read what it inherited and to close it.
TEST(GloveApiTest, ForkedChildReadsAndClosesWhatItInherited) {
    GloveEmulator busy;
    busy.setInstant(true);
    GloveEmulator quiet;
    quiet.dropReplyEvery(1);  // answers the hello, never a request
    chirolink_glove* streaming = nullptr;
    chirolink_glove* waited = nullptr;
    ASSERT_EQ(chirolink_open(busy.path().c_str(), &streaming), CHIROLINK_OK);
    ASSERT_EQ(chirolink_open(quiet.path().c_str(), &waited), CHIROLINK_OK);
    std::atomic<bool> done{false};
    std::thread reader([&] {
        chirolink_frame frame{};
        while (!done) {
            chirolink_next_frame(waited, &frame, 20);
        }
    });

    int stuck = 0;
    for (int child = 0; child < 20; ++child) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            alarm(3);  // a hang ends the child by SIGALRM
            chirolink_frame frame{};
            chirolink_latest_frame(streaming, &frame);
            chirolink_close(streaming);
            chirolink_close(waited);
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        stuck += WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
    }
    done = true;
    reader.join();
    EXPECT_EQ(stuck, 0) << "children that hung on what they inherited, of 20";
    chirolink_close(streaming);
    chirolink_close(waited);
}

}  // namespace
}  // namespace chirolink
