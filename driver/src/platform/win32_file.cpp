// Windows: a file replaced whole, through a temporary file in its folder and MoveFileExA.
#include <windows.h>

#include <atomic>
#include <string>

#include "platform.h"

namespace chirolink::platform {
namespace {

// Tells one temporary file from another when threads of one process write at once.
std::atomic<unsigned> temporaries{0};

FileWrite fromError(DWORD error) {
    switch (error) {
        case ERROR_PATH_NOT_FOUND:
        case ERROR_FILE_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
            return FileWrite::missing;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
            return FileWrite::denied;
        default:
            return FileWrite::failed;
    }
}

bool writeAll(HANDLE file, const char* data, std::size_t size) {
    while (size > 0) {
        const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

}  // namespace

FileWrite replaceFile(const char* path, const char* data, std::size_t size) {
    const std::string temporary = std::string(path) + ".tmp-" +
                                  std::to_string(GetCurrentProcessId()) + "-" +
                                  std::to_string(temporaries.fetch_add(1));
    const HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return fromError(GetLastError());
    }
    bool written = writeAll(file, data, size) && FlushFileBuffers(file);
    written = CloseHandle(file) && written;
    if (!written ||
        !MoveFileExA(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = written ? GetLastError() : ERROR_WRITE_FAULT;
        DeleteFileA(temporary.c_str());
        return fromError(error);
    }
    return FileWrite::done;
}

}  // namespace chirolink::platform
