#include <windows.h>

#include "output_file.h"

namespace chirolink::cli {

namespace {

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

bool OutputFile::regular() const {
    return regular_;
}

long long OutputFile::write(const char* data, std::size_t size, long long offset) {
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
