#include "recording.h"

#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "glove_emulator.h"
#include "host_port.h"

namespace chirolink::tools::test {
namespace {

const std::string kHeader =
    "glove,sequence,monotonic_s,wall_time,finger1,finger2,finger3,finger4,finger5,roll,pitch,"
    "checksum,checksum_ok\n";

std::string row(const std::string& glove, double at, int first, int checksum = 0) {
    std::ostringstream out;
    out << glove << ",1," << at << ",2026-12-08T07:01:02.123456Z";
    for (int i = 0; i < 7; ++i) {
        out << ',' << first + i;
    }
    out << ',' << checksum << ",0\n";
    return out.str();
}

TEST(Recording, ReadsTheChosenGlovesFramesWithOffsetsFromItsFirst) {
    // A port's name may hold a comma, a quote or a line break.
    const std::string text = kHeader + row("\"/dev/a,\r\nb\"\"\"", 10.5, 1, 9) +
                             row("/dev/c", 11.0, 50) + row("\"/dev/a,\r\nb\"\"\"", 10.75, 2, 0xEE);
    for (const auto& [glove, offsets, firsts] :
         {std::tuple{std::string{}, std::vector<long>{0, 250}, std::vector<int>{1, 2}},
          std::tuple{std::string{"/dev/c"}, std::vector<long>{0}, std::vector<int>{50}}}) {
        std::istringstream in(text);
        const auto recording = readRecording(in, glove);
        EXPECT_EQ(recording.glove, glove.empty() ? "/dev/a,\r\nb\"" : glove);
        ASSERT_EQ(recording.frames.size(), offsets.size()) << glove;
        for (std::size_t i = 0; i < offsets.size(); ++i) {
            EXPECT_EQ(
                std::chrono::round<std::chrono::milliseconds>(recording.frames[i].offset).count(),
                offsets[i]);
            EXPECT_EQ(recording.frames[i].bytes[0], firsts[i]);
            EXPECT_EQ(recording.frames[i].bytes[6], firsts[i] + 6);
        }
    }
    std::istringstream in(text);
    EXPECT_EQ(readRecording(in).frames.back().bytes[7], 0xEE);
}

TEST(Recording, RejectsWhatIsNotARecordingWithTheLine) {
    const struct {
        std::string text;
        std::string glove;
        std::string error;
    } cases[] = {
        {"", "", "empty file"},
        {"a,b,c\n", "", "line 1: not a chirolink recording"},
        {kHeader + "x,1,0.5\n", "", "line 2: expected 13 fields, got 3"},
        {kHeader + row("g", 1.0, 250), "", "line 2: pitch: expected a whole number up to 255"},
        {kHeader + row("g", 1.0, 1, -1), "", "line 2: checksum: expected a whole number"},
        {kHeader + row("g", 2.0, 1) + row("g", 1.0, 1), "", "line 3: monotonic_s goes backwards"},
        {kHeader + row("\"g", 1.0, 1), "", "line 2: unterminated quote"},
        {kHeader + row("\"a\nb\"", 1.0, 1) + row("\"g\n", 1.0, 1), "", "line 4: unterminated"},
        {kHeader + row("\"a\nb\"", 1.0, 1) + "x,1\n", "", "line 4: expected 13 fields, got 2"},
        {kHeader, "", "no frames"},
        {kHeader + row("g", 1.0, 1), "h", "no frames of glove 'h'"},
        {kHeader + row("g", 1.0, 1) + row("\"a,b\"", 1.1, 1) + row("g", 1.2, 1), "h",
         "no frames of glove 'h' in the recording, which holds 'g', 'a,b'"},
    };
    for (const auto& c : cases) {
        std::istringstream in(c.text);
        try {
            readRecording(in, c.glove);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const RecordingError& e) {
            EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos)
                << e.what() << " instead of " << c.error;
        }
    }
}

TEST(Replay, AnswersEachRequestWithTheLatestRecordedFrameFromTheFirstRequestOn) {
    using namespace std::chrono_literals;
    GloveEmulator emulator;
    emulator.setInstant(true);
    emulator.replay({{0ms, {1, 2, 3, 4, 5, 6, 7, 0}},
                     {300ms, {10, 20, 30, 40, 50, 60, 70, 0xAB}},
                     {600ms, {9, 9, 9, 9, 9, 9, 9, 9}}});
    HostPort host(emulator.path());
    std::this_thread::sleep_for(200ms);  // the replay's clock has not started yet
    const auto request = [&] {
        host.send({0x43});
        return host.read(9);
    };
    const auto start = SteadyClock::now();
    EXPECT_EQ(request(), (Bytes{0x80, 1, 2, 3, 4, 5, 6, 7, 0}));
    std::this_thread::sleep_until(start + 450ms);
    EXPECT_EQ(request(), (Bytes{0x80, 10, 20, 30, 40, 50, 60, 70, 0xAB}));
    std::this_thread::sleep_until(start + 800ms);
    EXPECT_EQ(request(), (Bytes{0x80, 9, 9, 9, 9, 9, 9, 9, 9}));
    EXPECT_EQ(request(), (Bytes{0x80, 9, 9, 9, 9, 9, 9, 9, 9}));
}

}  // namespace
}  // namespace chirolink::tools::test
