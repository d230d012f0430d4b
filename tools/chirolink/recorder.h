// The rows of `record`: every frame of every glove, written in the order of their times.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "csv.h"
#include "session.h"

namespace chirolink::cli {

class Recorder {
public:
    // Subscribes to every glove's link: construct before the links start to keep every frame.
    // Rows go to `file`, which must outlive the recorder.
    Recorder(std::vector<Glove>& gloves, CsvFile& file);

    // Takes the frames waiting for this thread and writes, in time order, those that no frame
    // still to come can precede; `everything` writes all of them (once the links have stopped).
    // Gives an error text, empty on success; after an error nothing more is written.
    std::string write(bool everything);

    // Rows written so far.
    std::uint64_t written() const { return written_; }
    // Frames dropped so far because this thread fell too far behind a glove.
    std::uint64_t missed() const;

private:
    struct Source {
        std::string name;  // the port, as a CSV field
        std::shared_ptr<FrameQueue> queue;
        std::deque<StampedFrame> waiting;  // taken from the queue, not yet written
        Clock::time_point newest{};        // the time of the newest frame taken
    };

    CsvFile& file_;
    std::vector<Source> sources_;
    std::string rows_;
    std::string error_;
    std::uint64_t written_ = 0;
};

}  // namespace chirolink::cli
