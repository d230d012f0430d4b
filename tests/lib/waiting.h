// Clocks and waiting for a condition, shared by the Linux and the Windows tests.
#pragma once

#include <chrono>
#include <thread>

namespace chirolink::testing {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

inline double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

/// Waits until `condition` holds or `timeout` passes; returns the last result.
template <typename Condition>
bool eventually(Condition condition, milliseconds timeout) {
    const auto end = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(milliseconds(5));
    }
    return true;
}

}  // namespace chirolink::testing
