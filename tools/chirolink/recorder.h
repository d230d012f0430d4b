// The rows of `record`: every frame of every glove, written in the order of their times, and
// what the recording saw of each glove (gone and back, gaps, frames missed).
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "csv.h"
#include "session.h"

namespace chirolink::cli {

class Recorder {
public:
    // Subscribes to every glove's link: construct before the links start to keep every frame.
    // Rows go to `file`; the gloves and the file must outlive the recorder.
    Recorder(std::vector<Glove>& gloves, CsvFile& file);

    // The moment the recording counts its times from ("gone at 2.1 s").
    void begin(Clock::time_point start) { start_ = start; }

    // Takes the frames waiting for this thread and writes, in time order, those that no frame
    // still to come can precede; `everything` writes all of them (once the links have stopped).
    // Gives an error text, empty on success; after an error nothing more is written. Adds a
    // line to `news` for each glove that has gone away or come back since the last call.
    std::string write(bool everything, std::vector<std::string>& news);

    // Rows written so far.
    std::uint64_t written() const { return written_; }
    // Frames dropped so far because this thread fell too far behind a glove.
    std::uint64_t missed() const;
    // One line per glove: "PORT: N frames, longest gap S s, M missed".
    std::vector<std::string> summary() const;

private:
    struct Source {
        std::string port;  // as the user gave it
        std::string name;  // the port as a CSV field
        GloveLink* link = nullptr;
        std::optional<chirolink_calibration> calibration;
        std::shared_ptr<FrameQueue> queue;
        std::deque<StampedFrame> waiting;  // taken from the queue, not yet written
        StampedFrame newest{};             // the newest frame taken
        bool gone = false;
        std::uint64_t rows = 0;
        Clock::time_point lastRow{};
        Clock::duration longestGap{};
    };

    void watch(Source& source, Clock::time_point now, std::vector<std::string>& news) const;
    std::string at(Clock::time_point when) const;

    CsvFile& file_;
    std::vector<Source> sources_;
    Clock::time_point start_ = Clock::now();
    std::string rows_;
    std::string error_;
    std::uint64_t written_ = 0;
};

}  // namespace chirolink::cli
