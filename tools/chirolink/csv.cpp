#include "csv.h"

#include "calibration_map.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>

namespace chirolink::cli {

namespace {

// What a pipe takes whole or not at all (PIPE_BUF on Linux).
constexpr std::size_t kPiece = 4096;

// How long a stream that takes nothing more is waited for once a stop is requested.
constexpr auto kGrace = std::chrono::seconds(1);

// How often a FIFO is tried for a reader.
constexpr auto kReaderPoll = std::chrono::milliseconds(100);

// The length of the whole rows from `from` on that fit in kPiece bytes; a longer first row
// whole. A line end in quotes (in a port's name) ends no row.
std::size_t piece(const std::string& rows, std::size_t from) {
    std::size_t length = 0;
    bool quoted = false;
    for (std::size_t i = from; i < rows.size(); ++i) {
        if (rows[i] == '"') {
            quoted = !quoted;
        } else if (rows[i] == '\n' && !quoted) {
            if (i + 1 - from > kPiece) {
                return length > 0 ? length : i + 1 - from;
            }
            length = i + 1 - from;
        }
    }
    return length > 0 ? length : rows.size() - from;
}

}  // namespace

std::string csvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + '"';
}

void appendRow(std::string& out, std::string_view glove, const StampedFrame& frame,
               const chirolink_calibration* calibration) {
    using namespace std::chrono;
    const auto mono = duration_cast<microseconds>(frame.monotonic.time_since_epoch()).count();
    const auto wall = time_point_cast<microseconds>(frame.wall);
    const auto day = floor<days>(wall);
    const year_month_day date{day};
    const hh_mm_ss time{wall - day};
    const auto& b = frame.bytes;
    char row[200];
    const int n = std::snprintf(
        row, sizeof row,
        ",%" PRIu64 ",%lld.%06lld,%04d-%02u-%02uT%02d:%02d:%02d.%06lldZ,%u,%u,%u,%u,%u,%u,%u,%u,%d",
        frame.sequence, static_cast<long long>(mono / 1000000),
        static_cast<long long>(mono % 1000000), static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
        static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
        static_cast<int>(time.seconds().count()), static_cast<long long>(time.subseconds().count()),
        b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], frame.checksumGood ? 1 : 0);
    out.append(glove);
    out.append(row, static_cast<std::size_t>(n));
    if (calibration != nullptr) {
        float values[7];
        calibration::apply(*calibration, b.data(), values);
        for (const float value : values) {
            const int m = std::snprintf(row, sizeof row, ",%.4f", static_cast<double>(value));
            out.append(row, static_cast<std::size_t>(m));
        }
    }
    out += '\n';
}

CsvFile::~CsvFile() = default;

std::string CsvFile::failure() const {
    return name_ + ": " + file_.error();
}

std::string CsvFile::open(const std::string& path, bool overwrite, Console& console) {
    console_ = &console;
    path_ = path;
    name_ = path == "-" ? "standard output" : path;
    if (path == "-") {
        return file_.openStandardOutput() ? std::string{} : failure();
    }
    switch (file_.create(path)) {
        case OutputFile::Created::created:
            created_ = true;
            return {};
        case OutputFile::Created::failed:
            return failure();
        case OutputFile::Created::exists:
            break;
    }
    while (!file_.openExisting(path)) {
        if (!file_.noReader()) {
            return failure();
        }
        if (console.waitUntil(Clock::now() + kReaderPoll)) {
            return path + ": no reader came before the stop";
        }
    }
    // A pipe or a device (/dev/stdout, a FIFO, CON) holds no rows that --force would protect.
    if (file_.regular() && !overwrite) {
        file_.close();
        return path + ": file exists (--force overwrites it)";
    }
    return {};
}

std::string CsvFile::begin(bool calibrated) {
    if (file_.regular() && !file_.truncate(0)) {
        return failure();
    }
    size_ = 0;
    std::string header(kCsvHeader);
    if (calibrated) {
        header.insert(header.size() - 1, kCalibratedColumns);
    }
    return write(header);
}

std::string CsvFile::write(const std::string& rows, std::size_t* taken) {
    std::size_t done = 0;
    constexpr auto kNever = Clock::time_point::max();
    auto giveUpAt = kNever;  // set once a stop is requested or the end has come
    std::string error;
    while (error.empty() && done < rows.size()) {
        const auto size = file_.regular() ? rows.size() - done : piece(rows, done);
        const auto n = file_.write(rows.data() + done, size, size_ + static_cast<long long>(done));
        if (n >= 0) {
            done += static_cast<std::size_t>(n);
            giveUpAt = kNever;  // it still reads
            continue;
        }
        if (!file_.full()) {
            error = failure();
            break;
        }
        const auto now = Clock::now();
        if (giveUpAt == kNever && (console_->stopRequested() || now >= end_)) {
            giveUpAt = now + kGrace;
        }
        if (now >= giveUpAt) {
            error = name_ + ": stalled: nobody takes the rows";
            break;
        }
        console_->waitForOutput(file_.handle(), giveUpAt == kNever ? end_ : giveUpAt);
    }
    if (!error.empty() && file_.regular()) {
        // Whatever part of the rows made it would end the file in half a row.
        file_.truncate(size_);
        done = 0;
    }
    size_ += static_cast<long long>(done);
    if (taken != nullptr) {
        *taken = done;
    }
    return error;
}

std::string CsvFile::close() {
    std::string error;
    if (!file_.flush()) {
        error = failure();
    }
    if (!file_.close() && error.empty()) {
        error = failure();
    }
    return error;
}

void CsvFile::discard() {
    file_.close();
    if (created_) {
        OutputFile::remove(path_);
    }
}

}  // namespace chirolink::cli
