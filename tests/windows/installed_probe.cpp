// Loads a Chirolink.dll by its path (an installed one), opens a glove through it and prints the
// seven values of its first frame: "10 20 30 40 50 60 70". Exit status 0 when that worked.
//
// Usage: installed_probe.exe PATH\Chirolink.dll PORT
#include <windows.h>

#include <cstdio>

#include "chirolink_glove.h"

namespace {

template <typename Function>
Function lookUp(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: installed_probe PATH\\Chirolink.dll PORT\n");
        return 2;
    }
    const HMODULE library = LoadLibraryA(argv[1]);
    if (library == nullptr) {
        std::fprintf(stderr, "installed_probe: cannot load %s (error %lu)\n", argv[1],
                     GetLastError());
        return 1;
    }
    const auto open = lookUp<decltype(&chirolink_open)>(library, "chirolink_open");
    const auto next = lookUp<decltype(&chirolink_next_frame)>(library, "chirolink_next_frame");
    const auto close = lookUp<decltype(&chirolink_close)>(library, "chirolink_close");
    const auto text = lookUp<decltype(&chirolink_error_text)>(library, "chirolink_error_text");
    if (open == nullptr || next == nullptr || close == nullptr || text == nullptr) {
        std::fprintf(stderr, "installed_probe: %s lacks the glove API\n", argv[1]);
        return 1;
    }
    chirolink_glove* glove = nullptr;
    chirolink_frame frame{};
    int32_t result = open(argv[2], &glove);
    if (result == CHIROLINK_OK) {
        result = next(glove, &frame, 2000);
        close(glove);
    }
    if (result != CHIROLINK_OK) {
        std::fprintf(stderr, "installed_probe: %s: %s\n", argv[2], text(result));
        return 1;
    }
    for (int i = 0; i < 7; ++i) {
        std::printf(i == 0 ? "%u" : " %u", frame.values[i]);
    }
    std::printf("\n");
    return 0;
}
