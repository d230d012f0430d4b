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

bool isPipe(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode));
}

}  // namespace

OutputFile::~OutputFile() {
    close();
}

bool OutputFile::openStandardOutput() {
    regular_ = false;  // written from where it stands, whatever it is
    // A pipe is written without blocking, so that a reader that stops reading cannot keep the
    // program from ending. Opened again, the pipe gets a description of this program's own
    // that the flag can be set on; failing that, the shared one gets it until the end.
    if (isPipe(STDOUT_FILENO)) {
        handle_ = ::open("/proc/self/fd/1", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (handle_ < 0) {
            handle_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
            const int flags = ::fcntl(STDOUT_FILENO, F_GETFL);
            if (handle_ >= 0 && flags >= 0 && (flags & O_NONBLOCK) == 0 &&
                ::fcntl(STDOUT_FILENO, F_SETFL, flags | O_NONBLOCK) == 0) {
                restoreFlags_ = flags;
            }
        }
    } else {
        handle_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    }
    error_ = static_cast<unsigned long>(errno);
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
    // Not blocking: a FIFO without a reader fails with ENXIO instead of waiting for one, and
    // a full one fails the write with EAGAIN.
    handle_ = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
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

bool OutputFile::noReader() const {
    return error_ == ENXIO;
}

bool OutputFile::regular() const {
    return regular_;
}

bool OutputFile::full() const {
    return error_ == EAGAIN || error_ == EWOULDBLOCK;
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
    if (restoreFlags_ >= 0) {
        ::fcntl(STDOUT_FILENO, F_SETFL, restoreFlags_);
        restoreFlags_ = -1;
    }
    return ok;
}

void OutputFile::remove(const std::string& path) {
    ::unlink(path.c_str());
}

std::string OutputFile::error() const {
    return std::strerror(static_cast<int>(error_));
}

}  // namespace chirolink::cli
