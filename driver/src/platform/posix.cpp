// POSIX (Linux) serial ports, threads, sleeping and the debug line.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform.h"
#include "protocol.h"

namespace chirolink::platform {
namespace {

constexpr long kNanosecondsPerMillisecond = 1000000;
constexpr long kNanosecondsPerSecond = 1000000000;
constexpr int kHighestComNumber = 256;

timespec now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t;
}

timespec later(timespec t, long milliseconds) {
    t.tv_sec += milliseconds / 1000;
    t.tv_nsec += (milliseconds % 1000) * kNanosecondsPerMillisecond;
    if (t.tv_nsec >= kNanosecondsPerSecond) {
        t.tv_sec += 1;
        t.tv_nsec -= kNanosecondsPerSecond;
    }
    return t;
}

// Time left until `deadline`; false once it has passed.
bool timeLeft(const timespec& deadline, timespec& left) {
    const timespec t = now();
    left.tv_sec = deadline.tv_sec - t.tv_sec;
    left.tv_nsec = deadline.tv_nsec - t.tv_nsec;
    if (left.tv_nsec < 0) {
        left.tv_sec -= 1;
        left.tv_nsec += kNanosecondsPerSecond;
    }
    return left.tv_sec > 0 || (left.tv_sec == 0 && left.tv_nsec > 0);
}

int fd(Handle handle) {
    return static_cast<int>(handle);
}

// Moves bytes in one direction until all went through, the deadline passes, the port fails
// or the wakeup is signalled. The port is non-blocking: poll says when to try.
template <typename Move>
TransferResult transfer(Handle port, std::size_t size, short ready, const Wakeup* wakeup,
                        Move move) {
    const timespec deadline = later(now(), protocol::transferLimitMs(size));
    std::size_t done = 0;
    while (done < size) {
        timespec left{};
        if (!timeLeft(deadline, left)) {
            return {Transfer::timedOut, done};
        }
        pollfd fds[2] = {{fd(port), ready, 0}, {-1, POLLIN, 0}};
        if (wakeup != nullptr) {
            fds[1].fd = fd(wakeup->waitable);
        }
        const int n = ppoll(fds, 2, &left, nullptr);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return {Transfer::failed, done};
        }
        if (n == 0) {
            continue;
        }
        if (fds[1].revents != 0) {
            return {Transfer::woken, done};
        }
        const short events = fds[0].revents;
        if ((events & POLLNVAL) != 0) {
            return {Transfer::failed, done};
        }
        if ((events & ready) != 0) {
            const ssize_t moved = move(done);
            if (moved > 0) {
                done += static_cast<std::size_t>(moved);
                continue;
            }
            if (moved < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
                continue;
            }
            // EIO, ENXIO, or nothing at all although poll said ready: the device is gone.
            return {Transfer::failed, done};
        }
        if ((events & (POLLHUP | POLLERR)) != 0) {
            return {Transfer::failed, done};
        }
    }
    return {Transfer::complete, done};
}

void* runThread(void* thread) {
    static_cast<Thread*>(thread)->body();
    return nullptr;
}

std::atomic<void (*)(const char*)> debugSink{nullptr};

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

Handle openPort(const char* name) {
    if (name == nullptr || *name == '\0') {
        return kNoHandle;
    }
    const std::string path = devicePath(name);
    // Only character devices are opened at all: a regular file, a directory or a FIFO is
    // never a serial port, and opening some of them has effects of its own.
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) {
        return kNoHandle;
    }
    int port = -1;
    do {
        port = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (port < 0 && errno == EINTR);
    if (port < 0) {
        return kNoHandle;
    }
    // A terminal, and ours alone: flock keeps out every other opener that asks (root
    // included), TIOCEXCL every later open(2) by an unprivileged process.
    if (!isatty(port) || flock(port, LOCK_EX | LOCK_NB) != 0 || ioctl(port, TIOCEXCL) != 0) {
        close(port);
        return kNoHandle;
    }
    // A serial port drops what it received when its last user closes it; a pseudo-terminal
    // or a port held open elsewhere keeps it. Either way, what is queued now was meant for
    // somebody else.
    tcflush(port, TCIFLUSH);
    return port;
}

namespace {

// What configurePort found, kept in SavedSettings.
struct Found {
    termios line;
    int serialFlags;
    bool haveLine;
    bool haveSerial;
};
static_assert(sizeof(Found) <= sizeof(SavedSettings::data));

Found found(const SavedSettings& saved) {
    Found what;
    std::memcpy(&what, saved.data, sizeof what);
    return what;
}

}  // namespace

SavedSettings configurePort(Handle port) {
    Found what{};
    termios settings{};
    if (tcgetattr(fd(port), &settings) == 0) {
        what.line = settings;
        what.haveLine = true;
        // Binary: every byte passes unchanged, no signals, no echo, no flow control.
        settings.c_iflag &= ~static_cast<tcflag_t>(BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                                   ICRNL | IUCLC | INPCK | IXON | IXOFF | IXANY);
        settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        settings.c_lflag &=
            ~static_cast<tcflag_t>(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
        settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
        settings.c_cflag |= CS8 | CLOCAL | CREAD;
        // Reads return what is there: the deadlines are kept by poll.
        settings.c_cc[VMIN] = 0;
        settings.c_cc[VTIME] = 0;
        cfsetispeed(&settings, B19200);
        cfsetospeed(&settings, B19200);
        tcsetattr(fd(port), TCSANOW, &settings);
    }
    // Pseudo-terminals have no modem lines and refuse this; that is fine.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd(port), TIOCMBIS, &lines);
    // USB serial adapters hold received bytes until a latency timer runs out (16 ms on FTDI
    // chips), far longer than a whole exchange takes on the line; with the low-latency flag
    // the FTDI driver uses 1 ms. Drivers without the setting refuse it, which is fine.
    serial_struct serial{};
    if (ioctl(fd(port), TIOCGSERIAL, &serial) == 0) {
        what.serialFlags = serial.flags;
        what.haveSerial = true;
        if ((serial.flags & ASYNC_LOW_LATENCY) == 0) {
            serial.flags |= ASYNC_LOW_LATENCY;
            ioctl(fd(port), TIOCSSERIAL, &serial);
        }
    }
    SavedSettings saved;
    std::memcpy(saved.data, &what, sizeof what);
    return saved;
}

void restoreSettings(Handle port, const SavedSettings& saved) {
    const Found what = found(saved);
    if (what.haveLine) {
        tcsetattr(fd(port), TCSANOW, &what.line);
    }
}

void closePort(Handle port, const SavedSettings& saved) {
    const Found what = found(saved);
    serial_struct serial{};
    if (what.haveSerial && (what.serialFlags & ASYNC_LOW_LATENCY) == 0 &&
        ioctl(fd(port), TIOCGSERIAL, &serial) == 0 && (serial.flags & ASYNC_LOW_LATENCY) != 0) {
        serial.flags &= ~ASYNC_LOW_LATENCY;
        ioctl(fd(port), TIOCSSERIAL, &serial);
    }
    // The exclusive flag belongs to the terminal, not to this descriptor: clear it so that
    // the next opener is not refused while somebody else still holds the device.
    ioctl(fd(port), TIOCNXCL);
    close(fd(port));
}

void closeInheritedCopy(Handle handle) {
    if (handle != kNoHandle) {
        close(fd(handle));
    }
}

TransferResult readPort(Handle port, std::uint8_t* data, std::size_t size, const Wakeup* wakeup) {
    return transfer(port, size, POLLIN, wakeup,
                    [&](std::size_t done) { return read(fd(port), data + done, size - done); });
}

TransferResult writePort(Handle port, const std::uint8_t* data, std::size_t size,
                         const Wakeup* wakeup) {
    return transfer(port, size, POLLOUT, wakeup,
                    [&](std::size_t done) { return write(fd(port), data + done, size - done); });
}

void expectAnswer(Handle, std::size_t) {}

bool createWakeup(Wakeup& wakeup) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    wakeup.waitable = ends[0];
    wakeup.signaller = ends[1];
    return true;
}

void signalWakeup(const Wakeup& wakeup) {
    if (wakeup.signaller != kNoHandle) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t ignored = write(fd(wakeup.signaller), &byte, 1);
    }
}

void destroyWakeup(Wakeup& wakeup) {
    for (Handle* end : {&wakeup.waitable, &wakeup.signaller}) {
        if (*end != kNoHandle) {
            close(fd(*end));
            *end = kNoHandle;
        }
    }
}

bool waitForWakeup(const Wakeup& wakeup, int milliseconds) {
    const timespec deadline = later(now(), milliseconds);
    timespec left{};
    while (timeLeft(deadline, left)) {
        pollfd wake = {fd(wakeup.waitable), POLLIN, 0};
        const int n = ppoll(&wake, 1, &left, nullptr);
        if (n > 0) {
            return true;
        }
        if (n < 0 && errno != EINTR) {
            return false;
        }
    }
    return false;
}

void sleepMilliseconds(int milliseconds) {
    const timespec deadline = later(now(), milliseconds);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

bool startThread(Thread& thread, void (*body)()) {
    static_assert(sizeof(pthread_t) <= sizeof(thread.id));
    thread.body = body;
    // The new thread inherits this mask: every asynchronous signal stays with the host.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    pthread_t id{};
    const int failed = pthread_create(&id, nullptr, runThread, &thread);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (failed != 0) {
        return false;
    }
    pthread_setname_np(id, "chirolink");  // for top, gdb and /proc
    thread.id = static_cast<std::uintptr_t>(id);
    thread.running = true;
    return true;
}

bool joinThread(Thread& thread, int milliseconds) {
    if (!thread.running) {
        return true;
    }
    const auto id = static_cast<pthread_t>(thread.id);
    if (milliseconds < 0) {
        pthread_join(id, nullptr);
    } else {
        // The join's deadline is on the wall clock; a step of the clock meanwhile only moves
        // the moment the caller stops waiting politely.
        timespec deadline{};
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline = later(deadline, milliseconds);
        int result = 0;
        while ((result = pthread_timedjoin_np(id, nullptr, &deadline)) == EINTR) {
        }
        if (result != 0) {
            return false;
        }
    }
    thread.running = false;
    return true;
}

bool installForkHandlers(void (*prepare)(), void (*parent)(), void (*child)()) {
    return pthread_atfork(prepare, parent, child) == 0;
}

void debugLine(const char* line) {
    if (auto* sink = debugSink.load(std::memory_order_acquire)) {
        sink(line);
        return;
    }
    syslog(LOG_USER | LOG_DEBUG, "%s", line);
}

void setDebugSink(void (*sink)(const char* line)) {
    debugSink.store(sink, std::memory_order_release);
}

}  // namespace chirolink::platform
