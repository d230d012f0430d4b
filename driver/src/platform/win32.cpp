// Windows serial ports, threads, sleeping and the debug line, on the Win32 calls.
//
// Transfers are synchronous: the port's time-outs (COMMTIMEOUTS) bound every read and write by
// 1 ms per byte plus 200 ms, so the wakeup is looked at before and after each transfer, and a
// stop waits at most for the transfer under way. A port that does not take those time-outs is
// refused at the open: a ReadFile without them could wait for good.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>

#include "platform.h"
#include "protocol.h"

namespace chirolink::platform {
namespace {

constexpr DWORD kQueueSize = 256;

HANDLE handleOf(Handle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

Handle fromHandle(HANDLE handle) {
    return reinterpret_cast<Handle>(handle);
}

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

bool signalled(const Wakeup* wakeup) {
    return wakeup != nullptr && wakeup->waitable != kNoHandle &&
           WaitForSingleObject(handleOf(wakeup->waitable), 0) == WAIT_OBJECT_0;
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

// Set at process exit, when the system has already ended every other thread.
std::atomic<bool> processEnding{false};
std::atomic<void (*)(Unload)> unloadHook{nullptr};

DWORD WINAPI runThread(LPVOID parameter) {
    const Thread* thread = static_cast<Thread*>(parameter);
    thread->body(thread->argument);
    // startThread took a reference to this library for the thread; it keeps the code mapped
    // until this call, which drops it and ends the thread without returning into the library.
    HMODULE module = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&runThread), &module);
    FreeLibraryAndExitThread(module, 0);
}

std::atomic<void (*)(const char*)> debugSink{nullptr};

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
        } else if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
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

bool createWakeup(Wakeup& wakeup) {
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) {
        return false;
    }
    wakeup.waitable = fromHandle(event);
    wakeup.signaller = wakeup.waitable;  // one event, waited on and set
    return true;
}

void signalWakeup(const Wakeup& wakeup) {
    if (wakeup.signaller != kNoHandle) {
        SetEvent(handleOf(wakeup.signaller));
    }
}

void destroyWakeup(Wakeup& wakeup) {
    if (wakeup.waitable != kNoHandle) {
        CloseHandle(handleOf(wakeup.waitable));
    }
    wakeup = {};
}

bool waitForWakeup(const Wakeup& wakeup, int milliseconds) {
    return WaitForSingleObject(handleOf(wakeup.waitable), static_cast<DWORD>(milliseconds)) ==
           WAIT_OBJECT_0;
}

void sleepMilliseconds(int milliseconds) {
    Sleep(static_cast<DWORD>(milliseconds));
}

bool startThread(Thread& thread, void (*body)(void* argument), void* argument) {
    // The thread's own reference to this library, taken before it exists: a FreeLibrary by the
    // host right after GloveInit returns then leaves the code mapped for as long as it runs.
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&runThread), &module)) {
        return false;
    }
    thread.body = body;
    thread.argument = argument;
    const HANDLE handle = CreateThread(nullptr, 0, runThread, &thread, 0, nullptr);
    if (handle == nullptr) {
        FreeLibrary(module);
        return false;
    }
    thread.id = reinterpret_cast<std::uintptr_t>(handle);
    thread.running = true;
    return true;
}

bool joinThread(Thread& thread, int milliseconds) {
    if (!thread.running) {
        return true;
    }
    const HANDLE handle = reinterpret_cast<HANDLE>(thread.id);
    // At process exit the system has already ended the thread, and the caller runs under the
    // loader lock, where nothing may wait.
    if (!processEnding.load(std::memory_order_acquire)) {
        const DWORD patience = milliseconds < 0 ? INFINITE : static_cast<DWORD>(milliseconds);
        if (WaitForSingleObject(handle, patience) != WAIT_OBJECT_0) {
            return false;
        }
    }
    CloseHandle(handle);
    thread.running = false;
    return true;
}

bool installForkHandlers(void (*)(), void (*)(), void (*)()) {
    return true;  // no fork() here
}

bool atUnload(void (*hook)(Unload how)) {
    // Called from DllMain for a FreeLibrary only. A running link's thread holds a reference to
    // this library, so no thread of it runs then. When the process ends, the system has ended
    // every thread before the unload, which must then take no lock and wait for nothing.
    unloadHook.store(hook, std::memory_order_release);
    return true;
}
void debugLine(const char* line) {
    if (auto* sink = debugSink.load(std::memory_order_acquire)) {
        sink(line);
        return;
    }
    OutputDebugStringA(line);
}

void setDebugSink(void (*sink)(const char* line)) {
    debugSink.store(sink, std::memory_order_release);
}

}  // namespace chirolink::platform

// On detach: when the process is ending (a non-null `reserved`), notes only that, for the
// threads are gone and their locks with them; when the library alone is freed, lets the core
// free what it holds.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH) {
        if (reserved != nullptr) {
            chirolink::platform::processEnding.store(true, std::memory_order_release);
        } else if (auto* hook = chirolink::platform::unloadHook.exchange(nullptr)) {
            hook(chirolink::platform::Unload::library);
        }
    }
    return TRUE;
}
