// record_bench: runs `chirolink record` on one and on two emulated gloves at line timing for a
// while, then checks the recording for gaps in each glove's sequence numbers and reports the
// recorder's own CPU use (user and system time of its process, from wait4) as a share of one
// core over its run.
//
// usage: record_bench [--duration SECONDS] [--gloves 1|2]   (default: 60 s, both)
// Exit status 0 when every run kept every frame and stayed under 2 % of a core.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "glove_emulator.h"

extern char** environ;

namespace {

using chirolink::tools::GloveEmulator;
using Clock = std::chrono::steady_clock;

constexpr double kCpuLimit = 0.02;

struct GloveFigures {
    std::uint64_t rows = 0;
    std::uint64_t gaps = 0;  // frames missing between rows, summed
    std::uint64_t badChecksums = 0;
    std::uint64_t lastSequence = 0;
};

// CPU seconds of the process's threads so far from /proc: its main thread, and all others (the
// links' acquisition threads).
std::pair<double, double> threadCpu(pid_t pid) {
    std::pair<double, double> cpu{0, 0};
    const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task/";
    DIR* dir = ::opendir(tasks.c_str());
    if (dir == nullptr) {
        return cpu;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        std::ifstream stat(tasks + entry->d_name + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string field;
        double utime = 0, stime = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {  // fields 14 and 15: utime, stime
            if (i == 14) {
                utime = std::stod(field);
            } else if (i == 15) {
                stime = std::stod(field);
            }
        }
        (std::atoi(entry->d_name) == pid ? cpu.first : cpu.second) += (utime + stime) / tick;
    }
    ::closedir(dir);
    return cpu;
}

double seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

bool run(int gloveCount, double duration) {
    std::vector<std::unique_ptr<GloveEmulator>> gloves;
    std::vector<std::string> args{CHIROLINK_PROGRAM, "record"};
    for (int i = 0; i < gloveCount; ++i) {
        gloves.push_back(std::make_unique<GloveEmulator>());
        args.push_back(gloves.back()->path());
    }
    char file[] = "/tmp/record_bench-XXXXXX.csv";
    const int fd = ::mkstemps(file, 4);
    ::close(fd);
    args.insert(args.end(), {"-o", file, "--force", "--duration", std::to_string(duration)});
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = Clock::now();
    pid_t pid = -1;
    if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::perror("record_bench: posix_spawn");
        return false;
    }
    posix_spawn_file_actions_destroy(&actions);
    // Shortly before the end, how the CPU time splits between the threads.
    std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(duration * 0.95)));
    const auto [mainCpu, linkCpu] = threadCpu(pid);
    const double sampledAt = std::chrono::duration<double>(Clock::now() - start).count();
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);

    std::map<std::string, GloveFigures> figures;
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string glove, sequence, field;
        std::getline(fields, glove, ',');
        std::getline(fields, sequence, ',');
        std::string checksumOk = line.substr(line.rfind(',') + 1);
        auto& f = figures[glove];
        const auto seq = std::stoull(sequence);
        f.gaps += seq - f.lastSequence - 1;
        f.lastSequence = seq;
        ++f.rows;
        f.badChecksums += checksumOk == "0";
    }
    ::unlink(file);

    bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
              figures.size() == static_cast<std::size_t>(gloveCount) && cpu / wall < kCpuLimit;
    std::printf("%d glove%s, %.1f s (recorder ran %.2f s, exit status %d):\n", gloveCount,
                gloveCount == 1 ? "" : "s", duration, wall,
                WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    for (const auto& [glove, f] : figures) {
        std::printf("  %s: %llu frames, %.1f/s, %llu missing, %llu bad checksums\n", glove.c_str(),
                    static_cast<unsigned long long>(f.rows), static_cast<double>(f.rows) / duration,
                    static_cast<unsigned long long>(f.gaps),
                    static_cast<unsigned long long>(f.badChecksums));
        ok = ok && f.gaps == 0 && f.rows > 0;
    }
    std::printf(
        "  recorder CPU: %.3f s user + %.3f s system = %.2f %% of a core (limit %.0f %%)"
        ", max RSS %ld KiB\n",
        seconds(usage.ru_utime), seconds(usage.ru_stime), 100.0 * cpu / wall, 100.0 * kCpuLimit,
        usage.ru_maxrss);
    std::printf(
        "  after %.1f s: main thread (CSV) %.2f s = %.2f %%, acquisition threads %.2f s = "
        "%.2f %%\n",
        sampledAt, mainCpu, 100.0 * mainCpu / sampledAt, linkCpu, 100.0 * linkCpu / sampledAt);
    std::printf("  %s\n", ok ? "ok" : "FAILED");
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    double duration = 60;
    std::vector<int> counts{1, 2};
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--duration") {
            duration = std::atof(argv[i + 1]);
        } else if (option == "--gloves") {
            counts = {std::atoi(argv[i + 1])};
        }
    }
    if (argc % 2 == 0 || !(duration > 0) || counts.front() < 1) {
        std::fputs("usage: record_bench [--duration SECONDS] [--gloves N]\n", stderr);
        return 2;
    }
    bool ok = true;
    for (const int count : counts) {
        ok = run(count, duration) && ok;
    }
    return ok ? 0 : 1;
}
