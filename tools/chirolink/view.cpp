#include "view.h"

#include "calibration_map.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace chirolink::cli {

namespace {

constexpr const char* kNames[] = {"finger 1", "finger 2", "finger 3", "finger 4",
                                  "finger 5", "roll",     "pitch"};
constexpr int kBarWidth = 48;
constexpr int kValueWidth = 15;  // "  finger 1 234 " before the bar

// Columns of UTF-8 text: one per character.
int columnsOf(const std::string& text) {
    return static_cast<int>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// The first `columns` characters of `text`.
std::string head(const std::string& text, int columns) {
    std::size_t end = 0;
    for (int n = 0; end < text.size(); ++end) {
        if ((static_cast<unsigned char>(text[end]) & 0xC0) != 0x80 && n++ == columns) {
            break;
        }
    }
    return text.substr(0, end);
}

// `name` in at most `columns`: its end, where device names differ ("...ttyUSB0").
std::string shortened(const std::string& name, int columns) {
    if (columnsOf(name) <= columns) {
        return name;
    }
    if (columns <= 3) {
        return head(name, columns);
    }
    std::vector<std::size_t> starts;  // of each character
    for (std::size_t i = 0; i < name.size(); ++i) {
        if ((static_cast<unsigned char>(name[i]) & 0xC0) != 0x80) {
            starts.push_back(i);
        }
    }
    return "..." + name.substr(starts[starts.size() - static_cast<std::size_t>(columns - 3)]);
}

// A port name as given may hold anything; control characters would move the cursor.
std::string printable(const std::string& name) {
    std::string out = name;
    std::replace_if(
        out.begin(), out.end(),
        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }, '?');
    return out;
}

std::string status(const GloveView& view, bool brief) {
    const auto& c = view.counters;
    char text[160];
    std::snprintf(text, sizeof text,
                  brief ? "%.1f/s  errors %llu  lost %llu  last "
                        : "%6.1f frames/s  checksum errors %llu  lost replies %llu  last frame ",
                  view.framesPerSecond, static_cast<unsigned long long>(c.badChecksums),
                  static_cast<unsigned long long>(c.lostReplies));
    std::string line = text;
    if (view.latest.sequence == 0) {
        return line + (brief ? "none" : "none yet");
    }
    std::snprintf(text, sizeof text, brief ? "%.0f ms" : "%.0f ms ago",
                  view.secondsSinceFrame * 1000);
    return line + text;
}

// The title line in at most `width` columns: the whole status when it fits, else the brief one
// with the name shortened as far as needed.
std::string title(const GloveView& view, int width) {
    const auto name = printable(view.port);
    for (const bool brief : {false, true}) {
        const auto line = name + "  " + status(view, brief);
        if (columnsOf(line) <= width) {
            return line;
        }
    }
    const auto brief = status(view, true);
    const int room = std::max(width - 2 - columnsOf(brief), std::min(width, 12));
    return head(shortened(name, room) + "  " + brief, width);
}

void appendPanel(std::vector<std::string>& lines, const GloveView& view, int width) {
    lines.push_back(title(view, width));
    const int bar = std::clamp(width - kValueWidth, 0, kBarWidth);
    float calibrated[protocol::kSensorCount] = {};
    if (view.calibration) {
        calibration::apply(*view.calibration, view.latest.bytes.data(), calibrated);
    }
    for (std::size_t i = 0; i < protocol::kSensorCount; ++i) {
        const unsigned value = view.latest.bytes[i];
        const int filled =
            view.calibration
                ? static_cast<int>(std::lround(calibrated[i] * static_cast<float>(bar)))
                : static_cast<int>((value * static_cast<unsigned>(bar) + 127) / 255);
        char text[40];
        std::snprintf(text, sizeof text, "  %-8s %3u ", kNames[i], value);
        std::string line = text;
        line.append(static_cast<std::size_t>(filled), '#');
        line.append(static_cast<std::size_t>(bar - filled), '.');
        lines.push_back(head(line, width));
    }
}

}  // namespace

std::vector<std::string> screenLines(const std::vector<GloveView>& views, TerminalSize size) {
    // The last column stays free: a line that fills it leaves the cursor waiting to wrap.
    const int width = std::max(size.columns - 1, 0);
    const int rows = std::max(size.rows, 1);
    const int count = static_cast<int>(views.size());
    int shown = std::min(count, rows / kPanelLines);
    if (shown < count) {
        shown = (rows - 1) / kPanelLines;  // one line says how many are hidden
    }
    std::vector<std::string> lines;
    for (int i = 0; i < std::max(shown, 1) && i < count; ++i) {
        appendPanel(lines, views[static_cast<std::size_t>(i)], width);
    }
    const int hidden = count - std::max(shown, 1);
    // Not even one panel fits: as much of the first one as there is room for.
    lines.resize(
        std::min<std::size_t>(lines.size(), static_cast<std::size_t>(rows - (hidden > 0 ? 1 : 0))));
    if (hidden > 0 && static_cast<int>(lines.size()) < rows) {
        lines.push_back(head(std::to_string(hidden) + (hidden == 1 ? " glove" : " gloves") +
                                 " hidden: the terminal is too small",
                             width));
    }
    return lines;
}

std::string LiveScreen::draw(const std::vector<std::string>& lines, bool fresh) {
    std::string out;
    if (fresh) {
        out = "\x1b[H\x1b[2J";
    } else if (drawn_ > 1) {
        out = "\r\x1b[" + std::to_string(drawn_ - 1) + "A";
    } else {
        out = "\r";
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        out += lines[i];
        out += i + 1 < lines.size() ? "\x1b[K\r\n" : "\x1b[K";
    }
    out += "\x1b[J";  // what is left below of a taller drawing
    drawn_ = lines.size();
    return out;
}

std::string LiveScreen::end() const {
    return drawn_ > 0 ? "\r\n" : "";
}

std::string plainLine(const GloveView& view) {
    std::string line = view.port + "  ";
    if (view.latest.sequence != 0) {
        const auto& b = view.latest.bytes;
        char values[96];
        std::snprintf(values, sizeof values, "%u %u %u %u %u %u %u  checksum %s  ", b[0], b[1],
                      b[2], b[3], b[4], b[5], b[6], view.latest.checksumGood ? "ok" : "bad");
        line += values;
    }
    return line + status(view, false);
}

std::string fitted(const std::string& line, int columns) {
    return head(line, std::max(columns, 0));
}

}  // namespace chirolink::cli
