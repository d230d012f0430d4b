// `chirolink calibrate` and --calibration, run as real processes: a calibration captured from a
// replayed recording with wild frames in it and from the recording itself, the command lines
// that are refused, and calibrated values in record and stream; show's bars on their own.
#include <lo/lo.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "chirolink_calibration.h"
#include "glove_emulator.h"
#include "host_port.h"
#include "process.h"
#include "view.h"

namespace chirolink::tools::test {
namespace {

using namespace std::chrono_literals;

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A recording of `chirolink record` at 100 frames a second: the hand held open for a second,
// closed over half a second, held as a fist for a second, opened again. finger2's sensor
// falls as it bends, roll hardly moves. Two wild frames (all 0, all 255) and one frame with a
// bad checksum lie in it; a second glove, whose name holds a line break, has a few frames too.
std::string handRecording() {
    std::ostringstream csv;
    csv << "glove,sequence,monotonic_s,wall_time,finger1,finger2,finger3,finger4,finger5,roll,"
           "pitch,checksum,checksum_ok\n";
    const int open[7] = {41, 212, 38, 44, 50, 120, 31};
    const int fist[7] = {190, 35, 201, 187, 176, 128, 222};
    auto row = [&](const std::string& glove, int n, const int* values, bool good) {
        int checksum = 0;
        for (int i = 0; i < 7; ++i) {
            checksum ^= values[i];
        }
        char time[32];  // as chirolink record writes it, with 6 decimals
        std::snprintf(time, sizeof time, "%.6f", 100 + n / 100.0);
        csv << glove << "," << n << "," << time << ",2026-12-08T10:00:00.000000Z";
        for (int i = 0; i < 7; ++i) {
            csv << "," << values[i];
        }
        csv << "," << (good ? checksum : checksum ^ 1) << "," << (good ? 1 : 0) << "\n";
    };
    const int low[7] = {0, 0, 0, 0, 0, 0, 0}, high[7] = {255, 255, 255, 255, 255, 255, 255};
    for (int n = 1; n <= 300; ++n) {
        const double t = n < 100 ? 0 : n < 150 ? (n - 100) / 50.0 : n < 250 ? 1 : (300 - n) / 50.0;
        int values[7];
        for (int i = 0; i < 7; ++i) {
            values[i] = static_cast<int>(std::lround(open[i] + t * (fist[i] - open[i])));
        }
        row("glove", n, n == 60 ? low : n == 200 ? high : values, n != 120);
        if (n % 100 == 0) {
            row("\"oth\ner\"", n, values, true);  // a name with a line break, quoted
        }
    }
    return csv.str();
}

constexpr const char* kExpected = R"({
  "format": "chirolink-calibration",
  "version": 1,
  "hand": "right",
  "channels": {
    "finger1": {"low": 41, "high": 190},
    "finger2": {"low": 212, "high": 35},
    "finger3": {"low": 38, "high": 201},
    "finger4": {"low": 44, "high": 187},
    "finger5": {"low": 50, "high": 176},
    "roll":    {"low": 120, "high": 128},
    "pitch":   {"low": 31, "high": 222}
  }
}
)";

constexpr const char* kNarrowRoll =
    "chirolink: warning: roll hardly moved: 120..128; is the sensor connected?\n";

TEST(Calibrate, TakesTheRangesOfAReplayedGloveLeavingTheWildFramesOut) {
    const auto recording = uniqueLinkPath("hand") + ".csv";
    const auto output = uniqueLinkPath("hand") + ".json";
    std::ofstream(recording) << handRecording();
    const auto link = uniqueLinkPath("replayed");
    Process replay(GLOVE_EMULATOR_PROGRAM, {"--replay", recording, "--link", link, "--quiet"});
    for (int i = 0; i < 500 && ::access(link.c_str(), F_OK) != 0; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    const auto started = std::chrono::steady_clock::now();
    const auto run = runToEnd(CHIROLINK_PROGRAM, {"calibrate", link, "-o", output, "--seconds",
                                                  "3.5", "--hand", "right", "--invert", "finger2"});
    const auto took = std::chrono::steady_clock::now() - started;
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readText(output), kExpected);
    EXPECT_EQ(run.err, kNarrowRoll);
    // Told what to do, a line a second while it runs (not a terminal), the summary at the end.
    EXPECT_EQ(run.out.find("For 4 s: open and close the hand fully"), 0u) << run.out;
    EXPECT_NE(run.out.find("calibrate 3 s: finger 1 0..255, finger 2 0..255"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("  finger 2 low 212  high  35  (inverted)\n"), std::string::npos)
        << run.out;
    EXPECT_GE(took, 3500ms);
    EXPECT_LT(took, 15s) << "it waits for nothing but its seconds";

    // The same from the recording itself: of the 299 good frames, 2 at each end are left out.
    const auto again =
        runToEnd(CHIROLINK_PROGRAM, {"calibrate", "--from", recording, "--glove", "glove", "-o",
                                     output, "--force", "--hand", "right", "--invert", "finger2"});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(readText(output), kExpected);
    EXPECT_NE(again.out.find("299 frames (1 with a bad checksum left out)"), std::string::npos)
        << again.out;
    const auto several =
        runToEnd(CHIROLINK_PROGRAM, {"calibrate", "--from", recording, "-o", output + ".2"});
    EXPECT_EQ(several.status, 1);
    EXPECT_EQ(several.err, "chirolink: " + recording +
                               ": holds the gloves glove, oth\ner; choose one with --glove\n");
    replay.signal(SIGTERM);
    replay.wait(5s);
    ::unlink(recording.c_str());
    ::unlink(output.c_str());
}

TEST(Calibrate, RefusesMistakenCommandLinesBeforeOpeningAnything) {
    const auto file = uniqueLinkPath("existing") + ".json";
    std::ofstream(file) << "kept";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string error;
    } cases[] = {
        {{"calibrate", "/dev/null"}, 2, "calibrate: -o FILE.json is required"},
        {{"calibrate", "COM1", "COM2", "-o", "x.json"},
         2,
         "calibrate: takes one PORT or --from RECORDING.csv"},
        {{"calibrate", "COM1", "--from", "r.csv", "-o", "x.json"},
         2,
         "calibrate: takes one PORT or --from RECORDING.csv"},
        {{"calibrate", "COM1", "--glove", "COM1", "-o", "x.json"},
         2,
         "calibrate: --glove names a glove in the recording of --from"},
        {{"calibrate", "COM1", "-o", "x.json", "--invert", "finger2,wrist"},
         2,
         "calibrate: --invert: 'wrist' is no channel (finger1 .. finger5, roll, pitch), in "
         "'finger2,wrist'"},
        {{"calibrate", "COM1", "-o", "x.json", "--hand", "both"},
         2,
         "calibrate: --hand: expected left or right, got 'both'"},
        {{"calibrate", "COM1", "-o", "x.json", "--seconds", "0"},
         2,
         "calibrate: --seconds: expected seconds above 0, got '0'"},
        {{"calibrate", "COM1", "-o", "x.json", "--duration", "3"},
         2,
         "calibrate: --duration does not apply here (see chirolink calibrate --help)"},
        {{"record", "COM1", "-o", "x.csv", "--seconds", "3"},
         2,
         "record: --seconds does not apply here (see chirolink record --help)"},
        {{"info", "COM1", "--calibration", file},
         2,
         "info: --calibration does not apply here (see chirolink info --help)"},
        {{"stream", "COM1", "COM2", "--osc", "localhost:9000", "--calibration", file},
         2,
         "stream: --calibration is given 1 times for 2 ports: once per port, in the same order"},
        {{"calibrate", "/no/such/port", "-o", file},
         1,
         file + ": file exists (--force overwrites it)"},
        {{"show", "/no/such/port", "--calibration", file},
         1,
         file + ": line 1: not JSON: syntax error while parsing value - invalid literal; last "
                "read: 'k'"},
        {{"record", "/no/such/port", "-o", file + ".csv", "--calibration", file + ".none"},
         1,
         file + ".none: no such file"},
    };
    for (const auto& c : cases) {
        const auto run = runToEnd(CHIROLINK_PROGRAM, c.args);
        EXPECT_EQ(run.status, c.status) << c.args[1];
        EXPECT_EQ(run.err, "chirolink: " + c.error + "\n");
    }
    EXPECT_EQ(readText(file), "kept");
    EXPECT_NE(access((file + ".csv").c_str(), F_OK), 0) << "record made its file all the same";
    ::unlink(file.c_str());
}

// A calibration of 40..190 on every finger, inverted on pitch.
std::string writeCalibration() {
    const chirolink_calibration calibration = {
        {40, 40, 40, 40, 40, 0, 255}, {190, 190, 190, 190, 190, 255, 0}, 0, 0};
    const auto path = uniqueLinkPath("fingers") + ".json";
    EXPECT_EQ(chirolink_calibration_save(path.c_str(), &calibration), CHIROLINK_OK);
    return path;
}

constexpr std::array<std::uint8_t, 7> kRaw{40, 115, 190, 250, 0, 51, 51};
constexpr std::array<float, 7> kCalibrated{0.0f, 0.5f, 1.0f, 1.0f, 0.0f, 0.2f, 0.8f};

TEST(Calibrated, RecordWritesTheCalibratedColumns) {
    const auto calibration = writeCalibration();
    const auto csv = uniqueLinkPath("calibrated") + ".csv";
    GloveEmulator glove;
    glove.setFixedValues(kRaw);
    const auto run = runToEnd(CHIROLINK_PROGRAM, {"record", glove.path(), "-o", csv, "--duration",
                                                  "0.5", "--calibration", calibration});
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream rows(readText(csv));
    std::string line;
    std::getline(rows, line);
    EXPECT_EQ(line,
              "glove,sequence,monotonic_s,wall_time,finger1,finger2,finger3,finger4,finger5,roll,"
              "pitch,checksum,checksum_ok,finger1_cal,finger2_cal,finger3_cal,finger4_cal,"
              "finger5_cal,roll_cal,pitch_cal");
    int count = 0;
    while (std::getline(rows, line)) {
        ++count;
        EXPECT_EQ(line.substr(line.rfind(",1,") + 3),
                  "0.0000,0.5000,1.0000,1.0000,0.0000,0.2000,0.8000")
            << line;
    }
    EXPECT_GT(count, 10);
    ::unlink(csv.c_str());
    ::unlink(calibration.c_str());
}

TEST(Calibrated, StreamSendsTheCalibratedValuesAsFloats) {
    const auto calibration = writeCalibration();
    GloveEmulator glove;
    glove.setFixedValues(kRaw);
    struct Received {
        std::vector<std::array<float, 7>> values;
    } received;
    const lo_server server = lo_server_new_with_proto(nullptr, LO_UDP, nullptr);
    ASSERT_NE(server, nullptr);
    lo_server_add_method(
        server, "/chirolink/1/values", "fffffff",
        [](const char*, const char*, lo_arg** argv, int, lo_message, void* data) {
            std::array<float, 7> values{};
            for (std::size_t i = 0; i < values.size(); ++i) {
                // liblo's arguments are 4-byte aligned, less than its union asks for.
                std::memcpy(&values[i], argv[i], sizeof values[i]);
            }
            static_cast<Received*>(data)->values.push_back(values);
            return 0;
        },
        &received);
    Process stream(
        CHIROLINK_PROGRAM,
        {"stream", glove.path(), "--osc", "127.0.0.1:" + std::to_string(lo_server_get_port(server)),
         "--osc-format", "float", "--duration", "1", "--calibration", calibration});
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (received.values.size() < 20 && std::chrono::steady_clock::now() < until) {
        lo_server_recv_noblock(server, 100);
    }
    EXPECT_EQ(stream.wait(10s), 0) << stream.err();
    lo_server_free(server);
    ASSERT_GE(received.values.size(), 20u);
    for (const auto& values : received.values) {
        EXPECT_EQ(values, kCalibrated);
    }
    ::unlink(calibration.c_str());
}

TEST(Calibrated, ShowDrawsTheBarsFromTheCalibratedValues) {
    cli::GloveView view;
    view.port = "COM1";
    view.latest.sequence = 1;
    std::copy(kRaw.begin(), kRaw.end(), view.latest.bytes.begin());
    const auto raw = cli::screenLines({view}, {80, 24});
    view.calibration = chirolink_calibration{
        {40, 40, 40, 40, 40, 0, 255}, {190, 190, 190, 190, 190, 255, 0}, 0, 0};
    const auto calibrated = cli::screenLines({view}, {80, 24});
    ASSERT_EQ(calibrated.size(), 8u);
    const auto filled = [](const std::string& line) {
        return std::count(line.begin(), line.end(), '#');
    };
    // 48 columns of bar on an 80-column terminal; the numbers stay raw.
    const long expected[7] = {0, 24, 48, 48, 0, 10, 38};
    for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(filled(calibrated[i + 1]), expected[i]) << calibrated[i + 1];
        EXPECT_EQ(calibrated[i + 1].substr(0, 14), raw[i + 1].substr(0, 14));
    }
    EXPECT_EQ(filled(raw[1]), 8) << raw[1];  // 40 of 255 without the calibration
}

}  // namespace
}  // namespace chirolink::tools::test
