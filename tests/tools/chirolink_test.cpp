// The chirolink program, run as a real process against emulated gloves on pseudo-terminals.
#include <lo/lo.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "glove_emulator.h"
#include "glove_link.h"
#include "host_port.h"
#include "process.h"
#include "terminal_screen.h"

namespace chirolink::tools::test {
namespace {

using namespace std::chrono_literals;
using Values = std::array<std::uint8_t, 7>;

constexpr Values kLeft{10, 20, 30, 40, 50, 60, 70};
constexpr Values kRight{200, 190, 180, 170, 160, 150, 140};

Finished chirolink(const std::vector<std::string>& args) {
    return runToEnd(CHIROLINK_PROGRAM, args);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct Row {
    std::string glove;
    std::uint64_t sequence;
    double monotonic;
    std::string wall;
    std::array<int, 8> bytes;
    int checksumOk;
};

bool digits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), ::isdigit);
}

// Whether `text` has the shape of `pattern`, where 9 stands for any digit.
bool shaped(const std::string& text, const std::string& pattern) {
    return text.size() == pattern.size() &&
           std::equal(text.begin(), text.end(), pattern.begin(), [](char t, char p) {
               return p == '9' ? std::isdigit(static_cast<unsigned char>(t)) != 0 : t == p;
           });
}

// Parses a recording strictly: the header, then rows of 13 fields in the documented format.
std::vector<Row> parseCsv(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line,
              "glove,sequence,monotonic_s,wall_time,finger1,finger2,finger3,finger4,finger5,roll,"
              "pitch,checksum,checksum_ok");
    std::vector<Row> rows;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, ',');) {
            f.push_back(field);
        }
        const auto dot = f.size() == 13 ? f[2].find('.') : std::string::npos;
        bool ok = dot != std::string::npos && digits(f[1]) && digits(f[2].substr(0, dot)) &&
                  shaped(f[2].substr(dot), ".999999") &&
                  shaped(f[3], "9999-99-99T99:99:99.999999Z") && (f[12] == "0" || f[12] == "1");
        for (int i = 4; ok && i < 12; ++i) {
            ok = digits(f[i]) && std::stoi(f[i]) < 256;
        }
        if (!ok) {
            ADD_FAILURE() << "malformed row: " << line;
            break;
        }
        Row row{f[0], std::stoull(f[1]), std::stod(f[2]), f[3], {}, std::stoi(f[12])};
        for (int i = 0; i < 8; ++i) {
            row.bytes[i] = std::stoi(f[4 + i]);
        }
        rows.push_back(row);
    }
    EXPECT_TRUE(text.empty() || text.back() == '\n') << "the file ends in half a row";
    return rows;
}

// The rows of each glove, checked to be every frame in order: sequence numbers from `first`
// on without a gap, rising times, the checksum flag matching the bytes.
std::map<std::string, std::vector<Row>> byGlove(const std::vector<Row>& rows) {
    std::map<std::string, std::vector<Row>> gloves;
    for (const auto& row : rows) {
        auto& mine = gloves[row.glove];
        if (mine.empty()) {
            EXPECT_EQ(row.sequence, 1u) << row.glove;
        } else {
            EXPECT_EQ(row.sequence, mine.back().sequence + 1) << row.glove;
            EXPECT_GT(row.monotonic, mine.back().monotonic) << row.glove << " " << row.sequence;
        }
        int sum = 0;
        for (int i = 0; i < 7; ++i) {
            sum ^= row.bytes[i];
        }
        EXPECT_EQ(row.checksumOk, sum == row.bytes[7] ? 1 : 0) << row.glove << " " << row.sequence;
        mine.push_back(row);
    }
    return gloves;
}

// A count of the last progress line ("chirolink: record 2.0 s, 758 frames, ..."): what = "frames".
long long lastProgress(const std::string& err, const std::string& what) {
    const auto start = err.rfind("chirolink: record ");
    const auto line =
        start == std::string::npos ? "" : err.substr(start, err.find('\n', start) - start);
    const auto at = line.find(" " + what);
    if (at == std::string::npos) {
        ADD_FAILURE() << "no '" << what << "' in the last progress line of:\n" << err;
        return -1;
    }
    return std::stoll(line.substr(line.rfind(", ", at) + 2));
}
long long lastProgressFrames(const std::string& err) {
    return lastProgress(err, "frames");
}

std::vector<int> valuesOf(const Row& row) {
    return {row.bytes.begin(), row.bytes.begin() + 7};
}

TEST(Chirolink, HelpForTheProgramAndEachCommand) {
    for (const auto& [args, first] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--help"}, "usage: chirolink COMMAND"},
             {{"show", "--help"}, "usage: chirolink show PORT..."},
             {{"record", "x", "--help"}, "usage: chirolink record PORT... -o FILE.csv"},
             {{"stream", "--help"}, "usage: chirolink stream PORT... --osc HOST:PORT"},
             {{"info", "--help"}, "usage: chirolink info PORT"}}) {
        const auto run = chirolink(args);
        EXPECT_EQ(run.status, 0) << first;
        EXPECT_EQ(run.out.rfind(first, 0), 0u) << run.out;
        EXPECT_EQ(run.err, "");
    }
}

TEST(Chirolink, VersionIsTheProjectVersion) {
    const auto run = chirolink({"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "chirolink " CHIROLINK_VERSION "\n");
    EXPECT_EQ(run.err, "");
}

TEST(Chirolink, CommandLineMistakesExitTwoBeforeAnyPortIsOpened) {
    GloveEmulator glove;
    glove.setInstant(true);
    const auto port = glove.path();
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "no command given"},
        {{"play", port}, "unknown command 'play'"},
        {{"show"}, "show: no port given"},
        {{"show", port, "--force"}, "show: --force does not apply here"},
        {{"show", port, port}, "show: port '" + port + "' given twice"},
        {{"record", port}, "record: -o FILE.csv is required"},
        {{"record", port, "-o"}, "record: -o: missing value"},
        {{"show", port, "--duration"}, "show: --duration: missing value"},
        {{"record", port, "-o", "x.csv", "--duration"}, "record: --duration: missing value"},
        {{"stream", port, "--osc"}, "stream: --osc: missing value"},
        {{"record", port, "-o", "x.csv", "--duration", "0"}, "record: --duration: expected"},
        {{"record", port, "-o", "x.csv", "--bogus"}, "record: unknown option '--bogus'"},
        {{"stream", port}, "stream: --osc HOST:PORT is required"},
        {{"stream", port, "--osc", "127.0.0.1"}, "stream: --osc: expected HOST:PORT"},
        {{"stream", port, "--osc", "127.0.0.1:65536"}, "stream: --osc: expected HOST:PORT"},
        {{"stream", port, "--osc", "no-such-host.invalid:9000"},
         "stream: --osc: cannot resolve 'no-such-host.invalid'"},
        {{"info", port, "/dev/ttyS9"}, "info: takes exactly one port"},
    };
    for (const auto& [args, message] : cases) {
        const auto run = chirolink(args);
        EXPECT_EQ(run.status, 2) << message;
        EXPECT_EQ(run.err.rfind("chirolink: " + message, 0), 0u) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
    EXPECT_EQ(glove.countReceived(GloveEmulator::kHello), 0u) << "a port was opened";
}

TEST(Chirolink, FailuresAUserCanCauseExitOneWithOneLine) {
    GloveEmulator silent;
    silent.setSilent(true);
    GloveEmulator glove;
    glove.setInstant(true);
    const auto existing = uniqueLinkPath("existing") + ".csv";
    std::ofstream(existing) << "keep me\n";
    const auto fresh = uniqueLinkPath("fresh") + ".csv";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"info", "/nonexistent/tty"}, describe(StartResult::missing)},
        {{"info", "/dev/null"}, describe(StartResult::notATerminal)},
        {{"info", silent.path()}, describe(StartResult::noAnswer)},
        {{"show", glove.path(), "/nonexistent/tty"}, describe(StartResult::missing)},
        {{"record", "/nonexistent/tty", "-o", fresh}, describe(StartResult::missing)},
        {{"record", glove.path(), "-o", existing}, existing + ": file exists"},
        {{"record", glove.path(), "-o", "/nonexistent/dir/x.csv"}, "No such file or directory"},
    };
    for (const auto& [args, message] : cases) {
        const auto run = chirolink(args);
        EXPECT_EQ(run.status, 1) << message;
        EXPECT_EQ(run.err.rfind("chirolink: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
    EXPECT_EQ(readFile(existing), "keep me\n");
    struct stat st {};
    EXPECT_NE(::stat(fresh.c_str(), &st), 0) << "left a file behind for a missing glove";
    ::unlink(existing.c_str());
}

TEST(Chirolink, InfoReportsTheGloveTheLineAndTheRate) {
    GloveEmulator glove;
    const auto run = chirolink({"info", glove.path()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(std::string("found:           ") + describe(StartResult::started)),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("settings:        19200 baud, 8N1, raw"), std::string::npos) << run.out;
    const auto end = run.out.find(" per second");
    ASSERT_NE(end, std::string::npos) << run.out;
    const double rate = std::stod(run.out.substr(run.out.rfind(", ", end) + 2));
    EXPECT_GT(rate, 50.0);  // about 190 at line timing
    EXPECT_LT(rate, 200.0);
}

TEST(Chirolink, RecordsTwoGlovesAtOnceFrameByFrameInTimeOrder) {
    GloveEmulator left;
    left.setFixedValues(kLeft);
    GloveEmulator right;  // animated, every fifth checksum wrong
    right.corruptChecksumEvery(5);
    const auto file = uniqueLinkPath("two") + ".csv";
    const auto run =
        chirolink({"record", left.path(), right.path(), "-o", file, "--duration", "1.5"});
    EXPECT_EQ(run.status, 0) << run.err;
    const auto all = parseCsv(readFile(file));
    std::size_t backwards = 0;
    for (std::size_t i = 1; i < all.size(); ++i) {
        backwards += all[i].monotonic < all[i - 1].monotonic ? 1 : 0;
    }
    EXPECT_EQ(backwards, 0u) << "rows whose time is before the row above";
    auto gloves = byGlove(all);
    ASSERT_EQ(gloves.size(), 2u);
    const auto& l = gloves[left.path()];
    const auto& r = gloves[right.path()];
    for (const auto* rows : {&l, &r}) {
        EXPECT_GT(rows->size(), 50u);  // about 280 at line timing
        EXPECT_LT(rows->back().monotonic - rows->front().monotonic, 2.5);  // --duration 1.5
    }
    EXPECT_TRUE(std::all_of(l.begin(), l.end(), [](const Row& row) {
        return valuesOf(row) == std::vector<int>(kLeft.begin(), kLeft.end()) && row.checksumOk;
    }));
    const auto bad =
        std::count_if(r.begin(), r.end(), [](const Row& row) { return !row.checksumOk; });
    EXPECT_NEAR(static_cast<double>(bad), r.size() / 5.0, 2.0);
    EXPECT_NE(run.err.find(" errors"), std::string::npos) << run.err;
    ::unlink(file.c_str());
}

// Each run gets a glove of its own: a glove answers a request the last run sent just before it
// ended, and those bytes may still arrive when the next run says hello.
TEST(Chirolink, RecordEndsCleanlyOnASignalAndKeepsTheFileUnlessForced) {
    const auto file = uniqueLinkPath("signal") + ".csv";
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        GloveEmulator glove;
        ::unlink(file.c_str());
        Process record(CHIROLINK_PROGRAM, {"record", glove.path(), "-o", file});
        // Rows are on disk once a second; wait for some, then stop it mid-stream.
        const auto end = std::chrono::steady_clock::now() + 10s;
        while (readFile(file).size() < 2000 && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(20ms);
        }
        std::this_thread::sleep_for(300ms);
        record.signal(signal);
        EXPECT_EQ(record.wait(5s), 0) << record.err();
        const auto rows = parseCsv(readFile(file));
        EXPECT_GT(rows.size(), 20u);  // the 2000 bytes waited for
        EXPECT_EQ(byGlove(rows).size(), 1u);
        EXPECT_NE(record.err().find(std::to_string(rows.size()) + " frames"), std::string::npos)
            << "the last progress line counts the rows written:\n"
            << record.err();
    }
    GloveEmulator glove;
    const auto kept = readFile(file);
    EXPECT_EQ(chirolink({"record", glove.path(), "-o", file, "--duration", "0.3"}).status, 1);
    EXPECT_EQ(readFile(file), kept);
    EXPECT_EQ(
        chirolink({"record", glove.path(), "-o", file, "--duration", "0.3", "--force"}).status, 0);
    const auto rows = parseCsv(readFile(file));
    EXPECT_GT(rows.size(), 10u);
    EXPECT_LT(rows.size(), 200u);
    ::unlink(file.c_str());
}

// A reader that stops reading, or a FIFO nobody opens, does not keep a signal from ending the
// recording: the output holds whole rows, and the exit status says it failed.
TEST(Chirolink, RecordEndsOnASignalWhileItsOutputIsStalled) {
    const auto fifo = uniqueLinkPath("stalled") + ".csv";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        GloveEmulator glove;
        glove.setInstant(true);  // fills the pipe at once
        int out[2];
        ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
        Process stalled(CHIROLINK_PROGRAM, {"record", glove.path(), "-o", "-"}, out[1]);
        ::close(out[1]);
        Process unread(CHIROLINK_PROGRAM, {"record", glove.path(), "-o", fifo});
        EXPECT_TRUE(glove.waitForFrames(3000, 30s)) << glove.framesSent();
        std::this_thread::sleep_for(300ms);
        stalled.signal(signal);
        unread.signal(signal);
        EXPECT_EQ(stalled.wait(5s), 1) << stalled.err();
        EXPECT_NE(stalled.err().find("chirolink: standard output: stalled"), std::string::npos)
            << stalled.err();
        EXPECT_EQ(unread.wait(5s), 1) << unread.err();
        EXPECT_EQ(unread.err(), "chirolink: " + fifo + ": no reader came before the stop\n");
        std::string rows;
        char buffer[65536];
        for (ssize_t n = 0; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) {
            rows.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(out[0]);
        const auto parsed = parseCsv(rows);
        EXPECT_GT(parsed.size(), 100u);
        EXPECT_EQ(lastProgressFrames(stalled.err()), static_cast<long long>(parsed.size()))
            << stalled.err();
    }
    ::unlink(fifo.c_str());
    // Nor does it keep --duration from ending it.
    GloveEmulator glove;
    glove.setInstant(true);
    int out[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    Process timed(CHIROLINK_PROGRAM, {"record", glove.path(), "-o", "-", "--duration", "1"},
                  out[1]);
    ::close(out[1]);
    EXPECT_EQ(timed.wait(5s), 1) << timed.err();
    EXPECT_NE(timed.err().find("chirolink: standard output: stalled"), std::string::npos);
    ::close(out[0]);
}

TEST(Chirolink, RecordStoppedByAFullFileKeepsWholeRowsAndFails) {
    GloveEmulator glove;
    const auto file = uniqueLinkPath("full") + ".csv";
    // A file size limit (ulimit -f, in 512-byte blocks here) makes a write fail part-way.
    const auto run = runToEnd("/bin/sh", {"-c", "ulimit -f 40; trap '' XFSZ; exec \"$0\" \"$@\"",
                                          CHIROLINK_PROGRAM, "record", glove.path(), "-o", file});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("chirolink: " + file + ": File too large\n"), std::string::npos)
        << run.err;
    const auto text = readFile(file);
    EXPECT_LE(text.size(), 40u * 512);
    const auto rows = parseCsv(text);
    EXPECT_GT(rows.size(), 20u);
    EXPECT_EQ(lastProgressFrames(run.err), static_cast<long long>(rows.size()))
        << "the frames reported are the rows written:\n"
        << run.err;
    ::unlink(file.c_str());
}

TEST(Chirolink, RecordWritesToStandardOutputThroughAPipe) {
    const auto dir = uniqueLinkPath("stdout");
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    for (const std::string output : {"-", "/dev/stdout"}) {
        GloveEmulator glove;
        const auto run =
            runToEnd("/bin/sh", {"-c", "cd \"$0\" && exec \"$@\"", dir, CHIROLINK_PROGRAM, "record",
                                 glove.path(), "-o", output, "--duration", "1"});
        EXPECT_EQ(run.status, 0) << output << ": " << run.err;
        const auto rows = parseCsv(run.out);
        EXPECT_GT(rows.size(), 50u) << output;  // about 190 at line timing
        EXPECT_EQ(byGlove(rows).size(), 1u) << output;
        EXPECT_EQ(lastProgressFrames(run.err), static_cast<long long>(rows.size())) << run.err;
    }
    EXPECT_EQ(::rmdir(dir.c_str()), 0) << "a file was left in the working directory";
}

TEST(Chirolink, RecordCountsTheFramesItFellBehindOn) {
    GloveEmulator glove;
    glove.setInstant(true);  // thousands of frames a second
    int out[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    Process record(CHIROLINK_PROGRAM, {"record", glove.path(), "-o", "-"}, out[1]);
    ::close(out[1]);
    // Nobody reads the rows: the pipe fills, the writing thread blocks and the glove's queue of
    // 4096 frames runs over.
    EXPECT_TRUE(glove.waitForFrames(9000, 60s)) << glove.framesSent();
    std::string rows;
    char buffer[65536];
    bool signalled = false;
    for (ssize_t n = 0; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) {
        rows.append(buffer, static_cast<std::size_t>(n));
        if (!signalled && rows.size() > 1000000) {
            record.signal(SIGINT);
            signalled = true;
        }
    }
    ::close(out[0]);
    EXPECT_EQ(record.wait(10s), 0) << record.err();
    const auto parsed = parseCsv(rows);
    ASSERT_FALSE(parsed.empty());
    const auto missed = lastProgress(record.err(), "missed");
    EXPECT_GT(missed, 0) << record.err();
    // Every frame up to the last is either a row or counted as missed.
    EXPECT_EQ(static_cast<long long>(parsed.back().sequence),
              static_cast<long long>(parsed.size()) + missed)
        << record.err();
}

std::size_t countOf(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

TEST(Chirolink, RecordSaysWhenAGloveIsGoneAndBackAndSumsUpEachGlove) {
    GloveEmulator left;
    GloveEmulator right(uniqueLinkPath("unplugged"));
    GloveEmulator late;  // answers the hello, but its first frame only after 2 s
    late.dropReplyEvery(1);
    const auto file = uniqueLinkPath("gone") + ".csv";
    Process record(CHIROLINK_PROGRAM, {"record", left.path(), right.path(), late.path(), "-o", file,
                                       "--duration", "5"});
    ASSERT_TRUE(right.waitForFrames(20, 10s));
    std::this_thread::sleep_for(500ms);
    right.unplug();
    std::this_thread::sleep_for(1500ms);
    right.plug();
    late.dropReplyEvery(0);
    EXPECT_EQ(record.wait(20s), 0) << record.err();
    const auto& err = record.err();
    auto gloves = byGlove(parseCsv(readFile(file)));
    ASSERT_EQ(gloves.size(), 3u);
    EXPECT_EQ(countOf(err, late.path() + " has sent no frame yet"), 1u) << err;
    EXPECT_EQ(countOf(err, late.path() + " sent its first frame"), 1u) << err;
    EXPECT_EQ(countOf(err, late.path() + " gone") + countOf(err, late.path() + " back"), 0u) << err;
    EXPECT_EQ(countOf(err, left.path() + " gone"), 0u) << err;
    EXPECT_EQ(countOf(err, right.path() + " gone"), 1u) << err;
    EXPECT_EQ(countOf(err, right.path() + " back"), 1u) << err;
    EXPECT_LT(err.find(right.path() + " gone"), err.find(right.path() + " back")) << err;
    for (const auto& [port, rows] : gloves) {
        double longest = 0;
        for (std::size_t i = 1; i < rows.size(); ++i) {
            longest = std::max(longest, rows[i].monotonic - rows[i - 1].monotonic);
        }
        // "chirolink: PORT: N frames, longest gap S s, M missed"
        const auto at = err.find("chirolink: " + port + ": ");
        ASSERT_NE(at, std::string::npos) << "no summary for " << port << " in:\n" << err;
        std::istringstream summary(err.substr(at + 13 + port.size()));
        std::uint64_t frames = 0;
        double gap = 0;
        std::uint64_t missed = 1;
        std::string word[5];
        summary >> frames >> word[0] >> word[1] >> word[2] >> gap >> word[3] >> missed >> word[4];
        EXPECT_EQ(word[0] + word[1] + word[2] + word[3] + word[4], "frames,longestgaps,missed")
            << err;
        EXPECT_EQ(frames, rows.size()) << port;
        EXPECT_NEAR(gap, longest, 0.0011) << port;
        EXPECT_EQ(missed, 0u) << port;
    }
    const auto& r = gloves[right.path()];
    EXPECT_GT(r.size(), 100u);
    const auto hole = std::adjacent_find(r.begin(), r.end(), [](const Row& a, const Row& b) {
        return b.monotonic - a.monotonic > 1.0;  // unplugged for 1.5 s
    });
    EXPECT_NE(hole, r.end()) << "the glove was never away";
    ::unlink(file.c_str());
}

// Collects what a liblo server receives.
struct OscMessage {
    std::string path, types;
    std::vector<std::int64_t> ints;
    double time;
};

int collect(const char* path, const char* types, lo_arg** argv, int argc, lo_message, void* data) {
    OscMessage message{path, types, {}, 0};
    // The arguments lie in the packet at 4-byte boundaries: copied out, not read in place.
    auto copy = [&](int i, auto value) {
        std::memcpy(&value, reinterpret_cast<const char*>(argv[i]), sizeof value);
        return value;
    };
    for (int i = 0; i < argc; ++i) {
        if (types[i] == 'i') {
            message.ints.push_back(copy(i, std::int32_t{}));
        } else if (types[i] == 'h') {
            message.ints.push_back(copy(i, std::int64_t{}));
        } else if (types[i] == 'd') {
            message.time = copy(i, double{});
        }
    }
    static_cast<std::vector<OscMessage>*>(data)->push_back(message);
    return 0;
}

TEST(Chirolink, StreamsEachGloveAsOscMessagesNumberedInPortOrder) {
    GloveEmulator left;
    left.setFixedValues(kLeft);
    GloveEmulator right;
    right.setFixedValues(kRight);
    right.corruptChecksumEvery(3);
    std::unique_ptr<std::remove_pointer_t<lo_server>, void (*)(lo_server)> server(
        lo_server_new(nullptr, nullptr), lo_server_free);  // a free port; only 127.0.0.1 sends
    ASSERT_NE(server, nullptr);
    std::vector<OscMessage> received;
    lo_server_add_method(server.get(), nullptr, nullptr, collect, &received);
    const auto port = std::to_string(lo_server_get_port(server.get()));
    Process stream(CHIROLINK_PROGRAM, {"stream", left.path(), right.path(), "--osc",
                                       "127.0.0.1:" + port, "--duration", "1.5"});
    const auto end = std::chrono::steady_clock::now() + 15s;
    while (std::chrono::steady_clock::now() < end &&
           (received.size() < 200 || left.framesSent() < 10)) {
        lo_server_recv_noblock(server.get(), 50);
    }
    EXPECT_EQ(stream.wait(10s), 0) << stream.err();
    while (lo_server_recv_noblock(server.get(), 0) > 0) {
    }
    const double now =
        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    std::map<std::string, std::vector<OscMessage>> byPath;
    for (const auto& m : received) {
        byPath[m.path].push_back(m);
    }
    ASSERT_EQ(byPath.size(), 2u);
    for (const auto& [path, values, everyBad] : {std::tuple{"/chirolink/1/frame", kLeft, 0},
                                                 std::tuple{"/chirolink/2/frame", kRight, 3}}) {
        const auto& messages = byPath[path];
        ASSERT_GT(messages.size(), 50u) << path;
        for (std::size_t i = 0; i < messages.size(); ++i) {
            const auto& m = messages[i];
            ASSERT_EQ(m.types, "iiiiiiiihd") << path;
            EXPECT_EQ(std::vector<std::int64_t>(m.ints.begin(), m.ints.begin() + 7),
                      std::vector<std::int64_t>(values.begin(), values.end()));
            EXPECT_EQ(m.ints[7], everyBad != 0 && m.ints[8] % everyBad == 0 ? 0 : 1)
                << path << " sequence " << m.ints[8];
            if (i > 0) {
                EXPECT_GT(m.ints[8], messages[i - 1].ints[8]) << path;
                EXPECT_GE(m.time, messages[i - 1].time) << path;
            }
            EXPECT_NEAR(m.time, now, 20.0);
        }
    }
}

TEST(Chirolink, ShowRedrawsInPlaceOnATerminalAndPrintsPlainLinesOtherwise) {
    for (const bool terminal : {true, false}) {
        GloveEmulator glove;
        glove.setFixedValues(kLeft);
        int master = -1;
        int slave = -1;
        if (terminal) {
            ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
            ::fcntl(master, F_SETFD, FD_CLOEXEC);  // the program's only end is the slave
        }
        Process show(CHIROLINK_PROGRAM, {"show", glove.path(), "--duration", "2.1"}, slave);
        std::string screen;
        if (terminal) {
            ::close(slave);
            char buffer[4096];
            ssize_t n = 0;
            while ((n = ::read(master, buffer, sizeof buffer)) > 0) {  // EIO once it is gone
                screen.append(buffer, static_cast<std::size_t>(n));
            }
            ::close(master);
        }
        EXPECT_EQ(show.wait(10s), 0) << show.err();
        if (terminal) {
            // Eight lines drawn, the cursor on the last one: back up seven to draw again.
            const std::string again = "\r\x1b[7A";
            std::size_t redraws = 0;
            for (auto at = screen.find(again); at != std::string::npos;
                 at = screen.find(again, at + 1)) {
                ++redraws;
            }
            EXPECT_GT(redraws, 20);  // 20 a second
            EXPECT_LT(redraws, 50);
            const auto last = screen.substr(screen.rfind(again));
            EXPECT_EQ(last.rfind(again + glove.path() + "  ", 0), 0u) << last;
            EXPECT_NE(last.find("\n  finger 1  10 ##....."), std::string::npos) << last;
            EXPECT_NE(last.find("\n  pitch     70 #############....."), std::string::npos) << last;
        } else {
            EXPECT_EQ(show.out().find('\x1b'), std::string::npos) << show.out();
            EXPECT_EQ(std::count(show.out().begin(), show.out().end(), '\n'), 2) << show.out();
            EXPECT_EQ(show.out().rfind(glove.path() + "  10 20 30 40 50 60 70  checksum ok", 0), 0u)
                << show.out();
        }
    }
}

// `chirolink show` on a pseudo-terminal whose screen the test keeps, and resizes.
class ShownOnATerminal {
public:
    ShownOnATerminal(const std::vector<std::string>& ports, int columns, int rows)
        : screen_(columns, rows) {
        winsize size{static_cast<unsigned short>(rows), static_cast<unsigned short>(columns), 0, 0};
        EXPECT_EQ(::openpty(&master_, &slave_, nullptr, nullptr, &size), 0);
        ::fcntl(master_, F_SETFD, FD_CLOEXEC);  // the program's only end is the slave
        std::vector<std::string> args{"show"};
        args.insert(args.end(), ports.begin(), ports.end());
        show_.emplace(CHIROLINK_PROGRAM, args, slave_);
        ::close(slave_);
        reader_ = std::thread([this] {
            char buffer[4096];
            ssize_t n = 0;
            while ((n = ::read(master_, buffer, sizeof buffer)) > 0) {  // EIO once it is gone
                const std::lock_guard lock(mutex_);
                screen_.feed({buffer, static_cast<std::size_t>(n)});
            }
        });
    }
    ~ShownOnATerminal() {
        show_.reset();
        reader_.join();
        ::close(master_);
    }

    void resize(int columns, int rows) {
        winsize size{static_cast<unsigned short>(rows), static_cast<unsigned short>(columns), 0, 0};
        const std::lock_guard lock(mutex_);
        EXPECT_EQ(::ioctl(master_, TIOCSWINSZ, &size), 0);
        screen_.resize(columns, rows);
        show_->signal(SIGWINCH);  // the terminal is not the program's controlling one
    }

    // Lets the program settle on the screen's size, then watches it redraw for a while: no
    // line may wrap, the screen may not scroll. Gives the screen as it was drawn last.
    TerminalScreen watch() {
        std::this_thread::sleep_for(500ms);
        const auto before = copy();
        std::this_thread::sleep_for(1000ms);
        const auto after = copy();
        EXPECT_EQ(after.wraps(), before.wraps()) << "lines wrapped at " << after.columns();
        EXPECT_EQ(after.scrolls(), before.scrolls())
            << "the screen scrolled on " << after.rows() << " rows:\n"
            << after.text();
        EXPECT_EQ(after.unknown(), 0);
        return after;
    }

    // Ends the program; gives its exit status.
    int stop() {
        show_->signal(SIGINT);
        const int status = show_->wait(10s);
        EXPECT_EQ(show_->err(), "");
        return status;
    }

private:
    TerminalScreen copy() {
        const std::lock_guard lock(mutex_);
        return screen_;
    }

    int master_ = -1;
    int slave_ = -1;
    std::mutex mutex_;
    TerminalScreen screen_;
    std::optional<Process> show_;
    std::thread reader_;
};

TEST(Chirolink, ShowFitsTheTerminalAndFollowsItsSize) {
    std::vector<std::unique_ptr<GloveEmulator>> gloves;
    std::vector<std::string> ports;
    for (int i = 0; i < 3; ++i) {
        // Long names, like /dev/serial/by-id/ ones.
        gloves.push_back(std::make_unique<GloveEmulator>(uniqueLinkPath("show-glove")));
        gloves.back()->setFixedValues(kLeft);
        ports.push_back(gloves.back()->path());
    }
    auto titleOf = [&](const TerminalScreen& screen, int row, int glove) {
        const auto title = screen.line(row);
        EXPECT_NE(title.find(ports[glove].substr(ports[glove].size() - 6)), std::string::npos)
            << "glove " << glove << " not at row " << row << " of:\n"
            << screen.text();
        EXPECT_EQ(screen.line(row + 1).rfind("  finger 1  10 ", 0), 0u) << screen.text();
        EXPECT_EQ(screen.line(row + 7).rfind("  pitch     70 ", 0), 0u) << screen.text();
    };
    ShownOnATerminal show(ports, 80, 24);
    {
        const auto screen = show.watch();
        EXPECT_EQ(screen.wraps(), 0) << screen.text();
        EXPECT_EQ(screen.scrolls(), 0) << screen.text();
        for (int glove = 0; glove < 3; ++glove) {
            titleOf(screen, glove * 8, glove);
        }
    }
    show.resize(60, 12);  // room for one glove
    {
        const auto screen = show.watch();
        titleOf(screen, 0, 0);
        EXPECT_NE(screen.line(8).find("2 gloves hidden"), std::string::npos) << screen.text();
    }
    show.resize(36, 30);
    {
        const auto screen = show.watch();
        for (int glove = 0; glove < 3; ++glove) {
            titleOf(screen, glove * 8, glove);
        }
        EXPECT_EQ(screen.line(24), "") << screen.text();
    }
    EXPECT_EQ(show.stop(), 0);
}

// Runs of equal values collapsed to one: what a glove showed, whatever the polling phase.
std::vector<std::vector<int>> shown(const std::vector<Row>& rows) {
    std::vector<std::vector<int>> values;
    for (const auto& row : rows) {
        if (values.empty() || values.back() != valuesOf(row)) {
            values.push_back(valuesOf(row));
        }
    }
    return values;
}

TEST(Chirolink, ARecordingReplayedAndRecordedAgainShowsTheSameValues) {
    const auto first = uniqueLinkPath("first") + ".csv";
    const auto second = uniqueLinkPath("second") + ".csv";
    std::vector<Row> original;
    {
        GloveEmulator glove;
        glove.setFixedValues(kLeft);
        Process record(CHIROLINK_PROGRAM,
                       {"record", glove.path(), "-o", first, "--duration", "1.6"});
        ASSERT_TRUE(glove.waitForFrames(1, 5s));
        for (std::uint8_t step = 1; step < 8; ++step) {
            std::this_thread::sleep_for(150ms);
            glove.setFixedValues({step, 2, 3, 4, 5, static_cast<std::uint8_t>(255 - step), 7});
        }
        EXPECT_EQ(record.wait(10s), 0) << record.err();
        original = byGlove(parseCsv(readFile(first)))[glove.path()];
    }
    ASSERT_EQ(shown(original).size(), 8u);
    const auto link = uniqueLinkPath("replayed");
    Process replay(GLOVE_EMULATOR_PROGRAM, {"--replay", first, "--link", link, "--quiet"});
    struct stat st {};
    for (int i = 0; i < 500 && ::lstat(link.c_str(), &st) != 0; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    const double span = original.back().monotonic - original.front().monotonic;
    const auto run =
        chirolink({"record", link, "-o", second, "--duration", std::to_string(span + 0.5)});
    EXPECT_EQ(run.status, 0) << run.err;
    const auto again = byGlove(parseCsv(readFile(second)))[link];
    EXPECT_EQ(shown(again), shown(original));
    replay.signal(SIGTERM);
    EXPECT_EQ(replay.wait(5s), 0) << replay.err();
    ::unlink(first.c_str());
    ::unlink(second.c_str());
}

}  // namespace
}  // namespace chirolink::tools::test
