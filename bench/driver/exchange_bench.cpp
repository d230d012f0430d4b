// The exchange path side by side: the library's acquisition thread and a plain
// write/poll/read loop, in turn against the same glove, answering at once or byte by byte at
// line timing. For each it prints exchanges a second, the library's ratio to the plain loop,
// the polling thread's wake-ups (voluntary context switches) and CPU share, system calls per
// exchange (with --strace, which attaches strace to the thread), and the turnaround from the
// glove's last answer byte to the next request, as the glove sees it. With --strace it also
// counts the system calls the library needs to get through a 4 KiB burst of junk.
//
// Usage: exchange_bench [--rounds N] [--seconds S] [--strace]
//   the two take turns, N rounds of S seconds each (8 of 0.5 s); rates and CPU shares are the
//   medians of the rounds, turnarounds and wake-ups are over all of them.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "chirolink.h"
#include "support.h"

extern char** environ;

namespace {

using chirolink::testing::acquisitionThreadId;
using chirolink::testing::threadCpuNanoseconds;

constexpr long kByteTimeNs = 520833;  // 10 bit times at 19200 baud

long long nowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

void sleepUntilNs(long long at) {
    const timespec t{static_cast<time_t>(at / 1000000000LL), static_cast<long>(at % 1000000000LL)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
    }
}

// A glove on a pseudo-terminal, written for measuring: it answers a hello with 0x55 and a
// request with a header and a frame, either in one write or one byte at a time at line
// timing, and notes for every request the time since its previous answer's last byte.
class BenchGlove {
public:
    explicit BenchGlove(bool lineTiming) : lineTiming_(lineTiming) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        grantpt(master_);
        unlockpt(master_);
        path_ = ptsname(master_);
        ownSlave_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);  // no hang-up between users
        termios raw{};
        tcgetattr(ownSlave_, &raw);
        cfmakeraw(&raw);
        tcsetattr(ownSlave_, TCSANOW, &raw);
        thread_ = std::thread([this] { run(); });
    }
    ~BenchGlove() {
        stop_ = true;
        thread_.join();
        close(ownSlave_);
        close(master_);
    }
    const std::string& path() const { return path_; }

    // Starts a new measurement: counts and turnarounds from now on.
    void restart() {
        const std::lock_guard lock(mutex_);
        exchanges_ = 0;
        turnaroundsUs_.clear();
        lastAnswerEnd_ = 0;
    }
    std::size_t exchanges() const {
        const std::lock_guard lock(mutex_);
        return exchanges_;
    }
    std::vector<double> turnaroundsUs() const {
        const std::lock_guard lock(mutex_);
        return turnaroundsUs_;
    }
    // Answers only `count` more requests (-1: all).
    void answerOnly(int count) { answersLeft_ = count; }
    // Puts `bytes` of junk before the next answer, all in one write with it.
    void junkBeforeNextAnswer(std::size_t bytes) { junk_ = bytes; }

private:
    void run() {
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) {
                continue;
            }
            std::uint8_t in[64];
            const ssize_t n = read(master_, in, sizeof in);
            const long long at = nowNs();
            for (ssize_t i = 0; i < n; ++i) {
                if (in[i] == 0x41) {
                    answer({0x55}, at);
                } else if (in[i] == 0x43) {
                    request(at);
                }
            }
        }
    }

    void request(long long at) {
        {
            const std::lock_guard lock(mutex_);
            if (lastAnswerEnd_ != 0) {
                turnaroundsUs_.push_back(static_cast<double>(at - lastAnswerEnd_) / 1000.0);
            }
            lastAnswerEnd_ = 0;
        }
        if (answersLeft_ == 0) {
            return;
        }
        if (answersLeft_ > 0) {
            --answersLeft_;
        }
        std::vector<std::uint8_t> bytes(junk_.exchange(0), 0x00);
        const std::uint8_t values[7] = {10, 20, 30, 40, 50, 60, static_cast<std::uint8_t>(at)};
        bytes.push_back(0x80);
        std::uint8_t sum = 0;
        for (const std::uint8_t v : values) {
            bytes.push_back(v);
            sum ^= v;
        }
        bytes.push_back(sum);
        answer(bytes, at);
        const std::lock_guard lock(mutex_);
        ++exchanges_;
    }

    void answer(const std::vector<std::uint8_t>& bytes, long long askedAt) {
        if (!lineTiming_) {
            [[maybe_unused]] const auto n = write(master_, bytes.data(), bytes.size());
        } else {
            // The asking byte took a byte time on the wire; each answer byte takes one more.
            long long due = askedAt + kByteTimeNs;
            for (const std::uint8_t byte : bytes) {
                due += kByteTimeNs;
                sleepUntilNs(due);
                [[maybe_unused]] const auto n = write(master_, &byte, 1);
            }
        }
        const std::lock_guard lock(mutex_);
        lastAnswerEnd_ = nowNs();
    }

    const bool lineTiming_;
    int master_ = -1;
    int ownSlave_ = -1;
    std::string path_;
    std::atomic<bool> stop_{false};
    std::atomic<int> answersLeft_{-1};
    std::atomic<std::size_t> junk_{0};
    mutable std::mutex mutex_;
    std::size_t exchanges_ = 0;
    std::vector<double> turnaroundsUs_;
    long long lastAnswerEnd_ = 0;
    std::thread thread_;
};

long voluntarySwitches(pid_t tid) {
    std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
            return std::stol(line.substr(24));
        }
    }
    return 0;
}

// strace attached to one thread of this process, counting its system calls by name.
class SyscallCounter {
public:
    explicit SyscallCounter(pid_t tid) {
        out_ = "/tmp/chirolink-strace-" + std::to_string(getpid()) + "-" + std::to_string(tid);
        const std::string target = std::to_string(tid);
        const char* argv[] = {"strace",     "-q", "-c",           "-o",
                              out_.c_str(), "-p", target.c_str(), nullptr};
        if (posix_spawnp(&pid_, "strace", nullptr, nullptr, const_cast<char**>(argv), environ) !=
            0) {
            pid_ = 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // attached
    }
    // Detaches and gives the counts ("total" for all).
    std::map<std::string, long> stop() {
        std::map<std::string, long> calls;
        if (pid_ == 0) {
            return calls;
        }
        kill(pid_, SIGINT);
        int status = 0;
        waitpid(pid_, &status, 0);
        std::ifstream in(out_);
        for (std::string line; std::getline(in, line);) {
            std::istringstream fields(line);
            std::vector<std::string> words;
            for (std::string w; fields >> w;) {
                words.push_back(w);
            }
            // % time, seconds, usecs/call, calls, [errors], name
            if (words.size() >= 5 && std::isdigit(static_cast<unsigned char>(words[0][0]))) {
                calls[words.back()] = std::stol(words[3]);
            }
        }
        std::remove(out_.c_str());
        return calls;
    }

private:
    std::string out_;
    pid_t pid_ = 0;
};

struct Result {
    double perSecond = 0;
    double wakeupsPerExchange = 0;
    double cpuShare = 0;
    std::map<std::string, long> calls;
    std::size_t exchanges = 0;
    std::vector<double> turnaroundsUs;
};

// Watches thread `tid` polling `glove` for `seconds`.
Result measure(BenchGlove& glove, pid_t tid, double seconds, bool strace) {
    std::unique_ptr<SyscallCounter> counter;
    if (strace) {
        counter = std::make_unique<SyscallCounter>(tid);
    }
    glove.restart();
    const long switches0 = voluntarySwitches(tid);
    const auto cpu0 = threadCpuNanoseconds(tid);
    const long long start = nowNs();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    Result r;
    const double elapsed = static_cast<double>(nowNs() - start) / 1e9;
    if (counter) {
        r.calls = counter->stop();
    }
    r.exchanges = glove.exchanges();
    r.turnaroundsUs = glove.turnaroundsUs();
    const double cpu = static_cast<double>(threadCpuNanoseconds(tid) - cpu0) / 1e9;
    const long switches = voluntarySwitches(tid) - switches0;
    r.perSecond = static_cast<double>(r.exchanges) / elapsed;
    r.wakeupsPerExchange = static_cast<double>(switches) / static_cast<double>(r.exchanges);
    r.cpuShare = cpu / elapsed;
    return r;
}

// The smallest loop that does the same exchange, on its own thread.
class PlainLoop {
public:
    explicit PlainLoop(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios raw{};
        tcgetattr(fd_, &raw);
        cfmakeraw(&raw);
        tcsetattr(fd_, TCSANOW, &raw);
        thread_ = std::thread([this] { run(); });
        while (tid_ == 0) {
            std::this_thread::yield();
        }
    }
    ~PlainLoop() {
        stop_ = true;
        thread_.join();
        close(fd_);
    }
    pid_t tid() const { return tid_; }

private:
    void run() {
        tid_ = gettid();
        while (!stop_) {
            const unsigned char request = 0x43;
            if (write(fd_, &request, 1) != 1) {
                return;
            }
            unsigned char reply[9];
            std::size_t got = 0;
            while (got < sizeof reply) {
                pollfd p{fd_, POLLIN, 0};
                if (poll(&p, 1, 200) <= 0) {
                    break;
                }
                const ssize_t n = read(fd_, reply + got, sizeof reply - got);
                if (n <= 0) {
                    break;
                }
                got += static_cast<std::size_t>(n);
            }
        }
    }
    int fd_ = -1;
    std::atomic<pid_t> tid_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

double percentile(std::vector<double> values, double p);

// Medians of the rounds' rates and CPU shares; wake-ups and turnarounds over all rounds.
Result combined(const std::vector<Result>& rounds) {
    Result all;
    std::vector<double> rates;
    std::vector<double> shares;
    double wakeups = 0;
    for (const Result& r : rounds) {
        rates.push_back(r.perSecond);
        shares.push_back(r.cpuShare);
        wakeups += r.wakeupsPerExchange * static_cast<double>(r.exchanges);
        all.exchanges += r.exchanges;
        all.turnaroundsUs.insert(all.turnaroundsUs.end(), r.turnaroundsUs.begin(),
                                 r.turnaroundsUs.end());
    }
    all.perSecond = percentile(rates, 0.5);
    all.cpuShare = percentile(shares, 0.5);
    all.wakeupsPerExchange = wakeups / static_cast<double>(std::max<std::size_t>(1, all.exchanges));
    return all;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto i = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
    return values[i];
}

void print(const char* who, const Result& r, double plainRate) {
    std::printf("  %-8s %9.0f/s  ratio %5.2f  wake-ups/exch %5.2f  cpu %6.2f%%", who, r.perSecond,
                plainRate > 0 ? r.perSecond / plainRate : 1.0, r.wakeupsPerExchange,
                r.cpuShare * 100);
    std::printf("  turnaround us p10 %6.1f p50 %6.1f p90 %6.1f p99 %6.1f\n",
                percentile(r.turnaroundsUs, 0.10), percentile(r.turnaroundsUs, 0.50),
                percentile(r.turnaroundsUs, 0.90), percentile(r.turnaroundsUs, 0.99));
}

// Calls per exchange: each exchange writes one request, so the writes count the exchanges
// strace saw, whenever it attached.
void printCalls(const char* who, Result r) {
    const double exchanges = static_cast<double>(r.calls["write"]);
    if (exchanges > 0) {
        std::printf("  %-8s syscalls/exch %5.2f:", who,
                    static_cast<double>(r.calls["total"]) / exchanges);
        for (const auto& [name, count] : r.calls) {
            if (name != "total") {
                std::printf(" %s %.2f", name.c_str(), static_cast<double>(count) / exchanges);
            }
        }
        std::printf("\n");
    }
}

// The system calls the library's thread makes for one exchange whose answer comes after
// `junk` bytes of junk, all waiting at once.
void junkBurst(std::size_t junk) {
    BenchGlove glove(false);
    if (GloveInit(glove.path().c_str()) != 1) {
        std::printf("junk burst: GloveInit failed\n");
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    glove.answerOnly(0);  // quiet: the thread now waits in its reads
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    SyscallCounter counter(acquisitionThreadId());
    glove.junkBeforeNextAnswer(junk);
    glove.answerOnly(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const auto calls = counter.stop();
    GloveInit(nullptr);
    std::printf("%zu bytes of junk before a header: %ld system calls in the window (", junk,
                calls.count("total") ? calls.at("total") : -1L);
    for (const auto& [name, count] : calls) {
        if (name != "total") {
            std::printf(" %s %ld", name.c_str(), count);
        }
    }
    std::printf(" ), of which the quiet cycles around it take about 4\n");
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 0.5;
    int rounds = 8;
    bool strace = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--strace") == 0) {
            strace = true;
        } else {
            std::fprintf(stderr, "usage: %s [--rounds N] [--seconds S] [--strace]\n", argv[0]);
            return 2;
        }
    }
    prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY);  // lets strace attach to our threads

    for (const bool lineTiming : {false, true}) {
        std::printf("%s glove, %d rounds of %.1f s each, taking turns:\n",
                    lineTiming ? "line-timed" : "instant", rounds, seconds);
        BenchGlove glove(lineTiming);
        // Taking turns in short rounds keeps a busy moment of the machine from favouring one.
        std::vector<Result> plain;
        std::vector<Result> library;
        for (int round = 0; round < rounds; ++round) {
            {
                PlainLoop loop(glove.path());
                plain.push_back(measure(glove, loop.tid(), seconds, false));
            }
            if (GloveInit(glove.path().c_str()) != 1) {
                std::printf("  GloveInit failed\n");
                return 1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            library.push_back(measure(glove, acquisitionThreadId(), seconds, false));
            GloveInit(nullptr);
        }
        const Result plainAll = combined(plain);
        print("plain", plainAll, plainAll.perSecond);
        print("library", combined(library), plainAll.perSecond);
        if (strace) {
            // strace stops the thread at every call: counting calls is a run of its own.
            {
                PlainLoop loop(glove.path());
                printCalls("plain", measure(glove, loop.tid(), 1, true));
            }
            GloveInit(glove.path().c_str());
            printCalls("library", measure(glove, acquisitionThreadId(), 1, true));
            GloveInit(nullptr);
        }
    }
    if (strace) {
        junkBurst(4096);
    }
    return 0;
}
