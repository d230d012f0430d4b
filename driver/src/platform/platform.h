// The operating-system services the link needs: a serial port with deadlines, a way to
// interrupt the acquisition thread's waits, a thread, sleeping, the debug line, and a file
// replaced whole.
// Each operating system implements this header in a few files: posix_*.cpp, win32_*.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace chirolink::platform {

/// An open serial port, or a waitable object: what the platform file makes of it (a port
/// object with its receive buffer, a file descriptor, a HANDLE). -1 is "none" everywhere.
using Handle = std::intptr_t;
inline constexpr Handle kNoHandle = -1;

/// Why openPort failed.
enum class OpenFailure { none, missing, notATerminal, busy, denied, other };

/// Opens the serial port `name` for reading and writing, exclusively, without creating
/// anything. "COMn" (any case, n >= 1) is the n-th serial port; any other name is a device
/// path used as given. Fails (kNoHandle) when the device is missing, busy, or not a terminal,
/// and says which in `why` when that is not null; also (`other`) for a port whose transfers
/// could not be given limits, where a read could wait for ever.
/// A new open starts with an empty receive queue, as a real serial port does after its last
/// close: bytes left over from an earlier user are discarded here, and only here.
Handle openPort(const char* name, OpenFailure* why = nullptr);

/// The port's settings as configurePort found them. What it holds is the platform's own;
/// all zero (as constructed) means nothing was saved.
struct SavedSettings {
    alignas(8) unsigned char data[256] = {};
};

/// Puts the port into 19200 baud, 8 data bits, no parity, 1 stop bit, raw binary mode,
/// no flow control, DTR and RTS on, asks the driver for its lowest receive latency where it
/// has such a setting, and returns what it replaced. Results are not examined: the handshake
/// decides. Neither queue is flushed.
SavedSettings configurePort(Handle port);

/// Puts back the line settings that configurePort replaced, for a port that turned out not to
/// be a glove.
void restoreSettings(Handle port, const SavedSettings& saved);

/// The port's line settings as the system reports them, for people: "19200 baud, 8N1, raw,
/// no flow control".
std::string describeSettings(Handle port);

#ifndef _WIN32
/// The device path that a port name stands for: "COMn" gives "/dev/ttyS<n-1>", anything
/// else is returned as given.
std::string devicePath(const char* name);
#endif

/// Closes the port. Driver settings that outlive the open (the receive latency) are put back
/// as `saved` says they were found.
void closePort(Handle port, const SavedSettings& saved = SavedSettings{});

/// Lets one thread cut short another's port transfers and waits.
struct Wakeup {
    Handle waitable = kNoHandle;
    Handle signaller = kNoHandle;
};
bool createWakeup(Wakeup& wakeup);
void signalWakeup(const Wakeup& wakeup);
void destroyWakeup(Wakeup& wakeup);

/// Closes this process's copy of a port, or of a wakeup, and nothing else: for a forked
/// child, whose copies share the device with the parent that still uses it.
void closeInheritedCopy(Handle port);
void closeInheritedCopy(const Wakeup& wakeup);

enum class Transfer {
    complete,  ///< every byte went through
    timedOut,  ///< the deadline passed first: `count` bytes went through (possibly none)
    failed,    ///< the port failed outright (hung up, device gone)
    woken,     ///< the wakeup was signalled
};

struct TransferResult {
    Transfer status;
    std::size_t count;
};

/// Reads `size` bytes, giving up after 1 ms per byte plus 200 ms in all (monotonic clock).
/// Bytes already waiting in the port are read first. `wakeup` may be null.
TransferResult readPort(Handle port, std::uint8_t* data, std::size_t size, const Wakeup* wakeup);

/// Writes `size` bytes under the same deadline as readPort.
TransferResult writePort(Handle port, const std::uint8_t* data, std::size_t size,
                         const Wakeup* wakeup);

/// Tells the port how many bytes the answer to what was just written has in all, so that a
/// platform that can may wake the reader once for the whole answer instead of once a byte.
/// Reads keep their limits and still return what came when one runs out.
void expectAnswer(Handle port, std::size_t bytes);

/// Sleeps `milliseconds`, or less when `wakeup` is signalled. Returns true when woken.
bool waitForWakeup(const Wakeup& wakeup, int milliseconds);

void sleepMilliseconds(int milliseconds);

/// A started thread. Its body runs with every asynchronous signal blocked, so that the
/// host program's handlers run on the host's own threads.
struct Thread {
    std::uintptr_t id = 0;
    void (*body)(void* argument) = nullptr;
    void* argument = nullptr;
    bool running = false;
};
/// Starts `body(argument)` on a new thread.
bool startThread(Thread& thread, void (*body)(void* argument), void* argument);
/// Waits for the thread to end, at most `milliseconds` when that is not negative. Returns true
/// once it has ended and is joined.
bool joinThread(Thread& thread, int milliseconds = -1);

/// Runs `prepare` in the forking thread before fork(), `parent` after it in the parent, and
/// `child` in the child. Returns false when the handlers could not be installed.
bool installForkHandlers(void (*prepare)(), void (*parent)(), void (*child)());

/// How the library goes away.
enum class Unload {
    library,  ///< the library alone is unloaded: no thread runs in it, what it holds may go
    process,  ///< the process ends: the host's threads may still call in, nothing may be freed
};

/// Calls `hook` once when the library goes away, saying how.
/// Where the system ends the library's threads with the process before the unload (Windows),
/// the hook is called only for a library unloaded on its own.
void atUnload(void (*hook)(Unload how));

/// How replaceFile ended.
enum class FileWrite { done, missing, denied, failed };

/// Makes `path` a file that holds `size` bytes from `data`, or leaves it as it was: the bytes go
/// to a new file in the same folder, which is flushed to the disk and then renamed over `path`
/// in one step. `missing`: no such folder; `denied`: the folder or the file may not be written.
FileWrite replaceFile(const char* path, const char* data, std::size_t size);

/// Writes one line to the platform's debug channel: syslog at LOG_DEBUG here, without
/// openlog (the host program owns its syslog identity).
void debugLine(const char* line);

/// Routes debugLine to `sink` instead; nullptr restores the platform's channel. For tests.
void setDebugSink(void (*sink)(const char* line));

}  // namespace chirolink::platform
