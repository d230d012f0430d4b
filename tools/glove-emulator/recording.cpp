#include "recording.h"

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

// Reads a recording record by record. A quoted field may hold commas, doubled quotes and line
// ends, so a record may take more than one line of the file.
class RecordReader {
public:
    explicit RecordReader(std::istream& in) : in_(in) {}

    // The next record: its text (without its line end) and its fields. False at the end.
    bool next(std::string& text, std::vector<std::string>& fields) {
        std::string physical;
        if (!std::getline(in_, physical)) {
            return false;
        }
        start_ = ++read_;
        text.clear();
        fields.assign(1, {});
        bool quoted = false;
        for (;;) {
            split(physical, quoted, fields);
            text += physical;
            if (!quoted) {
                break;
            }
            if (!std::getline(in_, physical)) {
                fail(start_, "unterminated quote");
            }
            ++read_;
            text += '\n';
            fields.back() += '\n';
        }
        if (!text.empty() && text.back() == '\r') {  // a file with CR LF line ends
            text.pop_back();
            fields.back().pop_back();
        }
        return true;
    }

    // The line the last record starts on.
    std::size_t line() const { return start_; }

private:
    // Adds the characters of one line to `fields`; `quoted` says whether a quoted field is open,
    // before and after.
    static void split(std::string_view row, bool& quoted, std::vector<std::string>& fields) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            const char c = row[i];
            if (quoted) {
                if (c != '"') {
                    fields.back() += c;
                } else if (i + 1 < row.size() && row[i + 1] == '"') {
                    fields.back() += '"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else if (c == '"' && fields.back().empty()) {
                quoted = true;
            } else if (c == ',') {
                fields.emplace_back();
            } else {
                fields.back() += c;
            }
        }
    }

    std::istream& in_;
    std::size_t read_ = 0;   // lines read
    std::size_t start_ = 0;  // the line the last record starts on
};

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
    RecordReader reader(in);
    std::string row;
    std::vector<std::string> fields;
    double first = 0;
    double previous = 0;
    std::vector<std::string> gloves;  // every glove in the file, in the order they first come
    while (reader.next(row, fields)) {
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
