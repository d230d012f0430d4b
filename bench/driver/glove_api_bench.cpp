// The glove API of chirolink_glove.h against emulated gloves at line timing: how soon a blocked
// chirolink_next_frame returns after a frame's last byte was read, and eight gloves in one
// process beside one alone (frames a second per glove, frames missed, the acquisition threads'
// CPU per glove).
//
// Threads: the benchmark's thread opens the gloves, watches the counters and closes the gloves
// once the readers are joined. In BM_Gloves each glove has a reader thread that takes its
// frames with chirolink_next_frame and writes only its own Reader. The emulators run on their
// own threads.
//
// Usage: glove_api_bench [--seconds=S] [benchmark options]
//   --seconds=S  how long BM_Gloves watches the gloves, after they have started (default 60)
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "chirolink_glove.h"
#include "glove_emulator.h"
#include "support.h"

namespace {

using chirolink::tools::GloveEmulator;
using Clock = std::chrono::steady_clock;

double watchSeconds = 60;
constexpr double kLineLimitPerSecond = 19200.0 / 100.0;  // 100 bit times per exchange

// The clock of chirolink_frame.monotonic_s.
double monotonicSeconds() {
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

// The thread ids of every acquisition thread of this process (each is named "chirolink").
std::vector<pid_t> acquisitionThreads() {
    std::vector<pid_t> found;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        if (std::getline(comm, name) && name == "chirolink") {
            found.push_back(static_cast<pid_t>(std::stol(task.path().filename().string())));
        }
    }
    return found;
}

std::uint64_t cpuNanoseconds(const std::vector<pid_t>& threads) {
    std::uint64_t sum = 0;
    for (const pid_t tid : threads) {
        sum += chirolink::testing::threadCpuNanoseconds(tid);
    }
    return sum;
}

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

chirolink_status statusOf(chirolink_glove* glove) {
    chirolink_status status{};
    chirolink_get_status(glove, &status);
    return status;
}

// Blocked chirolink_next_frame calls until `frames` of them have returned a frame that arrived
// while they waited: the time from the frame's monotonic_s to the call's return. Frames that
// were queued before the call (the reader had fallen behind) are counted but not timed.
void BM_NextFrameLatency(benchmark::State& state) {
    const auto frames = static_cast<std::size_t>(state.range(0));
    GloveEmulator emulator;
    chirolink_glove* glove = nullptr;
    if (chirolink_open(emulator.path().c_str(), &glove) != CHIROLINK_OK) {
        state.SkipWithError("chirolink_open failed");
        return;
    }
    std::vector<double> latenciesUs;
    std::size_t queued = 0;
    for (auto _ : state) {
        chirolink_frame frame{};
        while (chirolink_next_frame(glove, &frame, 0) == CHIROLINK_OK) {
        }
        latenciesUs.clear();
        queued = 0;
        while (latenciesUs.size() < frames) {
            const double called = monotonicSeconds();
            if (chirolink_next_frame(glove, &frame, 1000) != CHIROLINK_OK) {
                state.SkipWithError("no frame within 1 s");
                break;
            }
            const double returned = monotonicSeconds();
            if (frame.monotonic_s <= called) {
                ++queued;
                continue;
            }
            latenciesUs.push_back((returned - frame.monotonic_s) * 1e6);
        }
    }
    state.counters["frames_timed"] = static_cast<double>(latenciesUs.size());
    state.counters["frames_queued_before_call"] = static_cast<double>(queued);
    state.counters["p50_us"] = percentile(latenciesUs, 0.50);
    state.counters["p99_us"] = percentile(latenciesUs, 0.99);
    state.counters["max_us"] = percentile(latenciesUs, 1.0);
    chirolink_close(glove);
}
BENCHMARK(BM_NextFrameLatency)->Arg(2000)->Iterations(1)->Unit(benchmark::kMillisecond);

// Takes every frame of one glove as it comes and notes gaps in the sequence.
struct Reader {
    chirolink_glove* glove = nullptr;
    std::uint64_t frames = 0;
    std::uint64_t gaps = 0;  // frames the sequence numbers skipped
    std::thread thread;

    void run(const std::atomic<bool>& stop) {
        std::uint64_t last = 0;
        chirolink_frame frame{};
        while (!stop.load(std::memory_order_relaxed)) {
            if (chirolink_next_frame(glove, &frame, 200) != CHIROLINK_OK) {
                continue;
            }
            ++frames;
            if (last != 0 && frame.sequence != last + 1) {
                gaps += frame.sequence - last - 1;
            }
            last = frame.sequence;
        }
    }
};

double rateAlone = 0;  // frames a second of BM_Gloves/1, for BM_Gloves/8

// `state.range(0)` gloves at once, each with its own emulator and reader, watched for
// --seconds after all have started.
void BM_Gloves(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    std::vector<std::unique_ptr<GloveEmulator>> emulators;
    std::vector<Reader> readers(count);
    std::atomic<bool> stop{false};
    for (std::size_t i = 0; i < count; ++i) {
        emulators.push_back(std::make_unique<GloveEmulator>());
        if (chirolink_open(emulators[i]->path().c_str(), &readers[i].glove) != CHIROLINK_OK) {
            state.SkipWithError("chirolink_open failed");
            for (std::size_t j = 0; j < i; ++j) {
                chirolink_close(readers[j].glove);
            }
            return;
        }
    }
    for (Reader& reader : readers) {
        reader.thread = std::thread([&reader, &stop] { reader.run(stop); });
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));  // every link polling, readers caught up

    std::vector<double> rates(count);
    std::uint64_t cpu = 0;
    double processCpu = 0;
    double seconds = 0;
    const std::vector<pid_t> threads = acquisitionThreads();
    for (auto _ : state) {
        std::vector<std::uint64_t> frames0(count);
        for (std::size_t i = 0; i < count; ++i) {
            frames0[i] = statusOf(readers[i].glove).frames;
        }
        const std::uint64_t cpu0 = cpuNanoseconds(threads);
        const double processCpu0 = processCpuSeconds();
        const auto start = Clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(watchSeconds));
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
        for (std::size_t i = 0; i < count; ++i) {
            rates[i] =
                static_cast<double>(statusOf(readers[i].glove).frames - frames0[i]) / seconds;
        }
        cpu = cpuNanoseconds(threads) - cpu0;
        processCpu = processCpuSeconds() - processCpu0;
    }

    stop = true;
    std::uint64_t missed = 0;
    std::uint64_t gaps = 0;
    std::uint64_t lost = 0;
    std::uint64_t bad = 0;
    for (Reader& reader : readers) {
        reader.thread.join();
        const chirolink_status status = statusOf(reader.glove);
        missed += status.missed;
        lost += status.lost_replies;
        bad += status.bad_checksums;
        gaps += reader.gaps;
        chirolink_close(reader.glove);
    }

    const double slowest = *std::min_element(rates.begin(), rates.end());
    const double fastest = *std::max_element(rates.begin(), rates.end());
    double sum = 0;
    for (const double rate : rates) {
        sum += rate;
    }
    const double n = static_cast<double>(count);
    state.counters["seconds"] = seconds;
    state.counters["frames_per_s_mean"] = sum / n;
    state.counters["frames_per_s_min"] = slowest;
    state.counters["frames_per_s_max"] = fastest;
    state.counters["min_share_of_line_limit"] = slowest / kLineLimitPerSecond;
    if (count == 1) {
        rateAlone = slowest;
    } else if (rateAlone > 0) {
        state.counters["min_vs_alone"] = slowest / rateAlone;
        state.counters["max_vs_alone"] = fastest / rateAlone;
    }
    state.counters["missed"] = static_cast<double>(missed);
    state.counters["sequence_gaps"] = static_cast<double>(gaps);
    state.counters["lost_replies"] = static_cast<double>(lost);
    state.counters["bad_checksums"] = static_cast<double>(bad);
    state.counters["acquisition_threads"] = static_cast<double>(threads.size());
    // Shares of one core: the acquisition threads' per glove, and the whole process's
    // (emulators and readers included) per glove.
    state.counters["thread_cpu_per_glove"] =
        static_cast<double>(cpu) / 1e9 / seconds / std::max<double>(1, threads.size());
    state.counters["process_cpu_per_glove"] = processCpu / seconds / n;
}
BENCHMARK(BM_Gloves)->Arg(1)->Arg(8)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // --seconds=S is this program's own; the rest goes to the benchmark library.
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--seconds=", 10) == 0) {
            char* end = nullptr;
            watchSeconds = std::strtod(argv[i] + 10, &end);
            if (end == argv[i] + 10 || *end != '\0' || !(watchSeconds > 0)) {
                std::fprintf(stderr, "glove_api_bench: --seconds needs a positive number\n");
                return 2;
            }
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
