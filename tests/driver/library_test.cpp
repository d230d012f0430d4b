// The shipped shared library: what it exports, a fresh load, and unloading it mid-stream.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <syslog.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "chirolink.h"
#include "glove_emulator.h"
#include "support.h"

// The library writes its debug line through syslog(3). This executable's definitions come
// first in symbol lookup, so the library's calls land here instead of in the C library.
namespace {
std::mutex syslogMutex;
std::vector<std::pair<int, std::string>> syslogLines;
int openlogCalls = 0;
}  // namespace

extern "C" void syslog(int priority, const char* format, ...) {
    char text[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    const std::lock_guard lock(syslogMutex);
    syslogLines.emplace_back(priority, text);
}

extern "C" void openlog(const char*, int, int) {
    const std::lock_guard lock(syslogMutex);
    ++openlogCalls;
}

namespace chirolink {
namespace {

using chirolink::testing::Clock;
using chirolink::testing::eventually;
using chirolink::testing::milliseconds;
using chirolink::testing::millisecondsSince;
using chirolink::testing::requestsStopped;
using tools::GloveEmulator;

std::string run(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
            out += buffer;
        }
        pclose(pipe);
    }
    return out;
}

TEST(SharedLibraryTest, ExportsTheThreeCallsAndTheGloveApiOnly) {
    const std::string table = run("nm -D --defined-only '" CHIROLINK_LIBRARY "'");
    std::set<std::string> names;
    std::istringstream lines(table);
    for (std::string address, type, name; lines >> address >> type >> name;) {
        names.insert(name);
    }
    EXPECT_EQ(names, (std::set<std::string>{
                         "GloveInit", "GloveGetDataPtr", "GloveGetData", "chirolink_open",
                         "chirolink_close", "chirolink_next_frame", "chirolink_latest_frame",
                         "chirolink_get_status", "chirolink_error_text", "chirolink_version",
                         "chirolink_process_glove", "chirolink_calibration_load",
                         "chirolink_calibration_save", "chirolink_calibrate",
                         "chirolink_list_ports", "chirolink_probe"}));
}

TEST(SharedLibraryTest, CarriesItsSoname) {
    EXPECT_NE(
        run("objdump -p '" CHIROLINK_LIBRARY "'").find("SONAME               libChirolink.so.1"),
        std::string::npos);
}

// The library loaded at run time, as a host program that plugs it in would.
class LoadedLibrary {
public:
    LoadedLibrary() : handle_(dlopen(CHIROLINK_LIBRARY, RTLD_NOW | RTLD_LOCAL)) {
        if (handle_ != nullptr) {
            init = reinterpret_cast<decltype(init)>(dlsym(handle_, "GloveInit"));
            dataPtr = reinterpret_cast<decltype(dataPtr)>(dlsym(handle_, "GloveGetDataPtr"));
            data = reinterpret_cast<decltype(data)>(dlsym(handle_, "GloveGetData"));
        }
    }
    ~LoadedLibrary() { unload(); }
    bool loaded() const { return handle_ != nullptr && init && dataPtr && data; }
    void unload() {
        if (handle_ != nullptr) {
            dlclose(handle_);
            handle_ = nullptr;
        }
    }

    decltype(&GloveInit) init = nullptr;
    decltype(&GloveGetDataPtr) dataPtr = nullptr;
    decltype(&GloveGetData) data = nullptr;

private:
    void* handle_;
};

TEST(SharedLibraryTest, FreshLoadHoldsZerosThenTheHandshakeAnswer) {
    GloveEmulator glove;
    glove.dropReplyEvery(1);  // answers the hello, never a request: no frame comes
    LoadedLibrary library;
    ASSERT_TRUE(library.loaded()) << dlerror();

    const unsigned char* buffer = library.dataPtr();
    ASSERT_NE(buffer, nullptr);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(buffer[i], 0) << i;
    }
    for (int32_t i = -1; i <= 7; ++i) {
        EXPECT_EQ(library.data(i), 0) << i;
    }

    ASSERT_EQ(library.init(glove.path().c_str()), 1);
    EXPECT_EQ(library.data(0), 85);
    for (int32_t i = 1; i <= 6; ++i) {
        EXPECT_EQ(library.data(i), 0) << i;
    }
}

TEST(SharedLibraryTest, UnloadingStopsTheRunningLinkAtOnce) {
    GloveEmulator glove;
    glove.setInstant(true);
    glove.setFixedValues({3, 1, 4, 1, 5, 9, 2});
    {
        LoadedLibrary library;
        ASSERT_TRUE(library.loaded()) << dlerror();
        ASSERT_EQ(library.init(glove.path().c_str()), 1);
        ASSERT_TRUE(glove.waitForFrames(10, milliseconds(3000)));

        const auto start = Clock::now();
        library.unload();
        EXPECT_LT(millisecondsSince(start), 500.0);
    }
    EXPECT_TRUE(requestsStopped(glove));

    // The port is closed: its lock is free. A fresh load starts from zeros.
    const int port = open(glove.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(port, 0);
    EXPECT_EQ(flock(port, LOCK_EX | LOCK_NB), 0);
    close(port);
    LoadedLibrary again;
    ASSERT_TRUE(again.loaded()) << dlerror();
    EXPECT_EQ(again.data(5), 0);
}

TEST(SharedLibraryTest, UnloadingWhileTheGloveIsQuietIsPromptToo) {
    GloveEmulator glove;
    glove.setInstant(true);
    glove.stopAfterFrames(1);  // after one frame every read runs into its time-out
    LoadedLibrary library;
    ASSERT_TRUE(library.loaded()) << dlerror();
    ASSERT_EQ(library.init(glove.path().c_str()), 1);
    ASSERT_TRUE(glove.waitForFrames(1, milliseconds(3000)));
    // Right after a request the thread sits in the hunt read and then the frame read: 409 ms of
    // time-outs that unloading must cut short.
    const std::size_t asked = glove.countReceived(0x43);
    ASSERT_TRUE(glove.waitForReceived(0x43, asked + 1, milliseconds(3000)));

    const auto start = Clock::now();
    library.unload();
    EXPECT_LT(millisecondsSince(start), 200.0) << "the thread's waits must be woken, not sat out";
}

TEST(SharedLibraryTest, ChecksumErrorGoesToSyslogAtDebugLevel) {
    {
        const std::lock_guard lock(syslogMutex);
        syslogLines.clear();
        openlogCalls = 0;
    }
    GloveEmulator glove;
    glove.setInstant(true);
    glove.setFixedValues({1, 2, 3, 4, 5, 6, 7});
    glove.corruptChecksumEvery(2);
    glove.stopAfterFrames(3);  // good, bad, good, then quiet
    LoadedLibrary library;
    ASSERT_TRUE(library.loaded()) << dlerror();
    ASSERT_EQ(library.init(glove.path().c_str()), 1);
    ASSERT_TRUE(glove.waitForFrames(3, milliseconds(3000)));
    std::this_thread::sleep_for(milliseconds(500));
    library.unload();

    const std::lock_guard lock(syslogMutex);
    ASSERT_EQ(syslogLines.size(), 1u);
    EXPECT_EQ(syslogLines[0].first, LOG_USER | LOG_DEBUG);
    EXPECT_EQ(syslogLines[0].second, "Chirolink: Glove checksum error\n");
    EXPECT_EQ(openlogCalls, 0) << "the host program owns its syslog identity";
}

}  // namespace
}  // namespace chirolink
