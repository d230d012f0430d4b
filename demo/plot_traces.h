// The plot's seven traces: their names and colours (0xRRGGBB), in sample order. The picture of
// a recording (python/chirolink/plot.py) uses the same colours; tests/python/test_plot.py reads
// this list and checks that the two agree.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace chiroscope::plot {

inline constexpr std::size_t kTraceCount = 7;

struct Trace {
    const char* name;
    std::uint32_t rgb;
};

// clang-format off
inline constexpr std::array<Trace, kTraceCount> kTraces = {{
    {"Finger 1", 0x1F77B4},  // blue
    {"Finger 2", 0xFF7F0E},  // orange
    {"Finger 3", 0x2CA02C},  // green
    {"Finger 4", 0xD62728},  // red
    {"Finger 5", 0x9467BD},  // purple
    {"Roll",     0x8C564B},  // brown
    {"Pitch",    0xBCBD22},  // olive
}};
// clang-format on

}  // namespace chiroscope::plot
