// The system's side of the file `record` writes: output_file_posix.cpp, output_file_win32.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace chirolink::cli {

class OutputFile {
public:
    enum class Created { created, exists, failed };

    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool openStandardOutput();
    // A new file at `path`; `exists` when something is there already.
    Created create(const std::string& path);
    // Whatever is at `path`, for writing, as it is.
    bool openExisting(const std::string& path);
    // A regular file is written at offsets and can be cut back; anything else (a pipe, a
    // terminal, a device) is written as a stream, in order.
    bool regular() const;
    // Writes at most `size` bytes at `offset` (a stream: where it stands). Gives the count
    // written, -1 on failure.
    long long write(const char* data, std::size_t size, long long offset);
    bool truncate(long long size);
    // Flushes to the disk; nothing to do for a stream.
    bool flush();
    bool close();
    static void remove(const std::string& path);
    // Why the last call failed ("No space left on device").
    std::string error() const;

private:
    std::intptr_t handle_ = -1;
    bool regular_ = false;
    unsigned long error_ = 0;
};

}  // namespace chirolink::cli
