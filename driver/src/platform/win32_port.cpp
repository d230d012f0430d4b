// Windows serial ports on the Win32 calls: opening, the line settings, reads and writes.
//
// Transfers are synchronous: the port's time-outs (COMMTIMEOUTS) bound every read and write by
// 1 ms per byte plus 200 ms, so the wakeup is looked at before and after each transfer, and a
// stop waits at most for the transfer under way. A port that does not take those time-outs is
// refused at the open: a ReadFile without them could wait for good. A port is used by one
// thread at a time: the link's acquisition thread while it runs.
#include <windows.h>

#include <cstring>
#include <string>

#include "platform.h"
#include "protocol.h"
#include "win32_common.h"

namespace chirolink::platform {
namespace {

using namespace win32;

constexpr DWORD kQueueSize = 256;

// "COMn" (any case, n from 1 on) gets the device namespace prefix: without it only COM1 to
// COM9 open. Any other name is used as given.
std::string devicePath(const char* name) {
    const bool com = (name[0] == 'C' || name[0] == 'c') && (name[1] == 'O' || name[1] == 'o') &&
                     (name[2] == 'M' || name[2] == 'm') && name[3] >= '1' && name[3] <= '9';
    if (com && std::strspn(name + 3, "0123456789") == std::strlen(name + 3)) {
        return std::string("\\\\.\\") + name;
    }
    return name;
}

// The time-outs every transfer runs under: 1 ms per byte plus 200 ms for a read and a write,
// and a gap between received bytes that the total limit always cuts short first.
COMMTIMEOUTS linkTimeouts() {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 1000;
    timeouts.ReadTotalTimeoutMultiplier = 1;
    timeouts.ReadTotalTimeoutConstant = 200;
    timeouts.WriteTotalTimeoutMultiplier = 1;
    timeouts.WriteTotalTimeoutConstant = 200;
    static_assert(protocol::transferLimitMs(1) == 1 * 1 + 200);
    return timeouts;
}

// Whether the port keeps the link's time-outs: set, read back and compared. What it had is put
// back; configurePort sets them for good.
bool takesTimeouts(HANDLE port) {
    COMMTIMEOUTS had{};
    if (!GetCommTimeouts(port, &had)) {
        return false;
    }
    COMMTIMEOUTS wanted = linkTimeouts();
    COMMTIMEOUTS got{};
    const bool taken = SetCommTimeouts(port, &wanted) && GetCommTimeouts(port, &got) &&
                       std::memcmp(&got, &wanted, sizeof got) == 0;
    SetCommTimeouts(port, &had);
    return taken;
}

// What configurePort found, kept in SavedSettings.
struct Found {
    DCB line;
    COMMTIMEOUTS timeouts;
    bool haveLine;
    bool haveTimeouts;
};
static_assert(sizeof(Found) <= sizeof(SavedSettings::data));

Found found(const SavedSettings& saved) {
    Found what;
    std::memcpy(&what, saved.data, sizeof what);
    return what;
}

}  // namespace

Handle openPort(const char* name, OpenFailure* why) {
    OpenFailure ignored = OpenFailure::none;
    OpenFailure& failure = why != nullptr ? *why : ignored;
    failure = OpenFailure::missing;
    if (name == nullptr || *name == '\0') {
        return kNoHandle;
    }
    const std::string path = devicePath(name);
    const HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
            failure = OpenFailure::busy;
        } else if (error == ERROR_FILENAME_EXCED_RANGE) {
            failure = OpenFailure::badName;
        } else if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND &&
                   error != ERROR_INVALID_NAME && error != ERROR_BAD_PATHNAME) {
            failure = OpenFailure::other;
        }
        return kNoHandle;
    }
    // Only a serial port is kept: NUL, CON, a disk file or a pipe open as well, and writing to
    // them would do harm or at least something nobody asked for.
    DCB line{};
    line.DCBlength = sizeof line;
    if (GetFileType(port) != FILE_TYPE_CHAR || !GetCommState(port, &line)) {
        CloseHandle(port);
        failure = OpenFailure::notATerminal;
        return kNoHandle;
    }
    if (!takesTimeouts(port)) {
        CloseHandle(port);
        failure = OpenFailure::other;
        return kNoHandle;
    }
    failure = OpenFailure::none;
    // A serial driver starts every open with an empty receive queue; an emulated port need not.
    PurgeComm(port, PURGE_RXCLEAR);
    return fromHandle(port);
}

std::string describeSettings(Handle port) {
    DCB line{};
    line.DCBlength = sizeof line;
    if (!GetCommState(handleOf(port), &line)) {
        return "not readable";
    }
    static constexpr char kParity[] = "NOEMS";
    static constexpr const char* kStopBits[] = {"1", "1.5", "2"};
    std::string text = std::to_string(line.BaudRate) + " baud, " + std::to_string(line.ByteSize) +
                       (line.Parity < 5 ? kParity[line.Parity] : '?') +
                       (line.StopBits < 3 ? kStopBits[line.StopBits] : "?") + ", " +
                       (line.fBinary ? "raw" : "not raw") + ", ";
    text += line.fOutxCtsFlow || line.fRtsControl == RTS_CONTROL_HANDSHAKE ? "RTS/CTS flow control"
            : line.fOutX || line.fInX                                      ? "XON/XOFF flow control"
                                                                           : "no flow control";
    COMMTIMEOUTS limits{};
    if (GetCommTimeouts(handleOf(port), &limits)) {
        const auto limit = [](DWORD perByte, DWORD constant) {
            return std::to_string(perByte) + " ms a byte + " + std::to_string(constant) + " ms";
        };
        text += ", reads " +
                limit(limits.ReadTotalTimeoutMultiplier, limits.ReadTotalTimeoutConstant) +
                ", writes " +
                limit(limits.WriteTotalTimeoutMultiplier, limits.WriteTotalTimeoutConstant);
    }
    return text;
}

SavedSettings configurePort(Handle port) {
    Found what{};
    const HANDLE h = handleOf(port);
    SetupComm(h, kQueueSize, kQueueSize);
    what.haveTimeouts = GetCommTimeouts(h, &what.timeouts) != FALSE;
    COMMTIMEOUTS timeouts = linkTimeouts();
    SetCommTimeouts(h, &timeouts);
    DCB line{};
    line.DCBlength = sizeof line;
    if (GetCommState(h, &line)) {
        what.line = line;
        what.haveLine = true;
        // Only these fields change; everything else stays as the port reported it.
        line.BaudRate = CBR_19200;
        line.ByteSize = 8;
        line.Parity = NOPARITY;
        line.StopBits = ONESTOPBIT;
        line.fBinary = TRUE;
        line.fDtrControl = DTR_CONTROL_ENABLE;
        line.fRtsControl = RTS_CONTROL_ENABLE;
        line.fOutxCtsFlow = FALSE;
        line.fOutxDsrFlow = FALSE;
        line.fOutX = FALSE;
        line.fInX = FALSE;
        // Every byte passes unchanged. Drivers keep these two across opens, so an earlier
        // program may have left them set: null stripping drops every 0x00 sensor byte (and
        // shifts the frame), the error character replaces bytes received with an error.
        line.fNull = FALSE;
        line.fErrorChar = FALSE;
        SetCommState(h, &line);
    }
    // Receive latency is a setting of the adapter's driver (the FTDI latency timer lives in its
    // registry keys), not of an open port: there is nothing to ask for here.
    SavedSettings saved;
    std::memcpy(saved.data, &what, sizeof what);
    return saved;
}

void restoreSettings(Handle port, const SavedSettings& saved) {
    Found what = found(saved);
    if (what.haveLine) {
        SetCommState(handleOf(port), &what.line);
    }
    if (what.haveTimeouts) {
        SetCommTimeouts(handleOf(port), &what.timeouts);
    }
}

void closePort(Handle port, const SavedSettings&) {
    CloseHandle(handleOf(port));
}

// Windows has no fork(): nothing is ever inherited that way.
void closeInheritedCopy(Handle) {}
void closeInheritedCopy(const Wakeup&) {}

namespace {

// One ReadFile or WriteFile of the bytes from `done` on: `call(offset, count)` transfers from
// `offset` and adds what went through to `count`. A port with abort-on-error set (kept as
// found) fails every transfer after one line error, a framing error or an overrun, until
// ClearCommError is called: after a failure the error is cleared and the rest tried once more.
// Only a second failure, or a port that cannot even be asked, counts as the port failing.
template <typename Call>
TransferResult transfer(HANDLE port, std::size_t size, const Wakeup* wakeup, Call call) {
    if (signalled(wakeup)) {
        return {Transfer::woken, 0};
    }
    DWORD done = 0;
    if (!call(0, done)) {
        DWORD errors = 0;
        if (!ClearCommError(port, &errors, nullptr)) {
            return {Transfer::failed, done};
        }
        if (signalled(wakeup)) {
            return {Transfer::woken, done};
        }
        if (!call(done, done)) {
            return {Transfer::failed, done};
        }
    }
    if (done == size) {
        return {Transfer::complete, done};
    }
    return {signalled(wakeup) ? Transfer::woken : Transfer::timedOut, done};
}

}  // namespace

TransferResult readPort(Handle port, std::uint8_t* data, std::size_t size, const Wakeup* wakeup) {
    const HANDLE h = handleOf(port);
    return transfer(h, size, wakeup, [&](DWORD offset, DWORD& count) {
        DWORD now = 0;
        const BOOL ok =
            ReadFile(h, data + offset, static_cast<DWORD>(size) - offset, &now, nullptr);
        count += now;
        return ok != FALSE;
    });
}

TransferResult writePort(Handle port, const std::uint8_t* data, std::size_t size,
                         const Wakeup* wakeup) {
    const HANDLE h = handleOf(port);
    return transfer(h, size, wakeup, [&](DWORD offset, DWORD& count) {
        DWORD now = 0;
        const BOOL ok =
            WriteFile(h, data + offset, static_cast<DWORD>(size) - offset, &now, nullptr);
        count += now;
        return ok != FALSE;
    });
}

void expectAnswer(Handle, std::size_t) {}

}  // namespace chirolink::platform
