#include <cstdio>
#include <optional>

#include "calibration_use.h"
#include "commands.h"
#include "view.h"

namespace chirolink::cli {

using std::chrono::milliseconds;

int show(const Options& options, Console& console) {
    auto gloves = glovesOn(options.ports);
    if (!loadCalibrations(options, gloves) || !startAll(gloves)) {
        return 1;
    }
    // A console that takes no escape sequences gets the plain lines, cut to its width.
    const bool onConsole = Console::isTerminal(Stream::output);
    const bool terminal = onConsole && console.enableEscapes();
    const auto start = Clock::now();
    const auto deadline = deadlineOf(options.duration, start);
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
            GloveView view;
            view.port = gloves[i].port;
            view.latest = gloves[i].link->latest();
            view.counters = gloves[i].link->counters();
            view.calibration = gloves[i].calibration;
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
            const auto size = onConsole ? Console::size(Stream::output) : std::nullopt;
            for (const auto& view : views) {
                const auto line = plainLine(view);
                std::fputs(((size ? fitted(line, size->columns - 1) : line) + "\n").c_str(),
                           stdout);
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

}  // namespace chirolink::cli
