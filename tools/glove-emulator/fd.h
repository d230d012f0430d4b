// Small helpers for the file descriptors of the emulator's pseudo-terminal and wake-up pipe.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace chirolink::tools {

[[noreturn]] inline void throwErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

inline void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

}  // namespace chirolink::tools
