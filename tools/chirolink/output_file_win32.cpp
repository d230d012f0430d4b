// The output file on Windows. A stream (a pipe, the console, a device) is written by a thread
// of its own, one piece at a time, so that the command's thread is never stuck in a write to a
// pipe whose reader stopped reading: write() waits for that thread 100 ms at most and
// otherwise says the output is full, the piece still on its way. A writer thread that is stuck
// when the file is closed is left behind, to end with the process.
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "output_file.h"

namespace chirolink::cli {

struct OutputFile::Writer {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::mutex mutex;
    std::condition_variable changed;
    // Under mutex:
    std::string piece;      // what the thread is to write, or is writing
    bool waiting = false;   // a piece is handed over, its result not taken yet
    bool finished = false;  // the piece is written (or failed)
    bool quit = false;
    DWORD written = 0;
    DWORD error = 0;
    bool ok = false;

    // The writer thread's loop.
    void run() {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return quit || (waiting && !finished); });
            if (quit) {
                return;
            }
            const std::string data = piece;
            lock.unlock();
            DWORD n = 0;
            const bool success =
                WriteFile(handle, data.data(), static_cast<DWORD>(data.size()), &n, nullptr) != 0;
            const DWORD why = GetLastError();
            lock.lock();
            ok = success;
            written = n;
            error = why;
            finished = true;
            changed.notify_all();
        }
    }
};

namespace {

// error_ of a write whose piece is still on its way.
constexpr unsigned long kStillWriting = WAIT_TIMEOUT;

HANDLE handleOf(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

bool isRegular(HANDLE handle) {
    return GetFileType(handle) == FILE_TYPE_DISK;
}

}  // namespace

OutputFile::~OutputFile() {
    close();
}

bool OutputFile::openStandardOutput() {
    HANDLE copy = INVALID_HANDLE_VALUE;
    const HANDLE process = GetCurrentProcess();
    const bool ok = DuplicateHandle(process, GetStdHandle(STD_OUTPUT_HANDLE), process, &copy, 0,
                                    FALSE, DUPLICATE_SAME_ACCESS) != 0;
    error_ = GetLastError();
    if (!ok) {
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(copy);
    regular_ = false;  // written from where it stands, whatever it is
    return true;
}

OutputFile::Created OutputFile::create(const std::string& path) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    error_ = GetLastError();
    if (file == INVALID_HANDLE_VALUE) {
        return error_ == ERROR_FILE_EXISTS || error_ == ERROR_ALREADY_EXISTS ? Created::exists
                                                                             : Created::failed;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    regular_ = isRegular(file);
    return Created::created;
}

bool OutputFile::openExisting(const std::string& path) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    error_ = GetLastError();
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    regular_ = isRegular(file);
    return true;
}

// A named pipe without a server is refused at once rather than waited for.
bool OutputFile::noReader() const {
    return false;
}

bool OutputFile::regular() const {
    return regular_;
}

bool OutputFile::full() const {
    return error_ == kStillWriting;
}

long long OutputFile::write(const char* data, std::size_t size, long long offset) {
    if (!regular_) {
        if (!writer_) {
            writer_ = std::make_shared<Writer>();
            writer_->handle = handleOf(handle_);
            std::thread([writer = writer_] { writer->run(); }).detach();
        }
        Writer& w = *writer_;
        std::unique_lock lock(w.mutex);
        if (!w.waiting) {  // else the same bytes again: the piece on its way is theirs
            w.piece.assign(data, size > 0x40000000 ? 0x40000000 : size);
            w.waiting = true;
            w.finished = false;
            w.changed.notify_all();
        }
        if (!w.changed.wait_for(lock, std::chrono::milliseconds(100), [&] { return w.finished; })) {
            error_ = kStillWriting;
            return -1;
        }
        w.waiting = false;
        error_ = w.ok && w.written == 0 && !w.piece.empty() ? ERROR_DISK_FULL : w.error;
        return w.ok && (w.written > 0 || w.piece.empty()) ? static_cast<long long>(w.written) : -1;
    }
    const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<unsigned long long>(offset) & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(static_cast<unsigned long long>(offset) >> 32);
    const bool ok = WriteFile(handleOf(handle_), data, chunk, &written, regular_ ? &at : nullptr);
    error_ = ok && written == 0 && chunk > 0 ? ERROR_DISK_FULL : GetLastError();
    return ok && (written > 0 || chunk == 0) ? static_cast<long long>(written) : -1;
}

bool OutputFile::truncate(long long size) {
    LARGE_INTEGER to{};
    to.QuadPart = size;
    const bool ok = SetFilePointerEx(handleOf(handle_), to, nullptr, FILE_BEGIN) &&
                    SetEndOfFile(handleOf(handle_));
    error_ = GetLastError();
    return ok;
}

bool OutputFile::flush() {
    const bool ok = !regular_ || FlushFileBuffers(handleOf(handle_));
    error_ = GetLastError();
    return ok;
}

bool OutputFile::close() {
    if (handle_ == -1) {
        return true;
    }
    bool stuck = false;
    if (writer_) {
        const std::lock_guard lock(writer_->mutex);
        writer_->quit = true;
        writer_->changed.notify_all();
        stuck = writer_->waiting && !writer_->finished;
    }
    writer_.reset();
    if (stuck) {
        handle_ = -1;  // still in use by the thread, and left open for it
        return true;
    }
    const bool ok = CloseHandle(handleOf(handle_)) != 0;
    error_ = GetLastError();
    handle_ = -1;
    return ok;
}

void OutputFile::remove(const std::string& path) {
    DeleteFileA(path.c_str());
}

std::string OutputFile::error() const {
    char text[256] = {};
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(error_), 0, text, sizeof text, nullptr);
    std::string message(text, n);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return message.empty() ? "error " + std::to_string(error_) : message;
}

}  // namespace chirolink::cli
