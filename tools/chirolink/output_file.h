// The system's side of the file `record` writes: output_file_posix.cpp, output_file_win32.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
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
    // Whatever is at `path`, for writing, as it is. Does not wait for a FIFO's reader: then
    // it fails and noReader() says so.
    bool openExisting(const std::string& path);
    bool noReader() const;
    // A regular file is written at offsets and can be cut back; anything else (a pipe, a
    // terminal, a device) is written as a stream, in order.
    bool regular() const;
    // Writes at most `size` bytes at `offset` (a stream: where it stands). Gives the count
    // written, -1 on failure. A pipe or FIFO does not wait for its reader: when it is full the
    // write fails and full() says so (Console::waitForOutput waits for room); then write the
    // same bytes again (on Windows they may be on their way already).
    long long write(const char* data, std::size_t size, long long offset);
    bool full() const;
    std::intptr_t handle() const { return handle_; }
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
    int restoreFlags_ = -1;  // standard output's flags to put back on closing, when changed
    struct Writer;
    std::shared_ptr<Writer> writer_;  // Windows: the thread that writes a stream
};

}  // namespace chirolink::cli
