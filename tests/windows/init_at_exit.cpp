// Returns from main while a thread of its own is inside GloveInit("COM1"), saying its hellos to a
// glove that never answers (1.2 s in all). Run by the test
// Exit.ProcessEndsWhileAThreadIsInGloveInit: the process must end all the same, with status 0.
#include <windows.h>

#include "chirolink.h"

namespace {

DWORD WINAPI initComOne(LPVOID) {
    GloveInit("COM1");
    return 0;
}

}  // namespace

int main() {
    const HANDLE thread = CreateThread(nullptr, 0, initComOne, nullptr, 0, nullptr);
    if (thread == nullptr) {
        return 3;
    }
    Sleep(300);  // the first hello is under way, the second 0.4 s after it
    return 0;
}
