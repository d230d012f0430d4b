// Parsing a calibration file's text: nlohmann-json's SAX parser walks it, this file keeps the
// few values the file is about with the line each stood on, then checks them, so that every
// refusal can name its line.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <iterator>
#include <vector>

#include "calibration_file.h"

namespace chirolink::calibration {
namespace {

using nlohmann::json;

// Where the parser has got to in the text, for the line of what it reported last.
struct Progress {
    const char* begin = nullptr;
    const char* read = nullptr;  // the first character the parser has not taken yet

    // The line (from 1) of the last character read that is not white space: the parser reads
    // one character past a number, which may be the line feed after it.
    int line() const {
        const char* end = read;
        while (end > begin &&
               (end[-1] == ' ' || end[-1] == '\t' || end[-1] == '\r' || end[-1] == '\n')) {
            --end;
        }
        return 1 + static_cast<int>(std::count(begin, end, '\n'));
    }
};

// The text as the parser takes it, character by character, telling `progress` as it goes.
class TrackedChars {
public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    TrackedChars() = default;
    TrackedChars(const char* at, Progress* progress) : at_(at), progress_(progress) {}
    reference operator*() const { return *at_; }
    TrackedChars& operator++() {
        progress_->read = ++at_;
        return *this;
    }
    TrackedChars operator++(int) {
        TrackedChars before = *this;
        ++*this;
        return before;
    }
    bool operator==(const TrackedChars& other) const { return at_ == other.at_; }
    bool operator!=(const TrackedChars& other) const { return at_ != other.at_; }

private:
    const char* at_ = nullptr;
    Progress* progress_ = nullptr;
};

// One value the file is about, as found.
struct Found {
    bool present = false;
    int line = 0;
    std::string text;                   // as JSON, for messages; "{...}" for an object
    std::optional<long long> integer;   // when it is an integer
    std::optional<std::string> string;  // when it is a string
};

struct Channel {
    bool present = false;
    bool object = false;
    int line = 0;
    std::string text;
    Found low, high;
};

// What the file holds of what matters, and where.
struct Findings {
    bool object = false;  // the text is one JSON object
    std::string rootText;
    int rootLine = 1;
    Found format, version, hand;
    Channel channels;  // the "channels" member itself
    std::array<Channel, 7> channel;
    std::string syntaxError;  // when the text is not JSON
};

// The SAX events, kept where they matter. Containers are pushed on `open_` with what they are.
class Collector {
public:
    Collector(Progress& progress, Findings& findings) : progress_(progress), found_(findings) {}

    bool null() { return scalar("null"); }
    bool boolean(bool value) { return scalar(value ? "true" : "false"); }
    bool number_integer(json::number_integer_t value) {
        return scalar(std::to_string(value), static_cast<long long>(value));
    }
    bool number_unsigned(json::number_unsigned_t value) {
        if (value > static_cast<json::number_unsigned_t>(1LL << 62)) {
            return scalar(std::to_string(value));  // far out of range either way
        }
        return scalar(std::to_string(value), static_cast<long long>(value));
    }
    bool number_float(json::number_float_t, const json::string_t& text) { return scalar(text); }
    bool string(json::string_t& value) {
        return scalar(json(value).dump(-1, ' ', false, json::error_handler_t::replace),
                      std::nullopt, value);
    }
    bool binary(json::binary_t&) { return scalar("?"); }
    bool start_object(std::size_t) { return open(Kind::object, "{...}"); }
    bool start_array(std::size_t) { return open(Kind::array, "[...]"); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }
    bool key(json::string_t& name) {
        open_.back().key = name;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) {
        // "[json.exception.parse_error.101] parse error at line 3, column 5: syntax error ..."
        std::string what = e.what();
        const auto colon = what.find(": ");
        what = colon == std::string::npos ? what : what.substr(colon + 2);
        found_.syntaxError = "line " + std::to_string(progress_.line()) + ": not JSON: " + what;
        return false;
    }

private:
    // What a container is to the file.
    enum class Kind { object, array, root, channels, channel, ignored };
    struct Open {
        Kind kind;
        int index = -1;   // the channel, for Kind::channel
        std::string key;  // in an object: the key of the value to come
    };

    // The place the value that starts now takes in the file, if any.
    Found* slot() {
        if (open_.empty()) {
            return nullptr;
        }
        const Open& in = open_.back();
        if (in.kind == Kind::root) {
            if (in.key == "format")
                return &found_.format;
            if (in.key == "version")
                return &found_.version;
            if (in.key == "hand")
                return &found_.hand;
        } else if (in.kind == Kind::channel) {
            auto& channel = found_.channel[static_cast<std::size_t>(in.index)];
            if (in.key == "low")
                return &channel.low;
            if (in.key == "high")
                return &channel.high;
        }
        return nullptr;
    }

    // A channel, or "channels" itself, when the value that starts now is one.
    std::pair<Channel*, int> channelSlot() {
        if (open_.empty()) {
            return {nullptr, -1};
        }
        const Open& in = open_.back();
        if (in.kind == Kind::root && in.key == "channels") {
            return {&found_.channels, -1};
        }
        if (in.kind == Kind::channels) {
            for (std::size_t i = 0; i < kChannelNames.size(); ++i) {
                if (in.key == kChannelNames[i]) {
                    return {&found_.channel[i], static_cast<int>(i)};
                }
            }
        }
        return {nullptr, -1};
    }

    bool scalar(std::string text, std::optional<long long> integer = std::nullopt,
                std::optional<std::string> string = std::nullopt) {
        if (open_.empty()) {
            found_.rootText = text;
            found_.rootLine = progress_.line();
        } else if (Found* found = slot()) {
            *found = Found{true, progress_.line(), std::move(text), integer, std::move(string)};
        } else if (auto [channel, index] = channelSlot(); channel != nullptr) {
            *channel = Channel{true, false, progress_.line(), std::move(text), {}, {}};
        }
        return true;
    }

    bool open(Kind kind, const char* text) {
        Kind as = Kind::ignored;
        int index = -1;
        if (open_.empty()) {
            found_.rootText = text;
            found_.rootLine = progress_.line();
            found_.object = kind == Kind::object;
            as = kind == Kind::object ? Kind::root : Kind::ignored;
        } else if (Found* found = slot()) {
            *found = Found{true, progress_.line(), text, std::nullopt, std::nullopt};
        } else if (auto [channel, at] = channelSlot(); channel != nullptr) {
            *channel = Channel{true, kind == Kind::object, progress_.line(), text, {}, {}};
            if (kind == Kind::object) {
                as = at < 0 ? Kind::channels : Kind::channel;
                index = at;
            }
        }
        open_.push_back(Open{as, index, {}});
        return true;
    }

    bool close() {
        open_.pop_back();
        return true;
    }

    Progress& progress_;
    Findings& found_;
    std::vector<Open> open_;
};

std::string at(int line) {
    return "line " + std::to_string(line) + ": ";
}

// The first thing wrong with what was found, or "".
std::string check(const Findings& f) {
    if (!f.syntaxError.empty()) {
        return f.syntaxError;
    }
    if (!f.object) {
        return at(f.rootLine) + "the file holds " + f.rootText + ", not a JSON object";
    }
    if (!f.format.present) {
        return at(f.rootLine) + "\"format\" is missing: not a calibration file";
    }
    if (f.format.string != "chirolink-calibration") {
        return at(f.format.line) + "\"format\" is " + f.format.text +
               ", not \"chirolink-calibration\"";
    }
    if (!f.version.present) {
        return at(f.rootLine) + "\"version\" is missing";
    }
    if (f.version.integer != 1) {
        return at(f.version.line) + "\"version\" is " + f.version.text + ", not 1";
    }
    if (f.hand.present && f.hand.string != "left" && f.hand.string != "right") {
        return at(f.hand.line) + "\"hand\" is " + f.hand.text + ", not \"left\" or \"right\"";
    }
    if (!f.channels.present) {
        return at(f.rootLine) + "\"channels\" is missing";
    }
    if (!f.channels.object) {
        return at(f.channels.line) + "\"channels\" is " + f.channels.text + ", not an object";
    }
    for (std::size_t i = 0; i < kChannelNames.size(); ++i) {
        const Channel& channel = f.channel[i];
        const std::string name = kChannelNames[i];
        if (!channel.present) {
            return at(f.channels.line) + "\"channels\": " + name + " is missing";
        }
        if (!channel.object) {
            return at(channel.line) + name + " is " + channel.text + ", not an object";
        }
        for (const auto& [key, found] : {std::pair{"low", &channel.low}, {"high", &channel.high}}) {
            if (!found->present) {
                return at(channel.line) + name + ": \"" + key + "\" is missing";
            }
            if (!found->integer || *found->integer < 0 || *found->integer > 255) {
                return at(found->line) + name + ": \"" + key + "\" is " + found->text +
                       ", not 0..255";
            }
        }
    }
    return {};
}

}  // namespace

Parsed parse(std::string_view text) {
    Progress progress{text.data(), text.data()};
    Findings findings;
    Collector collector(progress, findings);
    const TrackedChars begin(text.data(), &progress);
    const TrackedChars end(text.data() + text.size(), &progress);
    try {
        json::sax_parse(begin, end, &collector);
    } catch (const std::exception& e) {
        return {std::nullopt, at(progress.line()) + "not JSON: " + e.what()};
    }
    if (auto error = check(findings); !error.empty()) {
        return {std::nullopt, std::move(error)};
    }
    chirolink_calibration calibration{};
    for (std::size_t i = 0; i < kChannelNames.size(); ++i) {
        calibration.low[i] = static_cast<uint8_t>(*findings.channel[i].low.integer);
        calibration.high[i] = static_cast<uint8_t>(*findings.channel[i].high.integer);
    }
    calibration.hand = !findings.hand.present           ? CHIROLINK_HAND_UNKNOWN
                       : findings.hand.string == "left" ? CHIROLINK_HAND_LEFT
                                                        : CHIROLINK_HAND_RIGHT;
    return {calibration, {}};
}

}  // namespace chirolink::calibration
