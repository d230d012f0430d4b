// Shared by the Windows tests: Chirolink.dll loaded at run time, waiting for a condition, the
// debugger output channel, and telling Wine from Windows.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../lib/waiting.h"
#include "chirolink.h"

namespace chirolink::windows_testing {

using chirolink::testing::Clock;
using chirolink::testing::eventually;
using chirolink::testing::milliseconds;
using chirolink::testing::millisecondsSince;

/// Chirolink.dll, loaded with LoadLibrary and its three calls looked up by name. Frees the
/// library on destruction unless release() was called.
class Library {
public:
    Library();
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    bool loaded() const { return module_ != nullptr; }
    void release();

    decltype(&GloveInit) init = nullptr;
    decltype(&GloveGetDataPtr) dataPtr = nullptr;
    decltype(&GloveGetData) data = nullptr;

private:
    HMODULE module_ = nullptr;
};

/// Whether Chirolink.dll is mapped into this process.
bool libraryMapped();

/// The seven sensor bytes the library's buffer holds now.
std::vector<int> sensors(const Library& library);

/// Receives the lines that this process writes to the debugger output channel, through the
/// channel's shared-memory protocol (DBWIN_BUFFER), the way a debug viewer does.
class DebugChannel {
public:
    DebugChannel();
    ~DebugChannel();
    DebugChannel(const DebugChannel&) = delete;
    DebugChannel& operator=(const DebugChannel&) = delete;

    bool listening() const { return buffer_ != nullptr; }
    std::vector<std::string> lines() const;

private:
    void run();

    HANDLE mapping_ = nullptr;
    const char* buffer_ = nullptr;
    HANDLE bufferReady_ = nullptr;
    HANDLE dataReady_ = nullptr;
    HANDLE stop_ = nullptr;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::thread thread_;
};

/// Wine's version when running under Wine, else empty.
std::string wineVersion();

}  // namespace chirolink::windows_testing
