#include "commands.h"

#include <atomic>
#include <cstdio>
#include <optional>

#include "csv.h"
#include "osc.h"
#include "platform/platform.h"
#include "recorder.h"
#include "view.h"

namespace chirolink::cli {

namespace {

using std::chrono::milliseconds;

std::optional<Clock::time_point> deadlineOf(const Options& options, Clock::time_point start) {
    if (!options.duration) {
        return std::nullopt;
    }
    return start + std::chrono::duration_cast<Clock::duration>(
                       std::chrono::duration<double>(*options.duration));
}

// Waits `step`, or less to meet the deadline; false when the command is to end.
bool carryOn(Console& console, Clock::duration step, std::optional<Clock::time_point> deadline) {
    auto until = Clock::now() + step;
    if (deadline && *deadline < until) {
        until = *deadline;
    }
    return !console.waitUntil(until) && !(deadline && Clock::now() >= *deadline);
}

}  // namespace

int info(const Options& options, Console& console) {
    const std::string& port = options.ports.front();
    GloveLink link;
    const auto result = link.start(port.c_str());
    std::printf("port:            %s", port.c_str());
    if (const auto path = platform::devicePath(port.c_str()); path != port) {
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

int show(const Options& options, Console& console) {
    auto gloves = glovesOn(options.ports);
    if (!startAll(gloves)) {
        return 1;
    }
    const bool terminal = Console::isTerminal(Stream::output) && Console::enableEscapes();
    const auto start = Clock::now();
    const auto deadline = deadlineOf(options, start);
    std::vector<RateMeter> rates(gloves.size());
    auto nextPlain = start + std::chrono::seconds(1);
    LiveScreen screen;
    std::optional<TerminalSize> drawnFor;
    if (terminal) {
        std::fputs("\x1b[?25l", stdout);  // no cursor blinking over the bars
    }
    do {
        const auto now = Clock::now();
        std::vector<GloveView> views;
        for (std::size_t i = 0; i < gloves.size(); ++i) {
            GloveView view{gloves[i].port, gloves[i].link->latest(), gloves[i].link->counters()};
            view.framesPerSecond = rates[i].update(now, view.counters.frames);
            view.secondsSinceFrame =
                std::chrono::duration<double>(now - view.latest.monotonic).count();
            views.push_back(std::move(view));
        }
        if (terminal) {
            // A terminal that does not tell its size is taken as the classic 80 by 24.
            const auto size = Console::size(Stream::output).value_or(TerminalSize{80, 24});
            const bool resized =
                console.resized() ||
                (drawnFor && (drawnFor->columns != size.columns || drawnFor->rows != size.rows));
            drawnFor = size;
            std::fputs(screen.draw(screenLines(views, size), resized).c_str(), stdout);
            std::fflush(stdout);
        } else if (now >= nextPlain) {
            nextPlain += std::chrono::seconds(1);
            for (const auto& view : views) {
                std::fputs(plainLine(view).c_str(), stdout);
            }
            std::fflush(stdout);
        }
    } while (carryOn(console, milliseconds(50), deadline));
    if (terminal) {
        std::fputs((screen.end() + "\x1b[?25h").c_str(), stdout);
        std::fflush(stdout);
    }
    return 0;
}

int record(const Options& options, Console& console) {
    CsvFile file;
    if (const auto error = file.open(options.output, options.force); !error.empty()) {
        complain(error);
        return 1;
    }
    auto gloves = glovesOn(options.ports);
    Recorder recorder(gloves, file);
    if (!startAll(gloves)) {
        file.discard();
        return 1;
    }
    std::string error = file.begin();
    ProgressLine progress("record");
    recorder.begin(progress.started());
    std::vector<std::string> news;
    auto write = [&](bool everything) {
        if (error.empty()) {
            error = recorder.write(everything, news);
        }
        for (const auto& line : news) {
            progress.note(line);
        }
        news.clear();
    };
    auto report = [&] {
        const auto sum = totals(gloves);
        progress.update(Clock::now(), recorder.written(), sum.badChecksums + sum.lostReplies,
                        recorder.missed());
    };
    const auto deadline = deadlineOf(options, Clock::now());
    auto nextReport = Clock::now() + progress.interval();
    while (error.empty() && carryOn(console, milliseconds(250), deadline)) {
        write(false);
        if (Clock::now() >= nextReport) {
            nextReport += progress.interval();
            report();
        }
    }
    for (auto& glove : gloves) {
        glove.link->stop();
    }
    write(true);
    report();
    progress.finish();
    for (const auto& line : recorder.summary()) {
        complain(line);
    }
    if (const auto closing = file.close(); error.empty()) {
        error = closing;
    }
    if (!error.empty()) {
        complain(error);
        return 1;
    }
    return 0;
}

int stream(const Options& options, Console& console) {
    const auto resolved = resolveUdp(options.oscHost, options.oscPort);
    if (!resolved.error.empty()) {
        complain("stream: --osc: " + resolved.error);
        return 2;
    }
    auto gloves = glovesOn(options.ports);
    std::vector<std::unique_ptr<OscSender>> senders;
    std::vector<std::unique_ptr<FrameCallback>> readers;
    for (std::size_t i = 0; i < gloves.size(); ++i) {
        senders.push_back(std::make_unique<OscSender>(resolved.target, static_cast<int>(i + 1),
                                                      options.oscFormat));
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
        progress.update(Clock::now(), sum(&OscSender::framesSent),
                        links.badChecksums + links.lostReplies + sum(&OscSender::failures));
    };
    FailureReport failures;
    auto reportFailures = [&] {
        if (const auto line = failures.since(senders); !line.empty()) {
            progress.note("stream: " + line);  // over the progress line, drawn again next
        }
    };
    const auto start = Clock::now();
    const auto deadline = deadlineOf(options, start);
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
