#include "support.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "glove_emulator.h"

extern char** environ;

namespace chirolink::testing {
namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string taskFile(pid_t tid, const char* name) {
    return "/proc/self/task/" + std::to_string(tid) + "/" + name;
}

}  // namespace

pid_t acquisitionThreadId() {
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) {
        return 0;
    }
    pid_t found = 0;
    while (const dirent* entry = readdir(tasks)) {
        const pid_t tid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (tid > 0 && readFile(taskFile(tid, "comm")) == "chirolink\n") {
            found = tid;
            break;
        }
    }
    closedir(tasks);
    return found;
}

std::uint64_t threadCpuNanoseconds(pid_t tid) {
    // First field of schedstat: time spent on a CPU, in nanoseconds.
    std::istringstream fields(readFile(taskFile(tid, "schedstat")));
    std::uint64_t onCpu = 0;
    fields >> onCpu;
    return onCpu;
}

std::uint64_t blockedSignals(pid_t tid) {
    std::istringstream status(readFile(taskFile(tid, "status")));
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("SigBlk:", 0) == 0) {
            return std::stoull(line.substr(7), nullptr, 16);
        }
    }
    return 0;
}

TempDir::TempDir() {
    char pattern[] = "/tmp/chirolink-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

bool requestsStopped(const tools::GloveEmulator& glove) {
    constexpr std::uint8_t kRequest = 0x43;
    std::this_thread::sleep_for(milliseconds(100));  // a request under way may still arrive
    const std::size_t before = glove.countReceived(kRequest);
    std::this_thread::sleep_for(milliseconds(500));
    return glove.countReceived(kRequest) == before;
}

ProbeResult runProbe(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    std::string program = CHIROLINK_PROBE;
    argv.push_back(program.data());
    std::vector<std::string> copies = arguments;
    for (auto& argument : copies) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    ProbeResult result;
    const TempDir dir;
    const std::string errorFile = dir / "stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    const auto start = Clock::now();
    pid_t child = 0;
    const int spawned =
        posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return result;
    }
    int status = 0;
    const bool ended = eventually([&] { return waitpid(child, &status, WNOHANG) == child; },
                                  std::chrono::seconds(30));
    if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    result.milliseconds = millisecondsSince(start);
    if (ended && WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    }
    result.errors = readFile(errorFile);
    std::fputs(result.errors.c_str(), stderr);
    return result;
}

}  // namespace chirolink::testing
