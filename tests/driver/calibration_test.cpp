// The calibration calls: the file read back as written, every refusal with its line, a write
// that fails half-way, and the mapping of raw values to 0..1.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "chirolink_calibration.h"
#include "support.h"

namespace chirolink::testing {
namespace {

constexpr chirolink_calibration kExampleCalibration = {
    {41, 212, 38, 44, 50, 20, 31}, {190, 35, 201, 187, 176, 235, 222}, CHIROLINK_HAND_RIGHT, 0};

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The example every program that writes the file is to follow, byte for byte; the Python tests
// read the same file.
const std::string kExample = contents(CHIROLINK_CALIBRATION_EXAMPLE);

void put(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

struct Loaded {
    int32_t result;
    std::string message;
    chirolink_calibration calibration;
};

Loaded load(const std::string& path) {
    Loaded loaded{};
    char message[200];
    std::memset(message, 'x', sizeof message);
    loaded.result =
        chirolink_calibration_load(path.c_str(), &loaded.calibration, message, sizeof message);
    loaded.message = message;
    return loaded;
}

bool same(const chirolink_calibration& a, const chirolink_calibration& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(CalibrationFile, SavesTheExampleByteForByteAndLoadsItBack) {
    TempDir dir;
    ASSERT_EQ(chirolink_calibration_save((dir / "right.json").c_str(), &kExampleCalibration),
              CHIROLINK_OK);
    EXPECT_EQ(contents(dir / "right.json"), kExample);
    auto loaded = load(dir / "right.json");
    ASSERT_EQ(loaded.result, CHIROLINK_OK) << loaded.message;
    EXPECT_TRUE(same(loaded.calibration, kExampleCalibration));
    EXPECT_EQ(loaded.message, "");

    // Without a hand, with keys of later versions and other tools, in another layout.
    put(dir / "left.json",
        "\xEF\xBB\xBF{\"channels\": {\"pitch\": {\"high\": 0, \"low\": 255, \"note\": [1]},"
        "\"roll\": {\"low\": 0, \"high\": 0}, \"finger5\": {\"low\": 5, \"high\": 6},"
        "\"finger4\": {\"low\": 4, \"high\": 7}, \"finger3\": {\"low\": 3, \"high\": 8},"
        "\"finger2\": {\"low\": 2, \"high\": 9}, \"finger1\": {\"low\": 1, \"high\": 10},"
        "\"thumb\": 3}, \"created\": \"2026-12-08\", \"version\": 1,"
        "\"format\": \"chirolink-calibration\", \"glove\": {\"serial\": 7}}");
    loaded = load(dir / "left.json");
    ASSERT_EQ(loaded.result, CHIROLINK_OK) << loaded.message;
    EXPECT_TRUE(same(loaded.calibration,
                     chirolink_calibration{{1, 2, 3, 4, 5, 0, 255}, {10, 9, 8, 7, 6, 0, 0}, 0, 0}));
    ASSERT_EQ(chirolink_calibration_save((dir / "left.json").c_str(), &loaded.calibration),
              CHIROLINK_OK);
    const auto again = load(dir / "left.json");
    EXPECT_TRUE(same(again.calibration, loaded.calibration));
    EXPECT_EQ(contents(dir / "left.json").find("hand"), std::string::npos);
}

TEST(CalibrationFile, EveryRefusalNamesItsLine) {
    const std::string fist = "\"pitch\":   {\"low\": 31, \"high\": 222}";
    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        {replaced(kExample, "\"high\": 35}", "\"high\": 300}"),
         "line 7: finger2: \"high\" is 300, not 0..255"},
        {replaced(kExample, "\"low\": 44", "\"low\": -1"),
         "line 9: finger4: \"low\" is -1, not 0..255"},
        {replaced(kExample, "\"low\": 50", "\"low\": 50.0"),
         "line 10: finger5: \"low\" is 50.0, not 0..255"},
        {replaced(kExample, "\"high\": 235", "\"high\":\n 2350\n"),
         "line 12: roll: \"high\" is 2350, not 0..255"},
        {replaced(kExample, "\"high\": 201", "\"high\": \"201\""),
         "line 8: finger3: \"high\" is \"201\", not 0..255"},
        {replaced(kExample, "{\"low\": 41, ", "{"), "line 6: finger1: \"low\" is missing"},
        {replaced(kExample, fist, "\"Pitch\": {}"), "line 5: \"channels\": pitch is missing"},
        {replaced(kExample, fist, "\"pitch\": 7"), "line 12: pitch is 7, not an object"},
        {replaced(kExample, "\"version\": 1", "\"version\": 2"), "line 3: \"version\" is 2, not 1"},
        {replaced(kExample, "  \"version\": 1,\n", ""), "line 1: \"version\" is missing"},
        {replaced(kExample, "chirolink-calibration", "chirolink-recording"),
         "line 2: \"format\" is \"chirolink-recording\", not \"chirolink-calibration\""},
        {replaced(kExample, "  \"format\": \"chirolink-calibration\",\n", ""),
         "line 1: \"format\" is missing: not a calibration file"},
        {replaced(kExample, "\"right\"", "\"both\""),
         "line 4: \"hand\" is \"both\", not \"left\" or \"right\""},
        {replaced(kExample, "\"channels\": {", "\"channels\": [1], \"x\": {"),
         "line 5: \"channels\" is [...], not an object"},
        {"\n\n[1, 2]", "line 3: the file holds [...], not a JSON object"},
        {replaced(kExample, "\"low\": 38,", "\"low\": 38"),
         "line 8: not JSON: syntax error while parsing object - unexpected string literal; "
         "expected '}'"},
        {"",
         "line 1: not JSON: syntax error while parsing value - unexpected end of input; "
         "expected '[', '{', or a literal"},
    };
    TempDir dir;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        put(dir / "file.json", cases[i].text);
        const auto loaded = load(dir / "file.json");
        EXPECT_EQ(loaded.result, CHIROLINK_ERR_FORMAT) << cases[i].text;
        EXPECT_EQ(loaded.message, cases[i].message) << cases[i].text;
    }

    // Past 64 KiB, the line where the file crosses the limit.
    put(dir / "large.json", std::string(kExample) + std::string(70000, '\n'));
    auto loaded = load(dir / "large.json");
    EXPECT_EQ(loaded.result, CHIROLINK_ERR_FORMAT);
    // The example's 14 lines, then a line feed a byte: byte 65537 begins the line after.
    const auto crossing = 14 + 1 + 64 * 1024 - kExample.size();
    EXPECT_EQ(loaded.message, "line " + std::to_string(crossing) + ": the file is over 64 KiB");

    loaded = load(dir / "none.json");
    EXPECT_EQ(loaded.result, CHIROLINK_ERR_MISSING);
    EXPECT_EQ(loaded.message, "no such file");
    EXPECT_STREQ(chirolink_error_text(CHIROLINK_ERR_FORMAT), "not a calibration file");

    // A short buffer gets the start of the line, ended; a refused load leaves the structure.
    put(dir / "file.json", cases[0].text);
    char message[8];
    chirolink_calibration untouched = kExampleCalibration;
    EXPECT_EQ(chirolink_calibration_load((dir / "file.json").c_str(), &untouched, message,
                                         sizeof message),
              CHIROLINK_ERR_FORMAT);
    EXPECT_STREQ(message, "line 7:");
    EXPECT_TRUE(same(untouched, kExampleCalibration));
    EXPECT_EQ(chirolink_calibration_load(nullptr, &untouched, nullptr, 0), CHIROLINK_ERR_ARG);
}

TEST(CalibrationFile, AWriteThatFailsLeavesTheOldFileWhole) {
    TempDir dir;
    const std::string path = dir / "right.json";
    ASSERT_EQ(chirolink_calibration_save(path.c_str(), &kExampleCalibration), CHIROLINK_OK);
    chirolink_calibration other = kExampleCalibration;
    other.hand = CHIROLINK_HAND_LEFT;

    // A disk that fills after 100 bytes, the way a file-size limit makes write(2) fail (root
    // writes through any permission bits).
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit limit = before;
    limit.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const int32_t result = chirolink_calibration_save(path.c_str(), &other);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &before), 0);

    EXPECT_EQ(result, CHIROLINK_ERR_SYSTEM);
    EXPECT_EQ(contents(path), kExample);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"right.json"}) << "the temporary file is left";

    EXPECT_EQ(chirolink_calibration_save((dir / "no/such.json").c_str(), &other),
              CHIROLINK_ERR_MISSING);
    other.hand = 3;
    EXPECT_EQ(chirolink_calibration_save(path.c_str(), &other), CHIROLINK_ERR_ARG);
}

TEST(Calibrate, MapsEachChannelFromLowToHighClamped) {
    // finger1 rising, finger2 falling (inverted), finger3 low == high, then the ends.
    const chirolink_calibration calibration = {
        {40, 200, 90, 0, 0, 100, 100}, {190, 50, 90, 255, 255, 0, 200}, 0, 0};
    chirolink_frame frame{};
    const uint8_t raw[7] = {115, 80, 17, 0, 255, 100, 250};
    std::memcpy(frame.values, raw, 7);
    float values[7];
    ASSERT_EQ(chirolink_calibrate(&calibration, &frame, values), CHIROLINK_OK);
    EXPECT_FLOAT_EQ(values[0], 0.5f);
    EXPECT_FLOAT_EQ(values[1], 0.8f);
    EXPECT_EQ(values[2], 0.5f);
    EXPECT_EQ(values[3], 0.0f);
    EXPECT_EQ(values[4], 1.0f);
    EXPECT_EQ(values[5], 0.0f);
    EXPECT_FALSE(std::signbit(values[5])) << "an inverted channel at its low gives -0.0";
    EXPECT_EQ(values[6], 1.0f);

    // Beyond the range on either side, for a rising and a falling channel.
    const uint8_t beyond[7] = {10, 255, 0, 0, 0, 255, 0};
    std::memcpy(frame.values, beyond, 7);
    ASSERT_EQ(chirolink_calibrate(&calibration, &frame, values), CHIROLINK_OK);
    EXPECT_EQ(values[0], 0.0f);
    EXPECT_FALSE(std::signbit(values[0]));
    EXPECT_EQ(values[1], 0.0f);
    EXPECT_FALSE(std::signbit(values[1]));
    EXPECT_EQ(values[5], 0.0f);
    EXPECT_EQ(values[6], 0.0f);
    EXPECT_EQ(chirolink_calibrate(&calibration, nullptr, values), CHIROLINK_ERR_ARG);
}

}  // namespace
}  // namespace chirolink::testing
