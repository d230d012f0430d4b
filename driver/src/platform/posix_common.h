// What the POSIX platform files share: the monotonic clock with deadlines, descriptors in
// handles, and the serial port object behind a port handle.
#pragma once

#include <termios.h>
#include <time.h>

#include <cstring>

#include "platform.h"
#include "receive_buffer.h"

namespace chirolink::platform::posix {

inline constexpr long kNanosecondsPerMillisecond = 1000000;
inline constexpr long kNanosecondsPerSecond = 1000000000;

inline timespec now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t;
}

inline timespec later(timespec t, long milliseconds) {
    t.tv_sec += milliseconds / 1000;
    t.tv_nsec += (milliseconds % 1000) * kNanosecondsPerMillisecond;
    if (t.tv_nsec >= kNanosecondsPerSecond) {
        t.tv_sec += 1;
        t.tv_nsec -= kNanosecondsPerSecond;
    }
    return t;
}

// Time left until `deadline`; false once it has passed.
inline bool timeLeft(const timespec& deadline, timespec& left) {
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
inline int descriptor(Handle handle) {
    return static_cast<int>(handle);
}

// An open serial port: its descriptor, and the bytes read from it but not yet asked for.
// Used by one thread at a time: the link's acquisition thread while it runs.
struct SerialPort {
    int fd = -1;
    // The settings configurePort put in place; from then on VMIN follows the reads.
    termios line{};
    bool configured = false;
    ReceiveBuffer received;
};

// What configurePort found, kept in SavedSettings.
struct Found {
    termios line;
    int serialFlags;
    bool haveLine;
    bool haveSerial;
};
static_assert(sizeof(Found) <= sizeof(SavedSettings::data));

inline Found found(const SavedSettings& saved) {
    Found what;
    std::memcpy(&what, saved.data, sizeof what);
    return what;
}

inline SerialPort& serial(Handle port) {
    return *reinterpret_cast<SerialPort*>(port);
}

}  // namespace chirolink::platform::posix
