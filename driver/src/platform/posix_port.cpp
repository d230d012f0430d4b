// POSIX (Linux) serial ports: opening and closing, reads and writes with deadlines. A port is
// used by one thread at a time; reads and writes watch the link's wakeup.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "platform.h"
#include "posix_common.h"
#include "protocol.h"

namespace chirolink::platform {
namespace {

using namespace posix;

constexpr int kHighestComNumber = 256;

enum class Ready { ready, timedOut, failed, woken };

// Waits until `fd` is ready for `events`, the deadline passes, or the wakeup is signalled.
Ready waitFor(int fd, short events, const timespec& deadline, const Wakeup* wakeup) {
    for (;;) {
        timespec left{};
        if (!timeLeft(deadline, left)) {
            return Ready::timedOut;
        }
        pollfd fds[2] = {{fd, events, 0}, {-1, POLLIN, 0}};
        if (wakeup != nullptr) {
            fds[1].fd = descriptor(wakeup->waitable);
        }
        const int n = ppoll(fds, 2, &left, nullptr);
        if (n < 0 && errno != EINTR) {
            return Ready::failed;
        }
        if (n <= 0) {
            continue;
        }
        if (fds[1].revents != 0) {
            return Ready::woken;
        }
        if ((fds[0].revents & POLLNVAL) != 0) {
            return Ready::failed;
        }
        if ((fds[0].revents & events) != 0) {
            return Ready::ready;
        }
        if ((fds[0].revents & (POLLHUP | POLLERR)) != 0) {
            return Ready::failed;
        }
    }
}

// Lets the terminal report the port readable only once `count` bytes are waiting, so that a
// whole answer wakes the thread once instead of once a byte. A non-blocking read still
// returns what is there, and the deadline still ends every wait.
void wakeAt(SerialPort& port, std::size_t count) {
    const auto wanted = static_cast<cc_t>(std::clamp<std::size_t>(count, 1, 255));
    if (port.configured && port.line.c_cc[VMIN] != wanted) {
        port.line.c_cc[VMIN] = wanted;
        tcsetattr(port.fd, TCSANOW, &port.line);
    }
}

}  // namespace

std::string devicePath(const char* name) {
    if (strncasecmp(name, "COM", 3) == 0 && name[3] >= '1' && name[3] <= '9') {
        int number = 0;
        const char* digit = name + 3;
        while (*digit >= '0' && *digit <= '9' && number <= kHighestComNumber) {
            number = number * 10 + (*digit - '0');
            ++digit;
        }
        if (*digit == '\0' && number <= kHighestComNumber) {
            return "/dev/ttyS" + std::to_string(number - 1);
        }
    }
    return name;
}

Handle openPort(const char* name, OpenFailure* why) {
    OpenFailure ignored = OpenFailure::none;
    OpenFailure& failure = why != nullptr ? *why : ignored;
    failure = OpenFailure::missing;
    if (name == nullptr || *name == '\0') {
        return kNoHandle;
    }
    const std::string path = devicePath(name);
    // Only character devices are opened at all: a regular file, a directory or a FIFO is
    // never a serial port, and opening some of them has effects of its own.
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        switch (errno) {
            case ENOENT:
            case ENOTDIR:
            case ELOOP:  // links that lead round in a circle lead to no device
                failure = OpenFailure::missing;
                break;
            case ENAMETOOLONG:
                failure = OpenFailure::badName;
                break;
            case EACCES:  // a directory on the way that this user may not search
                failure = OpenFailure::denied;
                break;
            default:
                failure = OpenFailure::other;
                break;
        }
        return kNoHandle;
    }
    if (!S_ISCHR(info.st_mode)) {
        failure = OpenFailure::notATerminal;
        return kNoHandle;
    }
    int port = -1;
    do {
        port = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (port < 0 && errno == EINTR);
    if (port < 0) {
        // EBUSY: another opener set the exclusive flag.
        failure = errno == EBUSY                      ? OpenFailure::busy
                  : errno == EACCES || errno == EPERM ? OpenFailure::denied
                  // EIO: a serial node with no UART behind it (ttyS1 to ttyS3 on most PCs).
                  : errno == ENOENT || errno == ENXIO || errno == ENODEV || errno == EIO
                      ? OpenFailure::missing
                      : OpenFailure::other;
        return kNoHandle;
    }
    // A terminal, and ours alone: flock keeps out every other opener that asks (root
    // included), TIOCEXCL every later open(2) by an unprivileged process.
    if (!isatty(port)) {
        close(port);
        failure = OpenFailure::notATerminal;
        return kNoHandle;
    }
    if (flock(port, LOCK_EX | LOCK_NB) != 0 || ioctl(port, TIOCEXCL) != 0) {
        close(port);
        failure = OpenFailure::busy;
        return kNoHandle;
    }
    // A serial port drops what it received when its last user closes it; a pseudo-terminal
    // or a port held open elsewhere keeps it. Either way, what is queued now was meant for
    // somebody else.
    tcflush(port, TCIFLUSH);
    auto* opened = new (std::nothrow) SerialPort;
    if (opened == nullptr) {
        ioctl(port, TIOCNXCL);
        close(port);
        failure = OpenFailure::other;
        return kNoHandle;
    }
    opened->fd = port;
    failure = OpenFailure::none;
    return reinterpret_cast<Handle>(opened);
}

void closePort(Handle handle, const SavedSettings& saved) {
    SerialPort* port = &serial(handle);
    const Found what = found(saved);
    serial_struct driver{};
    if (what.haveSerial && (what.serialFlags & ASYNC_LOW_LATENCY) == 0 &&
        ioctl(port->fd, TIOCGSERIAL, &driver) == 0 && (driver.flags & ASYNC_LOW_LATENCY) != 0) {
        driver.flags &= ~ASYNC_LOW_LATENCY;
        ioctl(port->fd, TIOCSSERIAL, &driver);
    }
    // The exclusive flag belongs to the terminal, not to this descriptor: clear it so that
    // the next opener is not refused while somebody else still holds the device.
    ioctl(port->fd, TIOCNXCL);
    close(port->fd);
    delete port;
}

void closeInheritedCopy(Handle port) {
    if (port != kNoHandle) {
        close(serial(port).fd);
        delete &serial(port);
    }
}

TransferResult readPort(Handle handle, std::uint8_t* data, std::size_t size, const Wakeup* wakeup) {
    SerialPort& port = serial(handle);
    const timespec deadline = later(now(), protocol::transferLimitMs(size));
    std::size_t done = port.received.take(data, size);
    while (done < size) {
        // Nothing is pending here now: wait for the rest of the answer, or of this read. Every
        // wait also watches the wakeup, however fast the bytes come.
        wakeAt(port, std::max(size - done, port.received.expected()));
        switch (waitFor(port.fd, POLLIN, deadline, wakeup)) {
            case Ready::ready:
                break;
            case Ready::timedOut:
                // Fewer bytes came than the terminal was to wake for: take what is there.
                if (port.received.fill(port.fd)) {
                    done += port.received.take(data + done, size - done);
                }
                return {done == size ? Transfer::complete : Transfer::timedOut, done};
            case Ready::woken:
                return {Transfer::woken, done};
            case Ready::failed:
                return {Transfer::failed, done};
        }
        if (!port.received.fill(port.fd)) {
            return {Transfer::failed, done};
        }
        done += port.received.take(data + done, size - done);
    }
    return {Transfer::complete, done};
}

TransferResult writePort(Handle handle, const std::uint8_t* data, std::size_t size,
                         const Wakeup* wakeup) {
    const int fd = serial(handle).fd;
    const timespec deadline = later(now(), protocol::transferLimitMs(size));
    std::size_t done = 0;
    while (done < size) {
        // Written at once; only a full transmit queue makes it wait.
        const ssize_t n = write(fd, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            return {Transfer::failed, done};
        }
        switch (waitFor(fd, POLLOUT, deadline, wakeup)) {
            case Ready::ready:
                break;
            case Ready::timedOut:
                return {Transfer::timedOut, done};
            case Ready::woken:
                return {Transfer::woken, done};
            case Ready::failed:
                return {Transfer::failed, done};
        }
    }
    return {Transfer::complete, done};
}

void expectAnswer(Handle port, std::size_t bytes) {
    serial(port).received.expect(bytes);
}

}  // namespace chirolink::platform
