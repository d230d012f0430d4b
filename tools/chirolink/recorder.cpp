#include "recorder.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace chirolink::cli {

namespace {

// Each link publishes its frames in the order of their times, a moment after it stamped them.
// A glove that has sent nothing for this long is taken to have nothing earlier on its way, so
// that a quiet glove holds the others' rows back no longer than this.
constexpr auto kStraggler = std::chrono::milliseconds(500);

// A glove whose port is open but that has sent no frame for this long counts as gone (a link
// asks a quiet glove again at least every 409 ms).
constexpr auto kSilence = std::chrono::seconds(1);

}  // namespace

Recorder::Recorder(std::vector<Glove>& gloves, CsvFile& file) : file_(file) {
    for (auto& glove : gloves) {
        // This thread empties the queues four times a second: no wake-up per frame, and 20 s
        // of frames per glove to spare when the disk is slow.
        Source source;
        source.port = glove.port;
        source.name = csvField(glove.port);
        source.link = glove.link.get();
        source.calibration = glove.calibration;
        source.queue = glove.link->subscribe(4096);
        sources_.push_back(std::move(source));
    }
}

std::uint64_t Recorder::missed() const {
    std::uint64_t sum = 0;
    for (const auto& source : sources_) {
        sum += source.queue->missed();
    }
    return sum;
}

std::string Recorder::at(Clock::time_point when) const {
    return formatSeconds(std::chrono::duration<double>(when - start_).count()) + " s";
}

void Recorder::watch(Source& source, Clock::time_point now, std::vector<std::string>& news) const {
    const auto last = source.newest.sequence == 0 ? start_ : source.newest.monotonic;
    if (!source.gone && source.link->running() &&
        (source.link->state() == LinkState::reopening || now - last > kSilence)) {
        source.gone = true;
        news.push_back("record " + at(now) + ": " + source.port +
                       (source.newest.sequence == 0
                            ? std::string(" has sent no frame yet")
                            : " gone after frame " + std::to_string(source.newest.sequence)));
    }
}

std::string Recorder::write(bool everything, std::vector<std::string>& news) {
    const auto now = Clock::now();
    for (auto& source : sources_) {
        // Everything the link published before it lost the glove is in the queue by now, so the
        // state is looked at after the queue is emptied.
        while (const auto frame = source.queue->next(std::chrono::milliseconds(0))) {
            if (source.gone && source.newest.sequence == 0) {
                source.gone = false;
                news.push_back("record " + at(frame->monotonic) + ": " + source.port +
                               " sent its first frame");
            } else if (source.gone) {
                source.gone = false;
                news.push_back("record " + at(frame->monotonic) + ": " + source.port +
                               " back with frame " + std::to_string(frame->sequence) + ", " +
                               formatSeconds(std::chrono::duration<double>(frame->monotonic -
                                                                           source.newest.monotonic)
                                                 .count()) +
                               " s without frames");
            }
            source.newest = *frame;
            source.waiting.push_back(*frame);
        }
        watch(source, now, news);
    }
    // Frames up to `until` are final: every glove's next frame comes later.
    auto until = Clock::time_point::max();
    if (!everything) {
        for (const auto& source : sources_) {
            until = std::min(until, std::max(source.newest.monotonic, now - kStraggler));
        }
    }
    std::vector<std::uint64_t> counts(sources_.size());
    std::vector<std::pair<std::size_t, std::size_t>> ends;  // each row's end in rows_, its source
    for (;;) {
        std::size_t first = sources_.size();
        for (std::size_t i = 0; i < sources_.size(); ++i) {
            const auto& waiting = sources_[i].waiting;
            if (!waiting.empty() && waiting.front().monotonic <= until &&
                (first == sources_.size() ||
                 waiting.front().monotonic < sources_[first].waiting.front().monotonic)) {
                first = i;
            }
        }
        if (first == sources_.size()) {
            break;
        }
        auto& source = sources_[first];
        const auto& frame = source.waiting.front();
        appendRow(rows_, source.name, frame, source.calibration ? &*source.calibration : nullptr);
        ends.emplace_back(rows_.size(), first);
        if (source.rows + counts[first] > 0) {
            source.longestGap = std::max(source.longestGap, frame.monotonic - source.lastRow);
        }
        source.lastRow = frame.monotonic;
        ++counts[first];
        source.waiting.pop_front();
    }
    if (error_.empty() && !rows_.empty()) {
        std::size_t taken = 0;
        error_ = file_.write(rows_, &taken);
        // A stream that failed may have taken some of the rows.
        for (const auto& [end, i] : ends) {
            if (end <= taken) {
                ++sources_[i].rows;
                ++written_;
            }
        }
    }
    rows_.clear();
    return error_;
}

std::vector<std::string> Recorder::summary() const {
    std::vector<std::string> lines;
    for (const auto& source : sources_) {
        char gap[32];
        std::snprintf(gap, sizeof gap, "%.3f",
                      std::chrono::duration<double>(source.longestGap).count());
        lines.push_back(source.port + ": " + std::to_string(source.rows) + " frames, longest gap " +
                        gap + " s, " + std::to_string(source.queue->missed()) + " missed");
    }
    return lines;
}

}  // namespace chirolink::cli
