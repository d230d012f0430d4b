// How many request/frame exchanges a second go over COM1: through Chirolink.dll, or through a
// plain WriteFile/ReadFile loop with the same port settings. Not a test: run it with
// wine-run.sh and an instant glove, --show-rate COM1 prints what the glove saw.
//
// Usage: exchange_bench dll|raw [SECONDS]
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "chirolink.h"

namespace {

double plainLoop(double seconds) {
    const HANDLE port = CreateFileA("\\\\.\\COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        return -1;
    }
    COMMTIMEOUTS timeouts{1000, 1, 200, 1, 200};
    SetCommTimeouts(port, &timeouts);
    DCB line{};
    line.DCBlength = sizeof line;
    GetCommState(port, &line);
    line.BaudRate = CBR_19200;
    line.ByteSize = 8;
    line.Parity = NOPARITY;
    line.StopBits = ONESTOPBIT;
    line.fBinary = TRUE;
    SetCommState(port, &line);
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    long exchanges = 0;
    while (std::chrono::steady_clock::now() < end) {
        const unsigned char request = 0x43;
        unsigned char answer[9];
        DWORD done = 0;
        WriteFile(port, &request, 1, &done, nullptr);
        if (ReadFile(port, answer, sizeof answer, &done, nullptr) && done == sizeof answer) {
            ++exchanges;
        }
    }
    CloseHandle(port);
    return exchanges /
           std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const double seconds = argc > 2 ? std::atof(argv[2]) : 3.0;
    if (mode == "dll") {
        if (GloveInit("COM1") != 1) {
            std::puts("no glove on COM1");
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        GloveInit(nullptr);
        std::puts("dll: see the glove's count");
        return 0;
    }
    if (mode == "raw") {
        std::printf("raw: %.0f exchanges a second\n", plainLoop(seconds));
        return 0;
    }
    std::fputs("usage: exchange_bench dll|raw [SECONDS]\n", stderr);
    return 2;
}
