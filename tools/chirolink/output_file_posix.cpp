#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "output_file.h"

namespace chirolink::cli {

namespace {

bool isRegular(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

OutputFile::~OutputFile() {
    close();
}

bool OutputFile::openStandardOutput() {
    handle_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    error_ = static_cast<unsigned long>(errno);
    regular_ = false;  // written from where it stands, whatever it is
    // A reader that goes away (record -o - | head) fails the write with EPIPE instead of
    // killing the program before it has stopped the gloves.
    std::signal(SIGPIPE, SIG_IGN);
    return handle_ >= 0;
}

OutputFile::Created OutputFile::create(const std::string& path) {
    handle_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    error_ = static_cast<unsigned long>(errno);
    if (handle_ < 0) {
        return errno == EEXIST ? Created::exists : Created::failed;
    }
    regular_ = true;
    return Created::created;
}

bool OutputFile::openExisting(const std::string& path) {
    handle_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    error_ = static_cast<unsigned long>(errno);
    if (handle_ < 0) {
        return false;
    }
    regular_ = isRegular(static_cast<int>(handle_));
    if (!regular_) {
        std::signal(SIGPIPE, SIG_IGN);  // a FIFO or /dev/stdout on a pipe, as above
    }
    return true;
}

bool OutputFile::regular() const {
    return regular_;
}

long long OutputFile::write(const char* data, std::size_t size, long long offset) {
    const int fd = static_cast<int>(handle_);
    ssize_t n = 0;
    do {
        n = regular_ ? ::pwrite(fd, data, size, static_cast<off_t>(offset))
                     : ::write(fd, data, size);
    } while (n < 0 && errno == EINTR);
    error_ = n < 0 ? static_cast<unsigned long>(errno) : n == 0 ? ENOSPC : 0;
    return n == 0 && size > 0 ? -1 : n;
}

bool OutputFile::truncate(long long size) {
    const bool ok = ::ftruncate(static_cast<int>(handle_), static_cast<off_t>(size)) == 0;
    error_ = static_cast<unsigned long>(errno);
    return ok;
}

bool OutputFile::flush() {
    // EINVAL: a file system that has nothing to flush.
    const bool ok = !regular_ || ::fdatasync(static_cast<int>(handle_)) == 0 || errno == EINVAL;
    error_ = static_cast<unsigned long>(errno);
    return ok;
}

bool OutputFile::close() {
    if (handle_ < 0) {
        return true;
    }
    const bool ok = ::close(static_cast<int>(handle_)) == 0;
    error_ = static_cast<unsigned long>(errno);
    handle_ = -1;
    return ok;
}

void OutputFile::remove(const std::string& path) {
    ::unlink(path.c_str());
}

std::string OutputFile::error() const {
    return std::strerror(static_cast<int>(error_));
}

}  // namespace chirolink::cli
