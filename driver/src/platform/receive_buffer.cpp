#include "receive_buffer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace chirolink::platform {

std::size_t ReceiveBuffer::take(std::uint8_t* data, std::size_t size) {
    const std::size_t count = std::min(size, end_ - begin_);
    std::memcpy(data, pending_ + begin_, count);
    begin_ += count;
    expected_ -= std::min(expected_, count);
    return count;
}

bool ReceiveBuffer::fill(int fd) {
    begin_ = 0;
    end_ = 0;
    for (;;) {
        const ssize_t n = read(fd, pending_, sizeof pending_);
        if (n > 0) {
            end_ = static_cast<std::size_t>(n);
            return true;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        // Nothing waiting is fine; EIO, ENXIO or end of file mean the device is gone.
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

}  // namespace chirolink::platform
