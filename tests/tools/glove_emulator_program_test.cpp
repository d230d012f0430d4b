#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "host_port.h"
#include "process.h"

extern char** environ;

namespace chirolink::tools::test {
namespace {

// Runs the program in a shell and returns its exit code and everything it printed.
std::pair<int, std::string> runInShell(const std::string& args) {
    const std::string command = std::string(GLOVE_EMULATOR_PROGRAM) + " " + args + " 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe.get()) != nullptr) {
        output += buffer;
    }
    const int status = ::pclose(pipe.release());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

TEST(EmulatorProgram, ServesItsLinkAndCleansUpOnSigterm) {
    const auto link = uniqueLinkPath("program");
    const auto log = link + ".log";
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::string args[] = {GLOVE_EMULATOR_PROGRAM,  "--link", link, "--instant", "--values",
                          "0x0A,20,30,40,50,60,70"};
    char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(),
                    args[4].data(), args[5].data(), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(::posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);

    std::string firstLine;
    char c = 0;
    while (::read(out[0], &c, 1) == 1 && c != '\n') {
        firstLine += c;
    }
    ::close(out[0]);
    EXPECT_EQ(firstLine, link);
    {
        HostPort host(link);
        EXPECT_EQ(host.exchange({0x41}, 0x43, {0x80, 10, 20, 30, 40, 50, 60, 70, 0x60}),
                  Bytes{0x55});
    }
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    int status = -1;
    pid_t exited = 0;
    for (int i = 0; i < 500 && exited == 0; ++i) {
        std::this_thread::sleep_for(milliseconds(10));
        exited = ::waitpid(pid, &status, WNOHANG);
    }
    if (exited != pid) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        FAIL() << "did not stop on SIGTERM";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0) << "link left behind";
    std::ifstream logFile(log);
    const std::string logText{std::istreambuf_iterator<char>(logFile), {}};
    EXPECT_NE(logText.find(" ms  rx 0x41\n"), std::string::npos) << logText;
    EXPECT_NE(logText.find(" ms  rx 0x43\n"), std::string::npos) << logText;
    ::unlink(log.c_str());
}

// A long recording takes a while to load (a million rows, a second), and one read from a pipe
// (--replay <(zcat session.csv.gz)) as long as the writer likes: SIGTERM ends it at once.
TEST(EmulatorProgram, EndsAtOnceOnSigtermWhileItLoadsARecording) {
    const auto fifo = uniqueLinkPath("loading") + ".csv";
    const auto link = uniqueLinkPath("loading");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Process emulator(GLOVE_EMULATOR_PROGRAM, {"--replay", fifo, "--link", link, "--quiet"});
    int writer = -1;
    for (int i = 0; i < 500 && writer < 0; ++i) {  // ENXIO until the emulator opens it
        writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        std::this_thread::sleep_for(milliseconds(10));
    }
    ASSERT_GE(writer, 0);
    std::string rows =
        "glove,sequence,monotonic_s,wall_time,finger1,finger2,finger3,finger4,finger5,roll,"
        "pitch,checksum,checksum_ok\n";
    for (int i = 1; i <= 100; ++i) {
        rows += "g," + std::to_string(i) + "," + std::to_string(i) +
                ".5,2026-12-08T07:01:02.123456Z,1,2,3,4,5,6,7,0,1\n";
    }
    EXPECT_EQ(::write(writer, rows.data(), rows.size()), static_cast<ssize_t>(rows.size()));
    std::this_thread::sleep_for(milliseconds(200));  // it reads them and waits for more
    const auto start = SteadyClock::now();
    emulator.signal(SIGTERM);
    emulator.wait(std::chrono::seconds(3));
    EXPECT_LT(SteadyClock::now() - start, milliseconds(200));
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0) << "link left behind";
    ::close(writer);
    ::unlink(fifo.c_str());
}

TEST(EmulatorProgram, RejectsBadOptionsWithUsage) {
    for (const char* args :
         {"--bogus", "--values 1,2,3", "--values 1,2,3,4,5,6,256", "--drop-every x",
          "--hello-answer 0x100", "--link", "--replug-after 1", "--unplug-after -1", "--glove g",
          "--replay x.csv --values 1,2,3,4,5,6,7"}) {
        const auto [rc, output] = runInShell(args);
        EXPECT_EQ(rc, 2) << args;
        EXPECT_NE(output.find("usage:"), std::string::npos) << args;
    }
}

TEST(EmulatorProgram, RefusesAReplayFileItCannotUse) {
    const auto path = uniqueLinkPath("replay") + ".csv";
    for (const auto& [content, error] :
         {std::pair{"", ": No such file or directory"}, {"x\n", ": line 1: not a chirolink"}}) {
        if (*content != '\0') {
            std::ofstream(path) << content;
        }
        const auto [rc, output] = runInShell("--replay " + path);
        EXPECT_EQ(rc, 1) << output;
        EXPECT_EQ(output.rfind("glove-emulator: " + path + error, 0), 0u) << output;
        EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
    }
    ::unlink(path.c_str());
}

}  // namespace
}  // namespace chirolink::tools::test
