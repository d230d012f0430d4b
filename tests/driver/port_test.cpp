// The POSIX serial layer against real pseudo-terminals with the glove emulator behind them.
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include <ostream>

#include <gtest/gtest.h>

#include "glove_emulator.h"
#include "platform/platform.h"
#include "support.h"

namespace {

// Stands in for a serial driver's TIOCGSERIAL and TIOCSSERIAL on one device: these machines
// have no USB serial adapter, and pseudo-terminals refuse both requests.
struct SerialDriverDouble {
    std::mutex mutex;
    dev_t device = 0;  // the device it answers for; others reach the real ioctl
    int flags = 0;
};

bool isDevice(int fd, dev_t device) {
    struct stat info {};
    return device != 0 && fstat(fd, &info) == 0 && info.st_rdev == device;
}
SerialDriverDouble serialDriver;

}  // namespace

// This program's definition comes first in symbol lookup, so the platform layer's ioctl calls
// land here.
extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    if (request == TIOCGSERIAL || request == TIOCSSERIAL) {
        const std::lock_guard lock(serialDriver.mutex);
        if (isDevice(fd, serialDriver.device)) {
            auto* serial = static_cast<serial_struct*>(argument);
            if (request == TIOCGSERIAL) {
                *serial = serial_struct{};
                serial->flags = serialDriver.flags;
            } else {
                serialDriver.flags = serial->flags;
            }
            return 0;
        }
    }
    using Ioctl = int (*)(int, unsigned long, ...);
    static const auto real = reinterpret_cast<Ioctl>(dlsym(RTLD_NEXT, "ioctl"));
    return real(fd, request, argument);
}

namespace chirolink::platform {
namespace {

using chirolink::testing::Clock;
using chirolink::testing::millisecondsSince;
using tools::GloveEmulator;

struct NameCase {
    const char* name;
    const char* path;
};

void PrintTo(const NameCase& c, std::ostream* out) {
    *out << '"' << c.name << "\" -> \"" << c.path << '"';
}

class DevicePathTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(DevicePathTest, MapsComNamesAndKeepsEverythingElse) {
    EXPECT_EQ(devicePath(GetParam().name), GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(
    Names, DevicePathTest,
    ::testing::Values(NameCase{"COM1", "/dev/ttyS0"}, NameCase{"COM2", "/dev/ttyS1"},
                      NameCase{"com2", "/dev/ttyS1"}, NameCase{"Com10", "/dev/ttyS9"},
                      NameCase{"COM256", "/dev/ttyS255"}, NameCase{"COM257", "COM257"},
                      NameCase{"COM0", "COM0"}, NameCase{"COM01", "COM01"}, NameCase{"COM", "COM"},
                      NameCase{"COM1:", "COM1:"},
                      NameCase{"COM99999999999999999999", "COM99999999999999999999"},
                      NameCase{"/dev/ttyUSB0", "/dev/ttyUSB0"},
                      NameCase{"/dev/serial/by-id/usb-x", "/dev/serial/by-id/usb-x"}));

class PortTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (port != kNoHandle) {
            closePort(port);
        }
    }
    GloveEmulator glove;
    Handle port = kNoHandle;
};

TEST_F(PortTest, RefusesWhatIsNotATerminal) {
    const chirolink::testing::TempDir dir;
    const std::string file = dir / "not-a-port";
    const std::string fifo = dir / "fifo";
    const std::string content = "keep me\n";
    std::ofstream(file) << content;
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct stat before {};
    ASSERT_EQ(stat(file.c_str(), &before), 0);

    for (const std::string& name : {file, fifo, dir.path(), std::string("/dev/null"),
                                    dir / "missing", std::string(""), std::string("COM0")}) {
        const Handle refused = openPort(name.c_str());
        EXPECT_EQ(refused, kNoHandle) << name;
        if (refused != kNoHandle) {
            closePort(refused);
        }
    }

    struct stat after {};
    ASSERT_EQ(stat(file.c_str(), &after), 0);
    std::ifstream in(file);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), content);
    EXPECT_EQ(after.st_size, before.st_size);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

TEST_F(PortTest, IsExclusiveUntilClosed) {
    port = openPort(glove.path().c_str());
    ASSERT_NE(port, kNoHandle);
    EXPECT_EQ(openPort(glove.path().c_str()), kNoHandle);
    closePort(port);
    port = openPort(glove.path().c_str());
    EXPECT_NE(port, kNoHandle) << "closing must release the port";
}

TEST_F(PortTest, ConfiguresRawLineOverDifferentSettings) {
    {
        // Leave the line in a state that has every setting we care about wrong.
        const int other = open(glove.path().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(other, 0);
        termios wrong{};
        ASSERT_EQ(tcgetattr(other, &wrong), 0);
        wrong.c_iflag |= IXON | IXOFF | IXANY | ICRNL | INLCR | ISTRIP | INPCK | BRKINT;
        wrong.c_oflag |= OPOST;
        wrong.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
        wrong.c_cflag = (wrong.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB | CRTSCTS | HUPCL;
        wrong.c_cc[VMIN] = 1;
        wrong.c_cc[VTIME] = 5;
        cfsetispeed(&wrong, B9600);
        cfsetospeed(&wrong, B9600);
        ASSERT_EQ(tcsetattr(other, TCSANOW, &wrong), 0);
        close(other);
    }
    port = openPort(glove.path().c_str());
    ASSERT_NE(port, kNoHandle);
    configurePort(port);

    termios line{};
    ASSERT_TRUE(glove.lineSettings(line));
    EXPECT_EQ(cfgetispeed(&line), B19200);
    EXPECT_EQ(cfgetospeed(&line), B19200);
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    for (const auto& [flag, name] : {std::pair{PARENB, "PARENB"},
                                     {CSTOPB, "CSTOPB"},
                                     {static_cast<tcflag_t>(CRTSCTS), "CRTSCTS"}}) {
        EXPECT_EQ(line.c_cflag & flag, 0u) << name;
    }
    EXPECT_EQ(line.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_NE(line.c_cflag & HUPCL, 0u) << "settings outside the link's own must be kept";
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | ISTRIP | INPCK | BRKINT), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(line.c_cc[VMIN], 0);
    EXPECT_EQ(line.c_cc[VTIME], 0);
}

struct LatencyCase {
    const char* name;
    int flagsFound;
};

void PrintTo(const LatencyCase& c, std::ostream* out) {
    *out << c.name;
}

class LowLatencyTest : public PortTest, public ::testing::WithParamInterface<LatencyCase> {
protected:
    void TearDown() override {
        const std::lock_guard lock(serialDriver.mutex);
        serialDriver.device = 0;
    }
    static int driverFlags() {
        const std::lock_guard lock(serialDriver.mutex);
        return serialDriver.flags;
    }
};

TEST_P(LowLatencyTest, IsAskedForWhileOpenAndPutBackAsFound) {
    port = openPort(glove.path().c_str());
    ASSERT_NE(port, kNoHandle);
    {
        const std::lock_guard lock(serialDriver.mutex);
        struct stat info {};
        ASSERT_EQ(stat(glove.path().c_str(), &info), 0);
        serialDriver.device = info.st_rdev;
        serialDriver.flags = GetParam().flagsFound;
    }
    const SavedSettings saved = configurePort(port);
    EXPECT_EQ(driverFlags(), GetParam().flagsFound | ASYNC_LOW_LATENCY);
    closePort(port, saved);
    port = kNoHandle;
    EXPECT_EQ(driverFlags(), GetParam().flagsFound);
}

INSTANTIATE_TEST_SUITE_P(Drivers, LowLatencyTest,
                         ::testing::Values(LatencyCase{"FlagOff", ASYNC_SKIP_TEST},
                                           LatencyCase{"FlagAlreadyOn",
                                                       ASYNC_LOW_LATENCY | ASYNC_SKIP_TEST}),
                         [](const auto& info) { return info.param.name; });

TEST_F(PortTest, ReadOnSilentLineTimesOutWithoutError) {
    glove.setSilent(true);
    port = openPort(glove.path().c_str());
    ASSERT_NE(port, kNoHandle);
    configurePort(port);

    for (const std::size_t size : {std::size_t{1}, std::size_t{8}}) {
        std::uint8_t data[8] = {};
        const auto start = Clock::now();
        const auto got = readPort(port, data, size, nullptr);
        const double took = millisecondsSince(start);
        EXPECT_EQ(got.status, Transfer::timedOut);
        EXPECT_EQ(got.count, 0u);
        EXPECT_GE(took, 199.0 + static_cast<double>(size));
        EXPECT_LT(took, 700.0);
    }
}

TEST_F(PortTest, OpenDiscardsWhatWasQueuedBeforeItAndNothingAfter) {
    glove.setInstant(true);
    glove.sendRaw(std::vector<std::uint8_t>(4096, 0x12));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    port = openPort(glove.path().c_str());
    ASSERT_NE(port, kNoHandle);
    configurePort(port);
    glove.sendRaw({0x34, 0x56});
    std::uint8_t data[2] = {};
    const auto got = readPort(port, data, 2, nullptr);
    EXPECT_EQ(got.status, Transfer::complete);
    EXPECT_EQ(data[0], 0x34);
    EXPECT_EQ(data[1], 0x56);
}

TEST_F(PortTest, WritesAndReadsAnExchange) {
    port = openPort(glove.path().c_str());
    ASSERT_NE(port, kNoHandle);
    configurePort(port);
    glove.setFixedValues({1, 2, 3, 4, 5, 6, 7});
    const std::uint8_t request = 0x43;
    EXPECT_EQ(writePort(port, &request, 1, nullptr).status, Transfer::complete);
    std::uint8_t answer[9] = {};
    const auto got = readPort(port, answer, sizeof answer, nullptr);
    ASSERT_EQ(got.status, Transfer::complete);
    const std::uint8_t expected[9] = {0x80, 1, 2, 3, 4, 5, 6, 7, 1 ^ 2 ^ 3 ^ 4 ^ 5 ^ 6 ^ 7};
    EXPECT_TRUE(std::equal(answer, answer + 9, expected));
}

TEST_F(PortTest, AnswerTakenInPiecesLeavesTheRestInOrder) {
    port = openPort(glove.path().c_str());
    ASSERT_NE(port, kNoHandle);
    configurePort(port);
    expectAnswer(port, 9);
    glove.sendRaw({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});  // paced like the line
    std::uint8_t got[12] = {};
    EXPECT_EQ(readPort(port, got, 1, nullptr).count, 1u);
    EXPECT_EQ(readPort(port, got + 1, 8, nullptr).count, 8u);
    EXPECT_EQ(readPort(port, got + 9, 3, nullptr).count, 3u) << "bytes after the answer stay";
    for (std::uint8_t i = 0; i < 12; ++i) {
        EXPECT_EQ(got[i], i + 1);
    }
}

TEST_F(PortTest, ReadWaitsOnlyForTheBytesStillNeeded) {
    glove.setInstant(true);
    port = openPort(glove.path().c_str());
    ASSERT_NE(port, kNoHandle);
    configurePort(port);
    // Part of an answer comes: the read for its first byte waits for the whole answer, and at
    // its limit takes what is there.
    expectAnswer(port, 9);
    glove.sendRaw({0x80, 1, 2, 3});
    std::uint8_t frame[8] = {};
    auto start = Clock::now();
    ASSERT_EQ(readPort(port, frame, 1, nullptr).count, 1u);
    EXPECT_LT(millisecondsSince(start), 700.0);
    // The rest of it comes while the next read waits: that read must end as soon as the five
    // bytes still needed are there, not run into its 208 ms limit waiting for a whole answer.
    std::thread rest([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        glove.sendRaw({4, 5, 6, 7, 8});
    });
    start = Clock::now();
    const auto got = readPort(port, frame, 8, nullptr);
    const double took = millisecondsSince(start);
    rest.join();
    EXPECT_EQ(got.status, Transfer::complete);
    EXPECT_EQ(frame[0], 1);
    EXPECT_EQ(frame[7], 8);
    EXPECT_LT(took, 150.0);
}

TEST_F(PortTest, HangUpIsAFailureNotATimeOut) {
    glove.setSilent(true);
    port = openPort(glove.path().c_str());
    ASSERT_NE(port, kNoHandle);
    configurePort(port);
    std::thread pull([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        glove.unplug();
    });
    std::uint8_t byte = 0;
    const auto got = readPort(port, &byte, 1, nullptr);
    pull.join();
    EXPECT_EQ(got.status, Transfer::failed);
    EXPECT_EQ(readPort(port, &byte, 1, nullptr).status, Transfer::failed);
    EXPECT_EQ(writePort(port, &byte, 1, nullptr).status, Transfer::failed);
}

TEST_F(PortTest, WakeupCutsAWaitShort) {
    glove.setSilent(true);
    port = openPort(glove.path().c_str());
    ASSERT_NE(port, kNoHandle);
    Wakeup wakeup;
    ASSERT_TRUE(createWakeup(wakeup));
    EXPECT_FALSE(waitForWakeup(wakeup, 20));

    std::thread waker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        signalWakeup(wakeup);
    });
    std::uint8_t data[8] = {};
    const auto start = Clock::now();
    const auto got = readPort(port, data, sizeof data, &wakeup);
    waker.join();
    EXPECT_EQ(got.status, Transfer::woken);
    EXPECT_LT(millisecondsSince(start), 190.0);
    EXPECT_TRUE(waitForWakeup(wakeup, 10000)) << "a signalled wakeup stays signalled";
    destroyWakeup(wakeup);
}

}  // namespace
}  // namespace chirolink::platform
