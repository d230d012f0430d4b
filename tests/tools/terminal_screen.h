// A terminal's screen as the tests see it: the text a program drew, where the cursor is, and
// how often a line wrapped or the screen scrolled. It understands what `chirolink show` may
// send (printable ASCII, CR, LF, and the CSI sequences A B C D H J K m and ?25h/l) and counts
// anything else as unknown.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace chirolink::tools::test {

class TerminalScreen {
public:
    TerminalScreen(int columns, int rows) { resize(columns, rows); }

    // The terminal changes size: the text stays where it is, cut to the new size.
    void resize(int columns, int rows) {
        columns_ = columns;
        rows_ = rows;
        lines_.resize(static_cast<std::size_t>(rows));
        for (auto& line : lines_) {
            line.resize(static_cast<std::size_t>(columns), ' ');
        }
        row_ = std::min(row_, rows - 1);
        column_ = std::min(column_, columns - 1);
        pendingWrap_ = false;
    }

    void feed(std::string_view bytes) {
        for (const char c : bytes) {
            take(c);
        }
    }

    int wraps() const { return wraps_; }
    int scrolls() const { return scrolls_; }
    int unknown() const { return unknown_; }
    int columns() const { return columns_; }
    int rows() const { return rows_; }
    // Row `i` without its trailing blanks.
    std::string line(int i) const {
        std::string text = lines_[static_cast<std::size_t>(i)];
        text.erase(text.find_last_not_of(' ') + 1);
        return text;
    }
    std::string text() const {
        std::string all;
        for (int i = 0; i < rows_; ++i) {
            all += line(i) + "\n";
        }
        return all;
    }

private:
    void take(char c) {
        if (state_ == State::escape) {
            state_ = c == '[' ? State::csi : State::text;
            unknown_ += c == '[' ? 0 : 1;
            sequence_.clear();
            return;
        }
        if (state_ == State::csi) {
            if (c >= 0x40 && c <= 0x7e) {
                state_ = State::text;
                control(c);
            } else {
                sequence_ += c;
            }
            return;
        }
        if (c == '\x1b') {
            state_ = State::escape;
        } else if (c == '\r') {
            column_ = 0;
            pendingWrap_ = false;
        } else if (c == '\n') {
            lineFeed();
        } else if (c >= 0x20 && c < 0x7f) {
            if (pendingWrap_) {
                ++wraps_;
                column_ = 0;
                lineFeed();
            }
            lines_[static_cast<std::size_t>(row_)][static_cast<std::size_t>(column_)] = c;
            if (column_ + 1 < columns_) {
                ++column_;
            } else {
                pendingWrap_ = true;
            }
        } else {
            ++unknown_;
        }
    }

    void lineFeed() {
        pendingWrap_ = false;
        if (row_ + 1 < rows_) {
            ++row_;
            return;
        }
        ++scrolls_;
        lines_.erase(lines_.begin());
        lines_.emplace_back(static_cast<std::size_t>(columns_), ' ');
    }

    int number(int otherwise) const { return sequence_.empty() ? otherwise : std::stoi(sequence_); }

    void control(char final) {
        pendingWrap_ = false;
        auto& line = lines_[static_cast<std::size_t>(row_)];
        if (sequence_ == "?25" && (final == 'h' || final == 'l')) {
            return;
        }
        if (!sequence_.empty() && sequence_.find_first_not_of("0123456789;") != std::string::npos) {
            ++unknown_;
            return;
        }
        switch (final) {
            case 'A':
                row_ = std::max(0, row_ - number(1));
                break;
            case 'B':
                row_ = std::min(rows_ - 1, row_ + number(1));
                break;
            case 'C':
                column_ = std::min(columns_ - 1, column_ + number(1));
                break;
            case 'D':
                column_ = std::max(0, column_ - number(1));
                break;
            case 'H': {
                const auto semicolon = sequence_.find(';');
                const int r = sequence_.empty() || semicolon == 0 ? 1 : std::stoi(sequence_);
                const int c = semicolon == std::string::npos || semicolon + 1 == sequence_.size()
                                  ? 1
                                  : std::stoi(sequence_.substr(semicolon + 1));
                row_ = std::clamp(r - 1, 0, rows_ - 1);
                column_ = std::clamp(c - 1, 0, columns_ - 1);
                break;
            }
            case 'J':
                if (number(0) == 2) {
                    for (auto& l : lines_) {
                        std::fill(l.begin(), l.end(), ' ');
                    }
                } else {
                    std::fill(line.begin() + column_, line.end(), ' ');
                    for (int r = row_ + 1; r < rows_; ++r) {
                        auto& below = lines_[static_cast<std::size_t>(r)];
                        std::fill(below.begin(), below.end(), ' ');
                    }
                }
                break;
            case 'K':
                std::fill(line.begin() + column_, line.end(), ' ');
                break;
            case 'm':
                break;
            default:
                ++unknown_;
        }
    }

    enum class State { text, escape, csi };
    State state_ = State::text;
    std::string sequence_;
    int columns_ = 0;
    int rows_ = 0;
    std::vector<std::string> lines_;
    int row_ = 0;
    int column_ = 0;
    bool pendingWrap_ = false;
    int wraps_ = 0;
    int scrolls_ = 0;
    int unknown_ = 0;
};

}  // namespace chirolink::tools::test
