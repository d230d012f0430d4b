#include "csv.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace chirolink::cli {

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

void appendRow(std::string& out, std::string_view glove, const StampedFrame& frame) {
    using std::chrono::duration_cast;
    using std::chrono::microseconds;
    const auto mono = duration_cast<microseconds>(frame.monotonic.time_since_epoch()).count();
    const auto wall = duration_cast<microseconds>(frame.wall.time_since_epoch()).count();
    const std::time_t wallSeconds = static_cast<std::time_t>(wall / 1000000);
    std::tm utc{};
    ::gmtime_r(&wallSeconds, &utc);
    const auto& b = frame.bytes;
    char row[200];
    const int n = std::snprintf(
        row, sizeof row,
        ",%" PRIu64
        ",%lld.%06lld,%04d-%02d-%02dT%02d:%02d:%02d.%06lldZ,%u,%u,%u,%u,%u,%u,%u,%u,%d\n",
        frame.sequence, static_cast<long long>(mono / 1000000),
        static_cast<long long>(mono % 1000000), utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
        utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<long long>(wall % 1000000), b[0], b[1],
        b[2], b[3], b[4], b[5], b[6], b[7], frame.checksumGood ? 1 : 0);
    out.append(glove);
    out.append(row, static_cast<std::size_t>(n));
}

CsvFile::~CsvFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::string CsvFile::failure(int error) const {
    return name_ + ": " + std::strerror(error);
}

std::string CsvFile::open(const std::string& path, bool overwrite) {
    path_ = path;
    name_ = path == "-" ? "standard output" : path;
    if (path == "-") {
        fd_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    } else {
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        created_ = fd_ >= 0;
        struct stat st {};
        // A pipe or a device (/dev/stdout, a FIFO) holds no rows that --force would protect.
        if (fd_ < 0 && errno == EEXIST && ::stat(path.c_str(), &st) == 0 &&
            (overwrite || !S_ISREG(st.st_mode))) {
            fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        } else if (fd_ < 0 && errno == EEXIST) {
            return path + ": file exists (--force overwrites it)";
        }
    }
    if (fd_ < 0) {
        return failure(errno);
    }
    struct stat st {};
    stream_ = path == "-" || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode);
    if (stream_) {
        // A reader that goes away (record -o - | head) fails the write with EPIPE instead of
        // killing the program before it has stopped the gloves.
        std::signal(SIGPIPE, SIG_IGN);
    }
    return {};
}

std::string CsvFile::begin() {
    if (!stream_ && ::ftruncate(fd_, 0) != 0) {
        return failure(errno);
    }
    size_ = 0;
    return write(std::string(kCsvHeader));
}

std::string CsvFile::write(const std::string& rows) {
    std::size_t done = 0;
    while (done < rows.size()) {
        const auto left = rows.size() - done;
        const auto n = stream_ ? ::write(fd_, rows.data() + done, left)
                               : ::pwrite(fd_, rows.data() + done, left,
                                          static_cast<off_t>(size_ + static_cast<long long>(done)));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            if (!stream_) {
                // Whatever part of the rows made it would end the file in half a row.
                [[maybe_unused]] const int cut = ::ftruncate(fd_, static_cast<off_t>(size_));
            }
            return failure(error);
        }
        done += static_cast<std::size_t>(n);
    }
    size_ += static_cast<long long>(rows.size());
    return {};
}

std::string CsvFile::close() {
    std::string error;
    if (!stream_ && ::fdatasync(fd_) != 0 && errno != EINVAL) {
        error = failure(errno);
    }
    if (::close(fd_) != 0 && error.empty()) {
        error = failure(errno);
    }
    fd_ = -1;
    return error;
}

void CsvFile::discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (created_) {
        ::unlink(path_.c_str());
    }
}

}  // namespace chirolink::cli
