#include <cstdio>

#include "commands.h"
#include "device.h"

namespace chirolink::cli {

int info(const Options& options, Console& console) {
    const std::string& port = options.ports.front();
    GloveLink link;
    const auto result = link.start(port.c_str());
    std::printf("port:            %s", port.c_str());
    if (const auto path = deviceOf(port); path != port) {
        std::printf(" (%s)", path.c_str());
    }
    std::printf("\nfound:           %s\n", describe(result));
    if (result != StartResult::started) {
        std::fflush(stdout);
        complain(port + ": " + describe(result));
        return 1;
    }
    std::printf("settings:        %s\n", link.lineSettings().c_str());
    const auto start = Clock::now();
    const auto before = link.counters();
    console.waitUntil(start + std::chrono::seconds(2));
    const auto after = link.counters();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    link.stop();
    const auto frames = after.frames - before.frames;
    std::printf("frames:          %llu in %s s, %s per second\n",
                static_cast<unsigned long long>(frames), formatSeconds(seconds, 2).c_str(),
                formatSeconds(static_cast<double>(frames) / seconds).c_str());
    std::printf("checksum errors: %llu\nlost replies:    %llu\nreopens:         %llu\n",
                static_cast<unsigned long long>(after.badChecksums),
                static_cast<unsigned long long>(after.lostReplies),
                static_cast<unsigned long long>(after.reopens));
    return 0;
}

}  // namespace chirolink::cli
