// Reading the CSV files that `chirolink record` writes, record by record: for the emulator's
// replay and for `chirolink calibrate --from`. Header-only; no state beyond the stream's.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace chirolink::csv {

/// Thrown by RecordReader::next at the end of the file inside a quoted field.
struct UnterminatedQuote {
    std::size_t line;  ///< where the record starts
};

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
                throw UnterminatedQuote{start_};
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

}  // namespace chirolink::csv
