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

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>

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

// A wakeup's ends are plain descriptors.
int descriptor(Handle handle) {
    return static_cast<int>(handle);
}

// Bytes read from the driver in one go: as many as the terminal layer holds for a reader, so
// that a hunt through a burst of junk takes a read or two.
constexpr std::size_t kReceiveBufferSize = 4096;

// An open serial port: its descriptor, and the bytes read from it but not yet asked for.
struct SerialPort {
    int fd = -1;
    // The settings configurePort put in place; from then on VMIN follows the reads.
    termios line{};
    bool configured = false;
    // Bytes of the answer announced by expectAnswer that no reader has taken yet.
    std::size_t expected = 0;
    // Received, not yet asked for, oldest first: pending[begin, end).
    std::size_t begin = 0;
    std::size_t end = 0;
    std::uint8_t pending[kReceiveBufferSize];
};

SerialPort& serial(Handle port) {
    return *reinterpret_cast<SerialPort*>(port);
}

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

// Hands up to `size` pending bytes to a reader.
std::size_t take(SerialPort& port, std::uint8_t* data, std::size_t size) {
    const std::size_t count = std::min(size, port.end - port.begin);
    std::memcpy(data, port.pending + port.begin, count);
    port.begin += count;
    port.expected -= std::min(port.expected, count);
    return count;
}

// Reads whatever the driver holds into the pending bytes (which the caller has emptied).
// False when the device is gone.
bool fill(SerialPort& port) {
    port.begin = 0;
    port.end = 0;
    for (;;) {
        const ssize_t n = read(port.fd, port.pending, sizeof port.pending);
        if (n > 0) {
            port.end = static_cast<std::size_t>(n);
            return true;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        // Nothing waiting is fine; EIO, ENXIO or end of file mean the device is gone.
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
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

void* runThread(void* started) {
    const Thread* thread = static_cast<Thread*>(started);
    thread->body(thread->argument);
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
        failure = errno == ENOENT || errno == ENOTDIR ? OpenFailure::missing : OpenFailure::other;
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
        failure = errno == EBUSY                                         ? OpenFailure::busy
                  : errno == EACCES || errno == EPERM                    ? OpenFailure::denied
                  : errno == ENOENT || errno == ENXIO || errno == ENODEV ? OpenFailure::missing
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

SavedSettings configurePort(Handle handle) {
    SerialPort& port = serial(handle);
    Found what{};
    termios settings{};
    if (tcgetattr(port.fd, &settings) == 0) {
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
        tcsetattr(port.fd, TCSANOW, &settings);
        port.line = settings;
        port.configured = true;
    }
    // Pseudo-terminals have no modem lines and refuse this; that is fine.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(port.fd, TIOCMBIS, &lines);
    // USB serial adapters hold received bytes until a latency timer runs out (16 ms on FTDI
    // chips), far longer than a whole exchange takes on the line; with the low-latency flag
    // the FTDI driver uses 1 ms. Drivers without the setting refuse it, which is fine.
    serial_struct serial{};
    if (ioctl(port.fd, TIOCGSERIAL, &serial) == 0) {
        what.serialFlags = serial.flags;
        what.haveSerial = true;
        if ((serial.flags & ASYNC_LOW_LATENCY) == 0) {
            serial.flags |= ASYNC_LOW_LATENCY;
            ioctl(port.fd, TIOCSSERIAL, &serial);
        }
    }
    SavedSettings saved;
    std::memcpy(saved.data, &what, sizeof what);
    return saved;
}

void restoreSettings(Handle handle, const SavedSettings& saved) {
    SerialPort& port = serial(handle);
    const Found what = found(saved);
    if (what.haveLine) {
        tcsetattr(port.fd, TCSANOW, &what.line);
        port.configured = false;
    }
}

std::string describeSettings(Handle handle) {
    termios line{};
    if (tcgetattr(serial(handle).fd, &line) != 0) {
        return std::string("not readable (") + std::strerror(errno) + ")";
    }
    static constexpr std::pair<speed_t, unsigned> kSpeeds[] = {
        {B1200, 1200},     {B2400, 2400},     {B4800, 4800},    {B9600, 9600},
        {B19200, 19200},   {B38400, 38400},   {B57600, 57600},  {B115200, 115200},
        {B230400, 230400}, {B460800, 460800}, {B921600, 921600}};
    std::string speed = "unusual speed";
    for (const auto& [code, baud] : kSpeeds) {
        if (cfgetispeed(&line) == code) {
            speed = std::to_string(baud) + " baud";
        }
    }
    const tcflag_t size = line.c_cflag & CSIZE;
    const char bits = size == CS5 ? '5' : size == CS6 ? '6' : size == CS7 ? '7' : '8';
    const char parity = (line.c_cflag & PARENB) == 0 ? 'N' : (line.c_cflag & PARODD) ? 'O' : 'E';
    const char stops = (line.c_cflag & CSTOPB) ? '2' : '1';
    const bool raw = (line.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) == 0 &&
                     (line.c_oflag & OPOST) == 0 &&
                     (line.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON)) == 0;
    const char* flow = (line.c_cflag & CRTSCTS)          ? "RTS/CTS flow control"
                       : (line.c_iflag & (IXON | IXOFF)) ? "XON/XOFF flow control"
                                                         : "no flow control";
    return speed + ", " + bits + parity + stops + ", " + (raw ? "raw" : "not raw") + ", " + flow;
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

void closeInheritedCopy(const Wakeup& wakeup) {
    for (const Handle end : {wakeup.waitable, wakeup.signaller}) {
        if (end != kNoHandle) {
            close(descriptor(end));
        }
    }
}

TransferResult readPort(Handle handle, std::uint8_t* data, std::size_t size, const Wakeup* wakeup) {
    SerialPort& port = serial(handle);
    const timespec deadline = later(now(), protocol::transferLimitMs(size));
    std::size_t done = take(port, data, size);
    while (done < size) {
        // Nothing is pending here now: wait for the rest of the answer, or of this read. Every
        // wait also watches the wakeup, however fast the bytes come.
        wakeAt(port, std::max(size - done, port.expected));
        switch (waitFor(port.fd, POLLIN, deadline, wakeup)) {
            case Ready::ready:
                break;
            case Ready::timedOut:
                // Fewer bytes came than the terminal was to wake for: take what is there.
                if (fill(port)) {
                    done += take(port, data + done, size - done);
                }
                return {done == size ? Transfer::complete : Transfer::timedOut, done};
            case Ready::woken:
                return {Transfer::woken, done};
            case Ready::failed:
                return {Transfer::failed, done};
        }
        if (!fill(port)) {
            return {Transfer::failed, done};
        }
        done += take(port, data + done, size - done);
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
    serial(port).expected = bytes;
}

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
        [[maybe_unused]] const ssize_t ignored = write(descriptor(wakeup.signaller), &byte, 1);
    }
}

void destroyWakeup(Wakeup& wakeup) {
    for (Handle* end : {&wakeup.waitable, &wakeup.signaller}) {
        if (*end != kNoHandle) {
            close(descriptor(*end));
            *end = kNoHandle;
        }
    }
}

bool waitForWakeup(const Wakeup& wakeup, int milliseconds) {
    const timespec deadline = later(now(), milliseconds);
    timespec left{};
    while (timeLeft(deadline, left)) {
        pollfd wake = {descriptor(wakeup.waitable), POLLIN, 0};
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

bool startThread(Thread& thread, void (*body)(void* argument), void* argument) {
    static_assert(sizeof(pthread_t) <= sizeof(thread.id));
    thread.body = body;
    thread.argument = argument;
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
