// `stream`: every frame of every glove as an OSC message.
#include <atomic>

#include "calibration_use.h"
#include "commands.h"
#include "osc.h"

namespace chirolink::cli {

using std::chrono::milliseconds;

int stream(const Options& options, Console& console) {
    const auto resolved = resolveUdp(options.oscHost, options.oscPort);
    if (!resolved.error.empty()) {
        complain("stream: --osc: " + resolved.error);
        return 2;
    }
    auto gloves = glovesOn(options.ports);
    if (!loadCalibrations(options, gloves)) {
        return 1;
    }
    std::vector<std::unique_ptr<OscSender>> senders;
    std::vector<std::unique_ptr<FrameCallback>> readers;
    for (std::size_t i = 0; i < gloves.size(); ++i) {
        senders.push_back(std::make_unique<OscSender>(resolved.target, static_cast<int>(i + 1),
                                                      options.oscFormat, gloves[i].calibration));
        readers.push_back(std::make_unique<FrameCallback>(
            *gloves[i].link, [sender = senders.back().get()](const StampedFrame& frame) {
                sender->sendFrame(frame);
            }));
    }
    if (!startAll(gloves)) {
        return 1;
    }
    ProgressLine progress("stream");
    auto sum = [&](auto count) {
        std::uint64_t total = 0;
        for (const auto& sender : senders) {
            total += ((*sender).*count)();
        }
        return total;
    };
    auto report = [&] {
        const auto links = totals(gloves);
        // The gloves' own rate, whether or not the messages got away.
        progress.update(Clock::now(), sum(&OscSender::framesTaken),
                        links.badChecksums + links.lostReplies,
                        {{sum(&OscSender::failures), "not sent"}});
    };
    FailureReport failures;
    auto reportFailures = [&] {
        if (const auto line = failures.since(senders); !line.empty()) {
            progress.note("stream: " + line);  // over the progress line, drawn again next
        }
    };
    const auto start = Clock::now();
    const auto deadline = deadlineOf(options.duration, start);
    auto nextProgress = start + progress.interval();
    auto nextFailures = start + std::chrono::seconds(1);
    // Four times a second: the links' states, for the float format's state messages.
    while (carryOn(console, milliseconds(250), deadline)) {
        for (std::size_t i = 0; i < gloves.size(); ++i) {
            senders[i]->sendState(gloves[i].link->state());
        }
        const auto now = Clock::now();
        if (now >= nextFailures) {
            nextFailures += std::chrono::seconds(1);
            reportFailures();
        }
        if (now >= nextProgress) {
            nextProgress += progress.interval();
            report();
        }
    }
    readers.clear();
    for (auto& glove : gloves) {
        glove.link->stop();
    }
    reportFailures();
    report();
    progress.finish();
    if (sum(&OscSender::failures) > 0 && sum(&OscSender::framesSent) == 0) {
        complain("stream: not one message could be sent");
        return 1;
    }
    return 0;
}

}  // namespace chirolink::cli
