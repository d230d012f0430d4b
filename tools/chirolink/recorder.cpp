#include "recorder.h"

#include <algorithm>

namespace chirolink::cli {

namespace {

// Each link publishes its frames in the order of their times, a moment after it stamped them.
// A glove that has sent nothing for this long is taken to have nothing earlier on its way, so
// that a quiet glove holds the others' rows back no longer than this.
constexpr auto kStraggler = std::chrono::milliseconds(500);

}  // namespace

Recorder::Recorder(std::vector<Glove>& gloves, CsvFile& file) : file_(file) {
    for (auto& glove : gloves) {
        // This thread empties the queues four times a second: no wake-up per frame, and 20 s
        // of frames per glove to spare when the disk is slow.
        sources_.push_back({csvField(glove.port), glove.link->subscribe(4096), {}, {}});
    }
}

std::uint64_t Recorder::missed() const {
    std::uint64_t sum = 0;
    for (const auto& source : sources_) {
        sum += source.queue->missed();
    }
    return sum;
}

std::string Recorder::write(bool everything) {
    const auto now = Clock::now();
    for (auto& source : sources_) {
        while (const auto frame = source.queue->next(std::chrono::milliseconds(0))) {
            source.newest = frame->monotonic;
            source.waiting.push_back(*frame);
        }
    }
    // Frames up to `until` are final: every glove's next frame comes later.
    auto until = Clock::time_point::max();
    if (!everything) {
        for (const auto& source : sources_) {
            until = std::min(until, std::max(source.newest, now - kStraggler));
        }
    }
    std::uint64_t count = 0;
    for (;;) {
        Source* first = nullptr;
        for (auto& source : sources_) {
            if (!source.waiting.empty() && source.waiting.front().monotonic <= until &&
                (first == nullptr ||
                 source.waiting.front().monotonic < first->waiting.front().monotonic)) {
                first = &source;
            }
        }
        if (first == nullptr) {
            break;
        }
        appendRow(rows_, first->name, first->waiting.front());
        first->waiting.pop_front();
        ++count;
    }
    if (error_.empty() && !rows_.empty()) {
        error_ = file_.write(rows_);
        if (error_.empty()) {
            written_ += count;
        }
    }
    rows_.clear();
    return error_;
}

}  // namespace chirolink::cli
