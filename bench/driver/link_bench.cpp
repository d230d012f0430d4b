// What the link costs and delivers: frames per second against the line's limit, the readers'
// cost per call, the acquisition thread's CPU use while streaming and while the device is
// unplugged, and how long stopping a link takes on a babbling line. The exchange path beside a
// plain loop is measured by exchange_bench.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include <benchmark/benchmark.h>

#include "chirolink.h"
#include "glove_emulator.h"
#include "support.h"

namespace {

using chirolink::tools::GloveEmulator;
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

constexpr double kLineLimitPerSecond = 19200.0 / 100.0;  // 100 bit times per exchange

struct Window {
    double seconds;
    std::size_t frames;
    double threadCpuShare;  // of one core
};

// Watches the running link for `length`: frames the glove sent, CPU the thread used.
Window watch(const GloveEmulator& glove, Seconds length) {
    const pid_t thread = chirolink::testing::acquisitionThreadId();
    const auto cpu0 = chirolink::testing::threadCpuNanoseconds(thread);
    const auto frames0 = glove.framesSent();
    const auto start = Clock::now();
    std::this_thread::sleep_for(length);
    const double seconds = Seconds(Clock::now() - start).count();
    const auto cpu = chirolink::testing::threadCpuNanoseconds(thread) - cpu0;
    return {seconds, glove.framesSent() - frames0, static_cast<double>(cpu) / 1e9 / seconds};
}

void BM_FramesAtLineTiming(benchmark::State& state) {
    GloveEmulator glove;
    if (GloveInit(glove.path().c_str()) != 1) {
        state.SkipWithError("GloveInit failed");
        return;
    }
    glove.waitForFrames(10, std::chrono::milliseconds(2000));
    Window w{};
    for (auto _ : state) {
        w = watch(glove, Seconds(3));
    }
    const double rate = static_cast<double>(w.frames) / w.seconds;
    state.counters["frames_per_s"] = rate;
    state.counters["share_of_line_limit"] = rate / kLineLimitPerSecond;
    state.counters["thread_cpu_share"] = w.threadCpuShare;
    GloveInit(nullptr);
}
BENCHMARK(BM_FramesAtLineTiming)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ThreadWhileUnplugged(benchmark::State& state) {
    const auto dir = std::filesystem::temp_directory_path() / "chirolink-bench";
    std::filesystem::create_directories(dir);
    {
        GloveEmulator glove((dir / "glove").string());
        glove.setInstant(true);
        if (GloveInit(glove.path().c_str()) != 1) {
            state.SkipWithError("GloveInit failed");
            return;
        }
        glove.waitForFrames(10, std::chrono::milliseconds(2000));
        glove.unplug();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        Window w{};
        for (auto _ : state) {
            w = watch(glove, Seconds(3));
        }
        state.counters["thread_cpu_share"] = w.threadCpuShare;
        GloveInit(nullptr);
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ThreadWhileUnplugged)->Iterations(1)->Unit(benchmark::kMillisecond);

// A repeated GloveInit while the glove has gone quiet and the line carries a byte every 20 ms
// that is never a header: how long stopping the running link takes, the worst of the tries.
void BM_StopOnABabblingLine(benchmark::State& state) {
    GloveEmulator glove;
    double worstMs = 0;
    for (auto _ : state) {
        glove.setSilent(false);
        if (GloveInit(glove.path().c_str()) != 1) {
            state.SkipWithError("GloveInit failed");
            return;
        }
        glove.waitForFrames(glove.framesSent() + 5, std::chrono::milliseconds(2000));
        glove.setSilent(true);
        std::atomic<bool> babbling{true};
        std::thread babble([&] {
            while (babbling) {
                glove.sendRaw({0x00});
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto start = Clock::now();
        GloveInit(nullptr);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        state.SetIterationTime(ms / 1000.0);
        worstMs = std::max(worstMs, ms);
        babbling = false;
        babble.join();
    }
    state.counters["worst_stop_ms"] = worstMs;
}
BENCHMARK(BM_StopOnABabblingLine)->Iterations(100)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_GloveGetData(benchmark::State& state) {
    int32_t index = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(GloveGetData(index));
        index = (index + 1) & 7;
    }
}
BENCHMARK(BM_GloveGetData);

void BM_GloveGetDataPtr(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(GloveGetDataPtr());
    }
}
BENCHMARK(BM_GloveGetDataPtr);

// The same reader cost while the thread publishes frames as fast as the glove answers.
void BM_GloveGetDataWhileStreaming(benchmark::State& state) {
    GloveEmulator glove;
    glove.setInstant(true);
    if (GloveInit(glove.path().c_str()) != 1) {
        state.SkipWithError("GloveInit failed");
        return;
    }
    int32_t index = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(GloveGetData(index));
        index = (index + 1) & 7;
    }
    GloveInit(nullptr);
}
BENCHMARK(BM_GloveGetDataWhileStreaming);

}  // namespace

BENCHMARK_MAIN();
