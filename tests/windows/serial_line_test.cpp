// The serial line on Windows passes every byte unchanged: settings that an earlier program left
// on the port and that would change bytes are cleared, a transfer that fails after a line error
// is tried again once the error is cleared, and a port whose time-outs do not take is refused.
//
// Windows drivers keep null stripping, the error character and abort-on-error across opens, and
// with abort-on-error set a line error fails every transfer until ClearCommError. Wine's serial
// driver does neither, so where a test needs them, it puts them in between Chirolink.dll and
// the system by pointing the DLL's imports at small functions here (import_hook.h).
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "chirolink_glove.h"
#include "import_hook.h"
#include "support.h"

namespace chirolink::windows_testing {
namespace {

// The glove on COM1 sends these (CMakeLists.txt): zero bytes among them, checksum 0.
const std::vector<int> kWithZeros = {0, 10, 0, 20, 0, 30, 0};

HMODULE chirolinkModule() {
    return GetModuleHandleA("Chirolink.dll");
}

// The glove API of the loaded library, looked up by name.
struct GloveCalls {
    GloveCalls() {
        const HMODULE module = chirolinkModule();
        auto find = [&](const char* name) {
            return reinterpret_cast<void (*)()>(GetProcAddress(module, name));
        };
        open = reinterpret_cast<decltype(open)>(find("chirolink_open"));
        close = reinterpret_cast<decltype(close)>(find("chirolink_close"));
        status = reinterpret_cast<decltype(status)>(find("chirolink_get_status"));
    }
    chirolink_status statusOf(chirolink_glove* glove) const {
        chirolink_status s{};
        status(glove, &s);
        return s;
    }
    decltype(&chirolink_open) open = nullptr;
    decltype(&chirolink_close) close = nullptr;
    decltype(&chirolink_get_status) status = nullptr;
};

// What an earlier program leaves set on a port, and what the library then wrote.
namespace earlier {
std::mutex mutex;
std::vector<DCB> written;

void leaveOn(DCB& line) {
    line.fNull = TRUE;
    line.fErrorChar = TRUE;
    line.ErrorChar = '?';
    line.fAbortOnError = TRUE;
    line.EvtChar = 0x7e;
    line.XonLim = 111;
    line.XoffLim = 222;
}

// As a Windows driver reports the port after that program: Wine's forgets these fields.
BOOL WINAPI getCommState(HANDLE port, LPDCB line) {
    if (!GetCommState(port, line)) {
        return FALSE;
    }
    leaveOn(*line);
    return TRUE;
}

BOOL WINAPI setCommState(HANDLE port, LPDCB line) {
    {
        const std::lock_guard lock(mutex);
        written.push_back(*line);
    }
    return SetCommState(port, line);
}
}  // namespace earlier

TEST(LineSettings, NullStrippingAndTheErrorCharacterAreClearedTheRestKeptAsFound) {
    // The earlier program, on the real port.
    const HANDLE port = CreateFileA("\\\\.\\COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    DCB line{};
    line.DCBlength = sizeof line;
    ASSERT_TRUE(GetCommState(port, &line));
    earlier::leaveOn(line);
    SetCommState(port, &line);
    CloseHandle(port);

    Library chirolink;
    ASSERT_TRUE(chirolink.loaded());
    std::unique_ptr<ImportHook> forgetful;
    if (!wineVersion().empty()) {
        forgetful = std::make_unique<ImportHook>(chirolinkModule(), "GetCommState",
                                                 reinterpret_cast<void*>(&earlier::getCommState));
        ASSERT_TRUE(forgetful->installed());
    }
    const ImportHook spy(chirolinkModule(), "SetCommState",
                         reinterpret_cast<void*>(&earlier::setCommState));
    ASSERT_TRUE(spy.installed());
    ASSERT_EQ(chirolink.init("COM1"), 1);

    EXPECT_TRUE(eventually([&] { return sensors(chirolink) == kWithZeros; }, milliseconds(2000)))
        << "the buffer holds " << ::testing::PrintToString(sensors(chirolink));
    EXPECT_EQ(chirolink.dataPtr()[7], 0) << "the checksum byte";
    const std::lock_guard lock(earlier::mutex);
    ASSERT_EQ(earlier::written.size(), 1u);
    const DCB& set = earlier::written.front();
    EXPECT_FALSE(set.fNull) << "0x00 bytes would be dropped";
    EXPECT_FALSE(set.fErrorChar) << "bytes with a parity error would be replaced";
    EXPECT_TRUE(set.fAbortOnError) << "kept as found";
    EXPECT_EQ(set.ErrorChar, '?');
    EXPECT_EQ(set.EvtChar, 0x7e);
    EXPECT_EQ(set.XonLim, 111);
    EXPECT_EQ(set.XoffLim, 222);
    EXPECT_EQ(set.BaudRate, static_cast<DWORD>(CBR_19200));
}

// A port with abort-on-error set after a line error: every ReadFile on it fails until
// ClearCommError is called, or, `persistent`, for as long as it is open (a port that is gone).
namespace lineError {
std::atomic<bool> armed{false};
std::atomic<bool> persistent{false};
std::atomic<HANDLE> failing{nullptr};
std::atomic<int> clears{0};

BOOL WINAPI readFile(HANDLE port, LPVOID data, DWORD size, LPDWORD done, LPOVERLAPPED overlapped) {
    if (armed.exchange(false)) {
        failing = port;
    }
    if (port == failing.load()) {
        if (done != nullptr) {
            *done = 0;
        }
        SetLastError(ERROR_OPERATION_ABORTED);
        return FALSE;
    }
    return ReadFile(port, data, size, done, overlapped);
}

BOOL WINAPI clearCommError(HANDLE port, LPDWORD errors, LPCOMSTAT status) {
    ++clears;
    if (!persistent) {
        HANDLE expected = port;
        failing.compare_exchange_strong(expected, nullptr);
    }
    return ClearCommError(port, errors, status);
}

BOOL WINAPI closeHandle(HANDLE handle) {
    HANDLE expected = handle;
    failing.compare_exchange_strong(expected, nullptr);
    return CloseHandle(handle);
}
}  // namespace lineError

// Runs a glove on COM1 into a line error (persistent or not) and gives its status once frames
// flow again.
chirolink_status afterALineError(bool persistent) {
    Library chirolink;
    EXPECT_TRUE(chirolink.loaded());
    const GloveCalls calls;
    const ImportHook read(chirolinkModule(), "ReadFile",
                          reinterpret_cast<void*>(&lineError::readFile));
    const ImportHook clear(chirolinkModule(), "ClearCommError",
                           reinterpret_cast<void*>(&lineError::clearCommError));
    const ImportHook close(chirolinkModule(), "CloseHandle",
                           reinterpret_cast<void*>(&lineError::closeHandle));
    EXPECT_TRUE(read.installed());
    EXPECT_TRUE(clear.installed()) << "Chirolink.dll does not call ClearCommError";
    EXPECT_TRUE(close.installed());
    chirolink_glove* glove = nullptr;
    EXPECT_EQ(calls.open("COM1", &glove), CHIROLINK_OK);
    if (glove == nullptr) {
        return {};
    }
    EXPECT_TRUE(eventually([&] { return calls.statusOf(glove).frames >= 20; }, milliseconds(3000)));
    lineError::persistent = persistent;
    lineError::armed = true;
    EXPECT_TRUE(eventually([&] { return !lineError::armed.load(); }, milliseconds(2000)));
    const auto before = calls.statusOf(glove).frames;
    EXPECT_TRUE(
        eventually([&] { return calls.statusOf(glove).frames >= before + 20; }, milliseconds(5000)))
        << "no frames after the line error";
    const chirolink_status status = calls.statusOf(glove);
    calls.close(glove);
    return status;
}

TEST(LineErrors, ATransferThatFailsIsTriedAgainAfterClearCommError) {
    const chirolink_status status = afterALineError(false);
    EXPECT_GE(lineError::clears.load(), 1);
    EXPECT_EQ(status.reopens, 0u) << "the port was taken for gone";
    EXPECT_EQ(status.state, CHIROLINK_STATE_RUNNING);
}

TEST(LineErrors, APortThatStillFailsIsTakenForGoneAndOpenedAgain) {
    const chirolink_status status = afterALineError(true);
    EXPECT_GE(lineError::clears.load(), 1);
    EXPECT_EQ(status.reopens, 1u);
    EXPECT_EQ(status.state, CHIROLINK_STATE_RUNNING);
}

// A port on which SetCommTimeouts fails, or succeeds without effect.
namespace timeouts {
std::atomic<bool> reportSuccess{false};

BOOL WINAPI setCommTimeouts(HANDLE, LPCOMMTIMEOUTS) {
    if (reportSuccess) {
        return TRUE;
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}
}  // namespace timeouts

TEST(Timeouts, APortWhoseTimeoutsDoNotTakeIsRefusedWithoutAByteWritten) {
    Library chirolink;
    ASSERT_TRUE(chirolink.loaded());
    const GloveCalls calls;
    for (const bool reportSuccess : {false, true}) {
        timeouts::reportSuccess = reportSuccess;
        const ImportHook hook(chirolinkModule(), "SetCommTimeouts",
                              reinterpret_cast<void*>(&timeouts::setCommTimeouts));
        ASSERT_TRUE(hook.installed());
        const auto start = Clock::now();
        EXPECT_EQ(chirolink.init("COM1"), 0)
            << "SetCommTimeouts reports success: " << reportSuccess;
        chirolink_glove* glove = nullptr;
        EXPECT_EQ(calls.open("COM1", &glove), CHIROLINK_ERR_SYSTEM);
        calls.close(glove);
        EXPECT_LT(millisecondsSince(start), 500);
    }
    // The same port with time-outs that take: one hello (CMakeLists.txt counts them).
    EXPECT_EQ(chirolink.init("COM1"), 1);
}

}  // namespace
}  // namespace chirolink::windows_testing
