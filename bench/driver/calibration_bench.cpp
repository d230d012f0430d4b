// chirolink_calibrate per frame, through the shared library's export: seven values mapped to
// 0..1, with rising, falling (inverted) and equal ends among the channels, and the frames'
// values changing from one call to the next so that no result is the last one again.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>

#include "chirolink_calibration.h"

namespace {

void BM_Calibrate(benchmark::State& state) {
    const chirolink_calibration calibration = {
        {41, 212, 38, 44, 50, 90, 31}, {190, 35, 201, 187, 176, 90, 222}, 0, 0};
    std::array<chirolink_frame, 256> frames{};
    for (std::size_t n = 0; n < frames.size(); ++n) {
        for (std::size_t i = 0; i < 7; ++i) {
            frames[n].values[i] = static_cast<std::uint8_t>(n * 7 + i * 31);
        }
    }
    float values[7];
    std::size_t n = 0;
    for (auto _ : state) {
        chirolink_calibrate(&calibration, &frames[n++ & 255], values);
        benchmark::DoNotOptimize(values);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Calibrate);

}  // namespace

BENCHMARK_MAIN();
