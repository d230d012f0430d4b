#include "session.h"

#include <algorithm>
#include <cstdio>

namespace chirolink::cli {

void complain(const std::string& line) {
    std::fprintf(stderr, "chirolink: %s\n", line.c_str());
}

std::optional<Clock::time_point> deadlineOf(const std::optional<double>& duration,
                                            Clock::time_point start) {
    if (!duration) {
        return std::nullopt;
    }
    return start +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(*duration));
}

bool carryOn(Console& console, Clock::duration step, std::optional<Clock::time_point> deadline) {
    auto until = Clock::now() + step;
    if (deadline && *deadline < until) {
        until = *deadline;
    }
    return !console.waitUntil(until) && !(deadline && Clock::now() >= *deadline);
}

std::vector<Glove> glovesOn(const std::vector<std::string>& ports) {
    std::vector<Glove> gloves(ports.size());
    for (std::size_t i = 0; i < ports.size(); ++i) {
        gloves[i].port = ports[i];
    }
    return gloves;
}

bool startAll(std::vector<Glove>& gloves) {
    for (auto& glove : gloves) {
        const auto result = glove.link->start(glove.port.c_str());
        if (result != StartResult::started) {
            complain(glove.port + ": " + describe(result));
            for (auto& other : gloves) {
                other.link->stop();
            }
            return false;
        }
    }
    return true;
}

LinkCounters totals(const std::vector<Glove>& gloves) {
    LinkCounters sum;
    for (const auto& glove : gloves) {
        const auto c = glove.link->counters();
        sum.frames += c.frames;
        sum.badChecksums += c.badChecksums;
        sum.lostReplies += c.lostReplies;
        sum.reopens += c.reopens;
    }
    return sum;
}

double RateMeter::update(Clock::time_point now, std::uint64_t frames) {
    samples_.emplace_back(now, frames);
    while (samples_.size() > 2 && now - samples_[1].first >= std::chrono::seconds(1)) {
        samples_.pop_front();
    }
    const double span = std::chrono::duration<double>(now - samples_.front().first).count();
    return span < 0.2 ? 0.0 : static_cast<double>(frames - samples_.front().second) / span;
}

std::string formatSeconds(double seconds, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, seconds);
    return text;
}

ProgressLine::ProgressLine(std::string command)
    : command_(std::move(command)), terminal_(Console::isTerminal(Stream::error)) {}

Clock::duration ProgressLine::interval() const {
    return terminal_ ? std::chrono::milliseconds(250) : std::chrono::seconds(1);
}

void ProgressLine::update(Clock::time_point now, std::uint64_t frames, std::uint64_t errors,
                          std::initializer_list<Apart> apart) {
    const double elapsed = std::chrono::duration<double>(now - started_).count();
    const double rate = elapsed > 0 ? static_cast<double>(frames) / elapsed : 0.0;
    std::string line = "chirolink: " + command_ + " " + formatSeconds(elapsed) + " s, " +
                       std::to_string(frames) + " frames, " + formatSeconds(rate) + "/s, " +
                       std::to_string(errors) + " errors";
    for (const auto& [count, what] : apart) {
        line += ", " + std::to_string(count) + " " + what;
    }
    if (const auto size = Console::size(Stream::error); terminal_ && size) {
        // Wider than the terminal, it would wrap and the carriage return would not reach back.
        line.resize(
            std::min(line.size(), static_cast<std::size_t>(std::max(size->columns - 1, 0))));
    }
    std::fprintf(stderr, "%s%s%s", terminal_ ? "\r" : "", line.c_str(),
                 terminal_ ? "\x1b[K" : "\n");
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressLine::note(const std::string& line) {
    std::fprintf(stderr, "%schirolink: %s\n", terminal_ && drawn_ ? "\r\x1b[K" : "", line.c_str());
    std::fflush(stderr);
    drawn_ = false;
}

void ProgressLine::finish() {
    if (terminal_ && drawn_) {
        std::fputc('\n', stderr);
    }
    drawn_ = false;
}

}  // namespace chirolink::cli
