// What every command shares: the links to the gloves, messages and the progress line.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "chirolink_calibration.h"
#include "console.h"
#include "glove_link.h"

namespace chirolink::cli {

// "chirolink: " and one line on standard error.
void complain(const std::string& line);

// When a command with --duration ends, counted from `start`; nullopt without --duration.
std::optional<Clock::time_point> deadlineOf(const std::optional<double>& duration,
                                            Clock::time_point start);
// Waits `step`, or less to meet the deadline; false when the command is to end.
bool carryOn(Console& console, Clock::duration step, std::optional<Clock::time_point> deadline);

struct Glove {
    std::string port;  // as the user gave it
    std::unique_ptr<GloveLink> link = std::make_unique<GloveLink>();
    std::optional<chirolink_calibration> calibration;  // --calibration
};

std::vector<Glove> glovesOn(const std::vector<std::string>& ports);

// Starts each glove's link in order. On the first failure complains ("PORT: no such device"),
// stops the ones started and gives false.
bool startAll(std::vector<Glove>& gloves);

// The sum of the counters of all gloves.
LinkCounters totals(const std::vector<Glove>& gloves);

// Frames per second over about the last second.
class RateMeter {
public:
    double update(Clock::time_point now, std::uint64_t frames);

private:
    std::deque<std::pair<Clock::time_point, std::uint64_t>> samples_;
};

// The line a long-running command keeps on standard error: redrawn in place four times a second
// on a terminal, else printed as a plain line once a second.
class ProgressLine {
public:
    explicit ProgressLine(std::string command);
    // How long to wait before the next update.
    Clock::duration interval() const;
    // A count shown after the errors, as ", 12 missed".
    struct Apart {
        std::uint64_t count;
        const char* what;
    };
    // `frames`: frames taken from the gloves; `errors`: checksum errors and lost replies.
    void update(Clock::time_point now, std::uint64_t frames, std::uint64_t errors,
                std::initializer_list<Apart> apart = {});
    // Prints `line` after "chirolink: " on a line of its own; on a terminal the progress line
    // makes way for it and comes back with the next update.
    void note(const std::string& line);
    // Ends the line on a terminal.
    void finish();
    Clock::time_point started() const { return started_; }

private:
    const std::string command_;
    const Clock::time_point started_ = Clock::now();
    const bool terminal_;
    bool drawn_ = false;
};

std::string formatSeconds(double seconds, int decimals = 1);

}  // namespace chirolink::cli
