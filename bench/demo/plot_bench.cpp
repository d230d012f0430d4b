// plot_bench: Chiroscope's own classes (start-up, readout window, plot window) in this process,
// on an X display, with the plot window open and the glove emulator (a separate process, so
// that its CPU is not counted) answering at the line's own pace with moving values. Reports
// the process's CPU use over the run as a share of one core, that of its UI thread (frames
// drained, laid out and painted there), the redraw rate, and whether the plot's model got every
// frame the link received.
//
// usage: plot_bench [--duration SECONDS] [--readout-only]   (default 60 s)
// --readout-only leaves the plot closed: the same figures for the readout window alone, to tell
// the plot's share. Without a DISPLAY it runs itself under xvfb-run. Exit status 0 when the
// model's count equals the link's and the process stayed at or under 5 % of a core.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "application.h"
#include "chirolink_glove.h"
#include "plot_window.h"
#include "readout_dialog.h"
#include "resources.h"
#include "startup.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kCpuLimit = 0.05;
constexpr double kWarmUpS = 2.0;

double cpuSeconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

pid_t spawn(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int failed = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        std::perror("plot_bench: posix_spawn");
        std::exit(2);
    }
    return pid;
}

struct Figures {
    double wall = 0;
    double processCpu = 0;
    double uiCpu = 0;
    std::uint64_t modelFrames = 0;
    std::uint64_t linkFrames = 0;
    std::uint64_t missed = 0;
    int redraws = 0;
};

}  // namespace

int main(int argc, char** argv) {
    double duration = 60;
    bool plotOpen = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--duration") == 0 && i + 1 < argc) {
            duration = std::atof(argv[++i]);
        } else if (std::strcmp(argv[i], "--readout-only") == 0) {
            plotOpen = false;
        } else {
            std::fprintf(stderr, "usage: plot_bench [--duration SECONDS] [--readout-only]\n");
            return 2;
        }
    }
    if (std::getenv("DISPLAY") == nullptr) {
        std::vector<char*> args{const_cast<char*>("xvfb-run"), const_cast<char*>("-a"),
                                const_cast<char*>("-s"),
                                const_cast<char*>("-screen 0 1024x768x24 -nolisten tcp")};
        args.insert(args.end(), argv, argv + argc);
        args.push_back(nullptr);
        ::execvp("xvfb-run", args.data());
        std::perror("plot_bench: xvfb-run");
        return 2;
    }

    char dir[] = "/tmp/plot_bench-XXXXXX";
    if (::mkdtemp(dir) == nullptr) {
        std::perror("plot_bench: mkdtemp");
        return 2;
    }
    const std::string link = std::string(dir) + "/glove";
    const pid_t emulator = spawn({GLOVE_EMULATOR_PROGRAM, "--link", link, "--quiet"});
    for (int i = 0; i < 100 && !std::filesystem::exists(link); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    static int qtArgc = 1;
    static char* qtArgv[] = {argv[0], nullptr};
    chiroscope::ChiroscopeApplication app(qtArgc, qtArgv);
    Figures figures;
    Clock::time_point start;
    double startProcess = 0;
    double startUi = 0;
    chiroscope::ReadoutDialog* readout = nullptr;
    QTimer poll;
    int step = 0;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (step == 0) {  // the readout is up: open the plot as the menu entry does
            readout = qobject_cast<chiroscope::ReadoutDialog*>(QApplication::activeModalWidget());
            if (readout == nullptr) {
                return;
            }
            if (plotOpen) {
                readout->systemCommand(chiroscope::kIdmPlot);
            }
            step = 1;
            QTimer::singleShot(static_cast<int>(kWarmUpS * 1000), [&] {
                start = Clock::now();
                startProcess = cpuSeconds(RUSAGE_SELF);
                startUi = cpuSeconds(RUSAGE_THREAD);
                figures.redraws = plotOpen ? -readout->plotWindow()->paintCount() : 0;
                QTimer::singleShot(static_cast<int>(duration * 1000), [&] {
                    figures.wall = std::chrono::duration<double>(Clock::now() - start).count();
                    figures.processCpu = cpuSeconds(RUSAGE_SELF) - startProcess;
                    figures.uiCpu = cpuSeconds(RUSAGE_THREAD) - startUi;
                    figures.redraws += plotOpen ? readout->plotWindow()->paintCount() : 0;
                    // The glove goes away; what the link has received by then, the model must
                    // hold once the next redraws have drained the queue.
                    ::kill(emulator, SIGTERM);
                    ::waitpid(emulator, nullptr, 0);
                    QTimer::singleShot(500, [&] {
                        chirolink_status status{};
                        chirolink_get_status(chirolink_process_glove(), &status);
                        figures.linkFrames = status.frames;
                        figures.missed = status.missed;
                        figures.modelFrames =
                            plotOpen ? readout->plotWindow()->model().frameCount() : 0;
                        readout->accept();
                    });
                });
            });
        }
    });
    poll.start(50);
    chiroscope::Startup({link}).initInstance();
    std::filesystem::remove_all(dir);

    const double share = figures.processCpu / figures.wall;
    std::printf("%s %.1f s at the line's pace: %.0f redraws/s\n",
                plotOpen ? "plot open" : "readout only", figures.wall,
                figures.redraws / figures.wall);
    std::printf("CPU: process %.2f %% of a core (UI thread %.2f %%, other threads %.2f %%)\n",
                100 * share, 100 * figures.uiCpu / figures.wall,
                100 * (figures.processCpu - figures.uiCpu) / figures.wall);
    std::printf("frames: link %llu, plot model %llu, missed %llu\n",
                static_cast<unsigned long long>(figures.linkFrames),
                static_cast<unsigned long long>(figures.modelFrames),
                static_cast<unsigned long long>(figures.missed));
    const bool ok = figures.linkFrames > 0 &&
                    (!plotOpen || figures.modelFrames == figures.linkFrames) && share <= kCpuLimit;
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
