// POSIX (Linux) serial line settings: putting the glove's in place, putting the found ones
// back, and describing them for people.
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "platform.h"
#include "posix_common.h"

namespace chirolink::platform {

using posix::serial;
using posix::SerialPort;

using posix::Found;
using posix::found;

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

}  // namespace chirolink::platform
