// Shared by the driver tests: clocks, the acquisition thread's entry in /proc, and running
// the probe program.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "../lib/waiting.h"

namespace chirolink::tools {
class GloveEmulator;
}

namespace chirolink::testing {

/// The thread id of the library's acquisition thread (named "chirolink"), or 0.
pid_t acquisitionThreadId();

/// CPU time the thread has used so far, in nanoseconds (from /proc).
std::uint64_t threadCpuNanoseconds(pid_t tid);

/// The mask of blocked signals of a thread of this process, from /proc.
std::uint64_t blockedSignals(pid_t tid);

/// A directory of its own under /tmp, removed with all it holds when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    /// The path of `name` inside the directory.
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

/// True when the glove gets no more requests: the link that polled it has stopped.
bool requestsStopped(const tools::GloveEmulator& glove);

struct ProbeResult {
    int exitCode = -1;  // -1 when it did not exit normally
    double milliseconds = 0;
    std::string errors;  // what it wrote to its standard error (passed on to ours as well)
};

/// Runs the probe program (a C client of the shared library) and waits for it, for 30 s at
/// most: a probe that has not ended by then is killed.
ProbeResult runProbe(const std::vector<std::string>& arguments);

}  // namespace chirolink::testing
