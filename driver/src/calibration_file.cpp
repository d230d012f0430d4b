// The calibration file on disk: reading it (at most 64 KiB) and writing it whole, through the
// platform's replaceFile, in the layout people read.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "calibration_file.h"
#include "platform/platform.h"

namespace chirolink::calibration {
namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

Outcome failed(int32_t result, std::string error) {
    return {result, std::move(error)};
}

Outcome fromErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return failed(CHIROLINK_ERR_MISSING, "no such file");
        case EACCES:
        case EPERM:
            return failed(CHIROLINK_ERR_DENIED, "permission denied");
        default:
            return failed(CHIROLINK_ERR_SYSTEM, std::strerror(error));
    }
}

}  // namespace

Outcome load(const char* path, chirolink_calibration& calibration) {
    errno = 0;
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file) {
        return fromErrno(errno);
    }
    // One byte past the limit tells a file that is too large.
    std::string text(kLargestFile + 1, '\0');
    std::size_t size = 0;
    while (size < text.size()) {
        const std::size_t n = std::fread(text.data() + size, 1, text.size() - size, file.get());
        if (n == 0) {
            break;
        }
        size += n;
    }
    if (std::ferror(file.get())) {
        return errno == EISDIR ? failed(CHIROLINK_ERR_FORMAT, "a folder, not a file")
                               : fromErrno(errno);
    }
    if (size > kLargestFile) {
        const auto line = 1 + std::count(text.begin(), text.begin() + kLargestFile, '\n');
        return failed(CHIROLINK_ERR_FORMAT,
                      "line " + std::to_string(line) + ": the file is over 64 KiB");
    }
    text.resize(size);
    Parsed parsed = parse(text);
    if (!parsed.calibration) {
        return failed(CHIROLINK_ERR_FORMAT, std::move(parsed.error));
    }
    calibration = *parsed.calibration;
    return {};
}

std::string format(const chirolink_calibration& calibration) {
    std::string text =
        "{\n"
        "  \"format\": \"chirolink-calibration\",\n"
        "  \"version\": 1,\n";
    if (calibration.hand == CHIROLINK_HAND_LEFT || calibration.hand == CHIROLINK_HAND_RIGHT) {
        text += calibration.hand == CHIROLINK_HAND_LEFT ? "  \"hand\": \"left\",\n"
                                                        : "  \"hand\": \"right\",\n";
    }
    text += "  \"channels\": {\n";
    for (std::size_t i = 0; i < kChannelNames.size(); ++i) {
        char line[80];
        const std::string name = std::string("\"") + kChannelNames[i] + "\":";
        std::snprintf(line, sizeof line, "    %-10s {\"low\": %u, \"high\": %u}%s\n", name.c_str(),
                      calibration.low[i], calibration.high[i],
                      i + 1 < kChannelNames.size() ? "," : "");
        text += line;
    }
    return text + "  }\n}\n";
}

Outcome save(const char* path, const chirolink_calibration& calibration) {
    const std::string text = format(calibration);
    switch (platform::replaceFile(path, text.data(), text.size())) {
        case platform::FileWrite::done:
            return {};
        case platform::FileWrite::missing:
            return failed(CHIROLINK_ERR_MISSING, "no such folder");
        case platform::FileWrite::denied:
            return failed(CHIROLINK_ERR_DENIED, "permission denied");
        case platform::FileWrite::failed:
            break;
    }
    return failed(CHIROLINK_ERR_SYSTEM, "the file could not be written");
}

}  // namespace chirolink::calibration
