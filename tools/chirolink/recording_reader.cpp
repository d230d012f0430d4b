#include "recording_reader.h"

#include "csv_records.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <string_view>

namespace chirolink::cli {

namespace {

bool number(const std::string& text, unsigned& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc{} && end == text.data() + text.size();
}

}  // namespace

RecordedFrames readRecording(const std::string& path, const std::string& glove) {
    RecordedFrames recorded;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        recorded.error = path + ": cannot be read";
        return recorded;
    }
    const char* names[] = {"glove",   "finger1", "finger2", "finger3",    "finger4",
                           "finger5", "roll",    "pitch",   "checksum_ok"};
    std::array<std::size_t, 9> column{};
    csv::RecordReader reader(in);
    std::string row;
    std::vector<std::string> fields;
    std::size_t line = 0;
    auto fail = [&](const std::string& what) {
        recorded.error = path + ": line " + std::to_string(line) + ": " + what;
        recorded.good.clear();
        return recorded;
    };
    for (;;) {
        try {
            if (!reader.next(row, fields)) {
                break;
            }
        } catch (const csv::UnterminatedQuote& open) {
            line = open.line;
            return fail("unterminated quote");
        }
        line = reader.line();
        if (line == 1) {
            for (std::size_t i = 0; i < column.size(); ++i) {
                const auto at = std::find(fields.begin(), fields.end(), names[i]);
                if (at == fields.end()) {
                    return fail(std::string("no column ") + names[i] +
                                "; not a recording of chirolink record");
                }
                column[i] = static_cast<std::size_t>(at - fields.begin());
            }
            continue;
        }
        if (row.empty()) {
            continue;
        }
        if (fields.size() <= *std::max_element(column.begin(), column.end())) {
            return fail("too few fields");
        }
        const auto& name = fields[column[0]];
        if (std::find(recorded.gloves.begin(), recorded.gloves.end(), name) ==
            recorded.gloves.end()) {
            recorded.gloves.push_back(name);
        }
        if (!glove.empty() && name != glove) {
            continue;
        }
        std::array<std::uint8_t, 7> values{};
        for (std::size_t i = 0; i < values.size(); ++i) {
            unsigned value = 0;
            if (!number(fields[column[i + 1]], value) || value > 255) {
                return fail(std::string(names[i + 1]) + " is '" + fields[column[i + 1]] +
                            "', not 0..255");
            }
            values[i] = static_cast<std::uint8_t>(value);
        }
        if (fields[column[8]] == "1") {
            recorded.good.push_back(values);
        } else {
            ++recorded.badChecksums;
        }
    }
    if (line == 0) {
        recorded.error = path + ": empty; not a recording of chirolink record";
        return recorded;
    }
    auto list = [&] {
        std::string text;
        for (const auto& name : recorded.gloves) {
            text += (text.empty() ? "" : ", ") + name;
        }
        return text;
    };
    if (glove.empty() && recorded.gloves.size() > 1) {
        recorded.error = path + ": holds the gloves " + list() + "; choose one with --glove";
        recorded.good.clear();
    } else if (!glove.empty() && std::find(recorded.gloves.begin(), recorded.gloves.end(), glove) ==
                                     recorded.gloves.end()) {
        recorded.error = path + ": no glove " + glove +
                         (recorded.gloves.empty() ? " (no frames)" : " (it holds " + list() + ")");
    } else if (recorded.good.empty()) {
        recorded.error = path + ": no frame with a good checksum";
    }
    return recorded;
}

}  // namespace chirolink::cli
