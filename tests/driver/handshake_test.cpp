// GloveInit's open, handshake and failure paths, timed against the emulator.
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include <ostream>

#include <gtest/gtest.h>

#include "chirolink.h"
#include "glove_emulator.h"
#include "platform/platform.h"
#include "support.h"

namespace chirolink {
namespace {

using chirolink::testing::Clock;
using chirolink::testing::millisecondsSince;
using tools::GloveEmulator;

// Puts the line into a terminal's ordinary settings (9600 baud, line editing, echo), as a
// port that is no glove would have them, and returns them.
termios giveOrdinarySettings(const GloveEmulator& glove) {
    termios settings{};
    const int line = open(glove.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (line >= 0) {
        tcgetattr(line, &settings);
        settings.c_lflag |= ICANON | ECHO | ISIG;
        settings.c_iflag |= ICRNL | IXON;
        settings.c_oflag |= OPOST;
        settings.c_cc[VMIN] = 1;
        cfsetispeed(&settings, B9600);
        cfsetospeed(&settings, B9600);
        tcsetattr(line, TCSANOW, &settings);
        tcgetattr(line, &settings);
        close(line);
    }
    return settings;
}

bool sameSettings(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && cfgetispeed(&a) == cfgetispeed(&b) &&
           cfgetospeed(&a) == cfgetospeed(&b) && a.c_cc[VMIN] == b.c_cc[VMIN] &&
           a.c_cc[VTIME] == b.c_cc[VTIME];
}

class HandshakeTest : public ::testing::Test {
protected:
    void TearDown() override { GloveInit(nullptr); }  // stops any link a test started
};

struct HandshakeCase {
    const char* name;
    std::function<void(GloveEmulator&)> setUp;
    int32_t result;
    std::size_t hellos;
    double atLeastMs;  // per failed attempt: 100 ms pause, the read (201 ms when silent), 100 ms
    double belowMs;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const HandshakeCase& c, std::ostream* out) {
    *out << c.name;
}

class HandshakeCaseTest : public HandshakeTest,
                          public ::testing::WithParamInterface<HandshakeCase> {};

TEST_P(HandshakeCaseTest, ResultHelloCountAndTiming) {
    const auto& c = GetParam();
    GloveEmulator glove;
    glove.dropReplyEvery(1);  // no frames: only the handshake is watched
    c.setUp(glove);
    const termios found = giveOrdinarySettings(glove);

    const auto start = Clock::now();
    EXPECT_EQ(GloveInit(glove.path().c_str()), c.result);
    const double took = millisecondsSince(start);

    EXPECT_EQ(glove.countReceived(0x41), c.hellos);
    EXPECT_GE(took, c.atLeastMs);
    EXPECT_LT(took, c.belowMs);
    if (c.result == 0) {
        EXPECT_EQ(glove.countReceived(0x43), 0u) << "no thread may run after a failure";
        const platform::Handle again = platform::openPort(glove.path().c_str());
        EXPECT_NE(again, platform::kNoHandle) << "a failed handshake must close the port";
        platform::closePort(again);
        termios left{};
        ASSERT_TRUE(glove.lineSettings(left));
        EXPECT_TRUE(sameSettings(left, found)) << "a port that is no glove gets its settings back";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Gloves, HandshakeCaseTest,
    ::testing::Values(
        HandshakeCase{"AnswersAtOnce", [](GloveEmulator&) {}, 1, 1, 99, 700},
        HandshakeCase{"AnswersSecondHello", [](GloveEmulator& g) { g.answerHelloFrom(2); }, 1, 2,
                      99 + 401, 1400},
        HandshakeCase{"AnswersThirdHello", [](GloveEmulator& g) { g.answerHelloFrom(3); }, 1, 3,
                      99 + 2 * 401, 2000},
        HandshakeCase{"JunkQueuedBeforeTheOpen",
                      [](GloveEmulator& g) {
                          // More than the link reads: what waited before the open is not an
                          // answer to this link's hello.
                          g.setInstant(true);
                          g.sendRaw(std::vector<std::uint8_t>(4096, 0x21));
                          std::this_thread::sleep_for(std::chrono::milliseconds(200));
                      },
                      1, 1, 99, 700},
        HandshakeCase{"AnswerBehindTheRestOfAnEarlierFrame",
                      [](GloveEmulator& g) {
                          g.setBeforeHelloAnswer({0x80, 1, 2, 3, 4});
                      },
                      1, 1, 99, 700},
        HandshakeCase{"Silent", [](GloveEmulator& g) { g.setSilent(true); }, 0, 3, 1200, 2600},
        HandshakeCase{"WrongAnswer", [](GloveEmulator& g) { g.setHelloAnswer(0x21); }, 0, 3,
                      3 * 400, 2600}),
    [](const auto& info) { return info.param.name; });

TEST_F(HandshakeTest, AnswerLandsInPositionZero) {
    GloveEmulator wrong;
    wrong.setHelloAnswer(0x21);
    ASSERT_EQ(GloveInit(wrong.path().c_str()), 0);
    EXPECT_EQ(GloveGetData(0), 0x21) << "the last byte a failed handshake received";

    GloveEmulator right;
    right.dropReplyEvery(1);
    ASSERT_EQ(GloveInit(right.path().c_str()), 1);
    EXPECT_EQ(GloveGetData(0), 0x55);
}

TEST_F(HandshakeTest, MissingOrUnsafeNamesFailAtOnceWithoutWriting) {
    const chirolink::testing::TempDir dir;
    const std::string file = dir / "regular";
    std::ofstream(file) << "data";

    for (const char* name : {static_cast<const char*>(nullptr), "", "/dev/chirolink-missing",
                             "/dev/null", dir.path().c_str(), file.c_str()}) {
        const auto start = Clock::now();
        EXPECT_EQ(GloveInit(name), 0) << (name ? name : "(null)");
        EXPECT_LT(millisecondsSince(start), 100.0) << (name ? name : "(null)");
    }
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 4) << "a regular file must stay as it was";

    const std::string tooLong(5000, 'x');
    EXPECT_EQ(GloveInit(tooLong.c_str()), 0);
}

}  // namespace
}  // namespace chirolink
