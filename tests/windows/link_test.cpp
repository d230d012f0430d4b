// Chirolink.dll against emulated gloves on COM1 and COM2. Each test runs in a process of its
// own, with the gloves that CMakeLists.txt gives it.
#include <gtest/gtest.h>
#include <windows.h>

#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "support.h"

namespace chirolink::windows_testing {
namespace {

const std::vector<int> kComOneValues = {10, 20, 30, 40, 50, 60, 70};  // checksum 96
const std::vector<int> kComTwoValues = {11, 22, 33, 44, 55, 66, 77};

// Threads of this process, from a system snapshot.
int threadCount() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    }
    CloseHandle(snapshot);
    return count;
}

TEST(Frames, ArriveInTheBuffer) {
    Library chirolink;
    ASSERT_TRUE(chirolink.loaded());
    ASSERT_EQ(chirolink.init("COM1"), 1);
    EXPECT_TRUE(eventually([&] { return sensors(chirolink) == kComOneValues; }, milliseconds(2000)))
        << "the buffer holds " << ::testing::PrintToString(sensors(chirolink));
    EXPECT_EQ(chirolink.dataPtr()[7], 96) << "the checksum byte";
    // The link runs on while the process ends.
}

TEST(Handshake, SilentPortFailsAfterThreeHellos) {
    Library chirolink;
    const auto start = Clock::now();
    EXPECT_EQ(chirolink.init("COM1"), 0);
    const double elapsed = millisecondsSince(start);
    EXPECT_GT(elapsed, 1100);  // three times: hello, 100 ms, a 201 ms read, 100 ms
    EXPECT_LT(elapsed, 3000);
}

// Names that must fail at once: nothing behind a mapped port, an unmapped port, devices and
// paths that are not serial ports, and names that are no port at all.
class RefusedPort : public ::testing::TestWithParam<const char*> {};

TEST_P(RefusedPort, FailsAtOnce) {
    Library chirolink;
    const auto start = Clock::now();
    EXPECT_EQ(chirolink.init(GetParam()), 0);
    EXPECT_LT(millisecondsSince(start), 500);
}

INSTANTIATE_TEST_SUITE_P(Names, RefusedPort,
                         ::testing::Values("COM1", "COM9", "NUL", "C:\\windows", "COM0", ""),
                         [](const auto& info) {
                             const std::string name = info.param;
                             if (name.empty()) {
                                 return std::string("Empty");
                             }
                             return name == "C:\\windows" ? std::string("Directory") : name;
                         });

TEST(RefusedPort, FileIsLeftUntouched) {
    char directory[MAX_PATH];
    char path[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, directory), 0u);
    ASSERT_NE(GetTempFileNameA(directory, "chl", 0, path), 0u);
    const std::string content = "not a glove\n";
    std::ofstream(path, std::ios::binary) << content;

    {
        Library chirolink;
        EXPECT_EQ(chirolink.init(path), 0);
    }
    std::ifstream file(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), content);
    file.close();
    DeleteFileA(path);
}

// The glove on COM1 sends only bad checksums (ForEveryBadFrame) or only good ones.
struct ChecksumCase {
    const char* name;
    bool badFrames;
};

class ChecksumLine : public ::testing::TestWithParam<ChecksumCase> {};

TEST_P(ChecksumLine, GoesToTheDebuggerChannelForBadFramesOnly) {
    DebugChannel channel;
    ASSERT_TRUE(channel.listening());
    Library chirolink;
    ASSERT_EQ(chirolink.init("COM1"), 1);
    ASSERT_TRUE(
        eventually([&] { return sensors(chirolink) == kComOneValues; }, milliseconds(2000)));
    Sleep(300);
    chirolink.init(nullptr);  // stop, so that no line is under way while counting

    const auto lines = channel.lines();
    if (GetParam().badFrames) {
        EXPECT_NE(chirolink.dataPtr()[7], 96) << "the bad checksum stays in the buffer";
        EXPECT_GE(lines.size(), 3u);
        for (const auto& line : lines) {
            EXPECT_EQ(line, "Chirolink: Glove checksum error\n");
        }
    } else {
        EXPECT_EQ(chirolink.dataPtr()[7], 96);
        EXPECT_TRUE(lines.empty()) << lines.size() << " lines, the first: " << lines.front();
    }
}

INSTANTIATE_TEST_SUITE_P(Frames, ChecksumLine,
                         ::testing::Values(ChecksumCase{"ForEveryBadFrame", true},
                                           ChecksumCase{"NoneForGoodFrames", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// COM1 and COM2 each have a glove with values of its own.
TEST(RepeatedInit, MovesTheLinkToTheNewPort) {
    Library chirolink;
    const int before = threadCount();
    ASSERT_EQ(chirolink.init("COM1"), 1);
    ASSERT_TRUE(
        eventually([&] { return sensors(chirolink) == kComOneValues; }, milliseconds(2000)));
    const int withLink = threadCount();
    EXPECT_EQ(withLink, before + 1);

    for (const char* port : {"COM2", "COM1", "COM2"}) {
        const auto start = Clock::now();
        ASSERT_EQ(chirolink.init(port), 1) << port;
        // The old link stops within one exchange's limit (0.41 s), then one hello (0.1 s).
        EXPECT_LT(millisecondsSince(start), 1500) << port;
        const auto& expected = std::strcmp(port, "COM1") == 0 ? kComOneValues : kComTwoValues;
        EXPECT_TRUE(eventually([&] { return sensors(chirolink) == expected; }, milliseconds(2000)))
            << port;
        EXPECT_EQ(threadCount(), withLink) << "after moving to " << port;
    }
}

// An animated glove on COM1.
TEST(Unload, FreeLibraryWhileStreamingThenAStopThroughAKeptPointerReturns) {
    auto* chirolink = new Library;
    ASSERT_EQ(chirolink->init("COM1"), 1);
    const unsigned char* buffer = chirolink->dataPtr();
    const auto init = chirolink->init;
    delete chirolink;  // FreeLibrary while the thread runs

    ASSERT_TRUE(libraryMapped()) << "the running link keeps the library loaded";
    const std::vector<unsigned char> seen(buffer, buffer + 7);
    EXPECT_TRUE(eventually([&] { return std::vector<unsigned char>(buffer, buffer + 7) != seen; },
                           milliseconds(3000)))
        << "frames keep coming";

    // Stopped through the pointer kept from before: the thread's reference was the last, and its
    // end must neither block the call nor unload the library under it.
    const int threadsWithLink = threadCount();
    std::atomic<int> result{-1};
    std::thread stopper([&] { result = init(nullptr); });
    const bool returned = eventually([&] { return result.load() != -1; }, milliseconds(5000));
    if (!returned) {
        stopper.detach();  // blocked for good: the process ends with the test
        FAIL() << "GloveInit(NULL) after FreeLibrary did not return";
    }
    stopper.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_TRUE(eventually([&] { return threadCount() < threadsWithLink; }, milliseconds(3000)))
        << "the acquisition thread ends";
    EXPECT_TRUE(libraryMapped()) << "the call returned into the library: it stays loaded";
    EXPECT_EQ(init(nullptr), 0) << "and takes further calls";
}

TEST(Exclusive, SecondOpenOfTheLinkPortIsRefused) {
    if (!wineVersion().empty()) {
        GTEST_SKIP() << "Wine " << wineVersion() << " does not enforce exclusive opens";
    }
    Library chirolink;
    ASSERT_EQ(chirolink.init("COM1"), 1);
    const HANDLE second = CreateFileA("\\\\.\\COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(second, INVALID_HANDLE_VALUE);
    if (second != INVALID_HANDLE_VALUE) {
        CloseHandle(second);
    }
}

// COM1 has a glove that never answers. init_at_exit.exe returns from main while its other
// thread is inside GloveInit: the system ends that thread before the library's unload runs, which
// must then wait for nothing the thread held.
TEST(Exit, ProcessEndsWhileAThreadIsInGloveInit) {
    char self[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
    std::string program(self, length);
    program = program.substr(0, program.find_last_of("\\/") + 1) + "init_at_exit.exe";
    std::string commandLine = "\"" + program + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                               nullptr, nullptr, &startup, &child))
        << program << ": error " << GetLastError();
    const auto start = Clock::now();
    const bool ended = WaitForSingleObject(child.hProcess, 10000) == WAIT_OBJECT_0;
    const double took = millisecondsSince(start);
    if (!ended) {
        TerminateProcess(child.hProcess, 99);
        WaitForSingleObject(child.hProcess, 5000);
    }
    DWORD status = 0;
    GetExitCodeProcess(child.hProcess, &status);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    ASSERT_TRUE(ended) << "the process had not ended " << took << " ms after it started";
    EXPECT_EQ(status, 0u);
}

}  // namespace
}  // namespace chirolink::windows_testing
