// chirolink ports and chirolink scan, run as real processes against emulated gloves.
#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include "glove_emulator.h"
#include "glove_link.h"
#include "process.h"

namespace chirolink::tools::test {
namespace {

Finished chirolink(const std::vector<std::string>& args) {
    return runToEnd(CHIROLINK_PROGRAM, args);
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Eight gloves among four silent ports, probed all at once: every glove is found, and the
// whole scan takes about as long as one silent port (1.2 s), not the 4.8 s of the silent
// ports one after the other.
TEST(Scan, FindsEveryGloveAmongSilentPortsInAboutTheTimeOfOne) {
    std::vector<std::unique_ptr<GloveEmulator>> ports;
    std::vector<std::string> names, gloves;
    for (int i = 0; i < 12; ++i) {
        ports.push_back(std::make_unique<GloveEmulator>());
        ports.back()->setSilent(i % 3 == 1);
        names.push_back(ports.back()->path());
        if (i % 3 != 1) {
            gloves.push_back(names.back());
        }
    }
    std::vector<std::string> args{"scan"};
    args.insert(args.end(), names.begin(), names.end());
    const auto start = std::chrono::steady_clock::now();
    const auto run = chirolink(args);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_LT(seconds, 3.5);
    std::vector<std::string> expected;
    std::string found = "gloves on:";
    for (int i = 0; i < 12; ++i) {
        expected.push_back(names[i] + (i % 3 == 1 ? ": no glove" : ": glove"));
        EXPECT_EQ(ports[i]->countReceived(GloveEmulator::kRequest), 0u) << "polled " << names[i];
    }
    for (const auto& glove : gloves) {
        found += " " + glove;
    }
    expected.push_back(found);
    EXPECT_EQ(linesOf(run.out), expected);

    args.push_back("--quiet");
    const auto quiet = chirolink(args);
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(linesOf(quiet.out), gloves);
}

TEST(Scan, SaysWhyAPortHasNoGloveAndExitsOneWhenNoneIsFound) {
    GloveEmulator held;
    held.setInstant(true);
    GloveLink link;
    ASSERT_EQ(link.start(held.path().c_str()), StartResult::started);
    const auto run = chirolink({"scan", held.path(), "/nonexistent/ttyUSB7"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(linesOf(run.out),
              (std::vector<std::string>{
                  held.path() + ": busy",
                  "/nonexistent/ttyUSB7: " + std::string(describe(StartResult::missing)),
                  "no glove found"}));
    const auto quiet = chirolink({"scan", "--quiet", "/nonexistent/ttyUSB7"});
    EXPECT_EQ(quiet.status, 1);
    EXPECT_EQ(quiet.out, "");
}

// This machine's own ports, whichever they are: each line begins with the name to open.
TEST(Ports, ListsOnePortALineBeginningWithItsName) {
    const auto run = chirolink({"ports"});
    EXPECT_EQ(run.status, 0);
    for (const auto& line : linesOf(run.out)) {
        EXPECT_EQ(line.rfind("/dev/", 0), 0u) << line;
    }
    EXPECT_EQ(run.out.empty(), run.err == "chirolink: no serial ports on this machine\n")
        << run.err;
    EXPECT_EQ(chirolink({"ports", "/dev/ttyS0"}).status, 2);
}

}  // namespace
}  // namespace chirolink::tools::test
