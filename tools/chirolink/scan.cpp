// chirolink scan: says hello on many ports at once and tells where a glove answered.
//
// Threads: one per port probed, started and joined here. Each probes its own port and writes
// only its own slot of the results; the main thread reads them after joining all.
#include <cstdio>
#include <thread>

#include "commands.h"
#include "port_list.h"
#include "port_probe.h"

namespace chirolink::cli {
namespace {

// The verdict on one port, as the scan prints it.
const char* verdict(StartResult result) {
    switch (result) {
        case StartResult::started:
            return "glove";
        case StartResult::noAnswer:
            return "no glove";
        case StartResult::busy:
            return "busy";
        case StartResult::denied:
            return "no access";
        default:
            return describe(result);
    }
}

}  // namespace

int scan(const Options& options, Console&) {
    std::vector<std::string> names = options.ports;
    if (names.empty()) {
        auto found = systemPorts();
        sortByName(found);
        for (const auto& port : found) {
            names.push_back(port.name);
        }
    }
    if (names.empty()) {
        complain("no serial ports on this machine to probe");
        return 1;
    }
    std::vector<StartResult> results(names.size(), StartResult::failed);
    {
        std::vector<std::jthread> probes;
        probes.reserve(names.size());
        for (std::size_t i = 0; i < names.size(); ++i) {
            probes.emplace_back([&, i] { results[i] = probePort(names[i].c_str()); });
        }
    }
    std::vector<std::string> gloves;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (results[i] == StartResult::started) {
            gloves.push_back(names[i]);
        }
        if (!options.quiet) {
            std::printf("%s: %s\n", names[i].c_str(), verdict(results[i]));
        }
    }
    if (options.quiet) {
        for (const auto& glove : gloves) {
            std::printf("%s\n", glove.c_str());
        }
    } else if (gloves.empty()) {
        std::printf("no glove found\n");
    } else {
        std::printf("glove%s on:", gloves.size() == 1 ? "" : "s");
        for (const auto& glove : gloves) {
            std::printf(" %s", glove.c_str());
        }
        std::printf("\n");
    }
    return gloves.empty() ? 1 : 0;
}

}  // namespace chirolink::cli
