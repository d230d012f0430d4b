// POSIX: a file replaced whole, through a temporary file in its folder and rename(2).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "platform.h"

namespace chirolink::platform {
namespace {

// Tells one temporary file from another when threads of one process write at once.
std::atomic<unsigned> temporaries{0};

FileWrite fromErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return FileWrite::missing;
        case EACCES:
        case EPERM:
        case EROFS:
            return FileWrite::denied;
        default:
            return FileWrite::failed;
    }
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

FileWrite replaceFile(const char* path, const char* data, std::size_t size) {
    const std::string target = path;
    const std::string temporary = target + ".tmp-" + std::to_string(getpid()) + "-" +
                                  std::to_string(temporaries.fetch_add(1));
    // A file that is replaced keeps its permissions; a new one gets the umask's.
    struct stat existing {};
    const bool replacing = stat(path, &existing) == 0;
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        return fromErrno(errno);
    }
    bool written = writeAll(fd, data, size);
    if (written && replacing) {
        fchmod(fd, existing.st_mode & 07777);
    }
    written = written && fsync(fd) == 0;
    written = close(fd) == 0 && written;
    if (!written || rename(temporary.c_str(), path) != 0) {
        const int error = written ? errno : 0;
        unlink(temporary.c_str());
        return written ? fromErrno(error) : FileWrite::failed;
    }
    // The rename itself on the disk, so that a crash after this call keeps the new file.
    const int folder = open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return FileWrite::done;
}

}  // namespace chirolink::platform
