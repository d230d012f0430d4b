#include "recording.h"

#include "csv_records.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>

namespace chirolink::tools {

namespace {

constexpr std::string_view kHeader =
    "glove,sequence,monotonic_s,wall_time,finger1,finger2,finger3,finger4,finger5,roll,pitch,"
    "checksum,checksum_ok";
constexpr std::size_t kFields = 13;
constexpr std::size_t kFirstValue = 4;  // finger1; the checksum byte follows pitch

[[noreturn]] void fail(std::size_t line, const std::string& what) {
    throw RecordingError("line " + std::to_string(line) + ": " + what);
}

unsigned long parseUnsigned(const std::string& text, unsigned long max, const char* name,
                            std::size_t line) {
    unsigned long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value > max) {
        fail(line, std::string(name) + ": expected a whole number up to " + std::to_string(max) +
                       ", got '" + text + "'");
    }
    return value;
}

double parseSeconds(const std::string& text, std::size_t line) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() ||
        !std::isfinite(value) || value < 0) {
        fail(line, "monotonic_s: expected seconds, got '" + text + "'");
    }
    return value;
}

}  // namespace

Recording readRecording(std::istream& in, const std::string& glove) {
    static constexpr const char* kValueNames[] = {"finger1", "finger2", "finger3", "finger4",
                                                  "finger5", "roll",    "pitch",   "checksum"};
    Recording recording{glove, {}};
    csv::RecordReader reader(in);
    std::string row;
    std::vector<std::string> fields;
    double first = 0;
    double previous = 0;
    std::vector<std::string> gloves;  // every glove in the file, in the order they first come
    const auto next = [&] {
        try {
            return reader.next(row, fields);
        } catch (const csv::UnterminatedQuote& open) {
            fail(open.line, "unterminated quote");
        }
    };
    while (next()) {
        const auto line = reader.line();
        if (line == 1) {
            if (row != kHeader) {
                fail(line, "not a chirolink recording: expected the header row '" +
                               std::string(kHeader) + "'");
            }
            continue;
        }
        if (row.empty()) {
            continue;
        }
        if (fields.size() != kFields) {
            fail(line, "expected " + std::to_string(kFields) + " fields, got " +
                           std::to_string(fields.size()));
        }
        if (recording.glove.empty()) {
            recording.glove = fields[0];
        }
        if (std::find(gloves.begin(), gloves.end(), fields[0]) == gloves.end()) {
            gloves.push_back(fields[0]);
        }
        if (fields[0] != recording.glove) {
            continue;
        }
        const double at = parseSeconds(fields[2], line);
        if (recording.frames.empty()) {
            first = at;
        } else if (at < previous) {
            fail(line, "monotonic_s goes backwards for glove '" + recording.glove + "'");
        }
        previous = at;
        RecordedFrame frame;
        frame.offset = std::chrono::nanoseconds(std::llround((at - first) * 1e9));
        for (std::size_t i = 0; i < frame.bytes.size(); ++i) {
            frame.bytes[i] = static_cast<std::uint8_t>(
                parseUnsigned(fields[kFirstValue + i], 255, kValueNames[i], line));
        }
        recording.frames.push_back(frame);
    }
    if (reader.line() == 0) {
        throw RecordingError("empty file: not a chirolink recording");
    }
    if (recording.frames.empty()) {
        if (glove.empty()) {
            throw RecordingError("the recording holds no frames");
        }
        std::string message = "no frames of glove '" + glove + "' in the recording";
        for (std::size_t i = 0; i < gloves.size(); ++i) {
            message += (i == 0 ? ", which holds '" : ", '") + gloves[i] + "'";
        }
        throw RecordingError(message);
    }
    return recording;
}

}  // namespace chirolink::tools
