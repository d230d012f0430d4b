// Windows wakeups, sleeping, threads, the unload hook and the debug line, on the Win32 calls.
#include <windows.h>

#include <atomic>

#include "platform.h"
#include "win32_common.h"

namespace chirolink::platform {
namespace {

using namespace win32;

// Set at process exit, when the system has already ended every other thread.
std::atomic<bool> processEnding{false};
std::atomic<void (*)(Unload)> unloadHook{nullptr};

DWORD WINAPI runThread(LPVOID parameter) {
    const Thread* thread = static_cast<Thread*>(parameter);
    thread->body(thread->argument);
    // startThread took a reference to this library for the thread; it keeps the code mapped
    // until this call, which drops it and ends the thread without returning into the library.
    HMODULE module = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&runThread), &module);
    FreeLibraryAndExitThread(module, 0);
}

std::atomic<void (*)(const char*)> debugSink{nullptr};

}  // namespace

bool createWakeup(Wakeup& wakeup) {
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) {
        return false;
    }
    wakeup.waitable = fromHandle(event);
    wakeup.signaller = wakeup.waitable;  // one event, waited on and set
    return true;
}

void signalWakeup(const Wakeup& wakeup) {
    if (wakeup.signaller != kNoHandle) {
        SetEvent(handleOf(wakeup.signaller));
    }
}

void destroyWakeup(Wakeup& wakeup) {
    if (wakeup.waitable != kNoHandle) {
        CloseHandle(handleOf(wakeup.waitable));
    }
    wakeup = {};
}

bool waitForWakeup(const Wakeup& wakeup, int milliseconds) {
    return WaitForSingleObject(handleOf(wakeup.waitable), static_cast<DWORD>(milliseconds)) ==
           WAIT_OBJECT_0;
}

void sleepMilliseconds(int milliseconds) {
    Sleep(static_cast<DWORD>(milliseconds));
}

bool startThread(Thread& thread, void (*body)(void* argument), void* argument) {
    // The thread's own reference to this library, taken before it exists: a FreeLibrary by the
    // host right after GloveInit returns then leaves the code mapped for as long as it runs.
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&runThread), &module)) {
        return false;
    }
    thread.body = body;
    thread.argument = argument;
    const HANDLE handle = CreateThread(nullptr, 0, runThread, &thread, 0, nullptr);
    if (handle == nullptr) {
        FreeLibrary(module);
        return false;
    }
    thread.id = reinterpret_cast<std::uintptr_t>(handle);
    thread.running = true;
    return true;
}

bool joinThread(Thread& thread, int milliseconds) {
    if (!thread.running) {
        return true;
    }
    const HANDLE handle = reinterpret_cast<HANDLE>(thread.id);
    // At process exit the system has already ended the thread, and the caller runs under the
    // loader lock, where nothing may wait.
    if (!processEnding.load(std::memory_order_acquire)) {
        const DWORD patience = milliseconds < 0 ? INFINITE : static_cast<DWORD>(milliseconds);
        if (WaitForSingleObject(handle, patience) != WAIT_OBJECT_0) {
            return false;
        }
    }
    CloseHandle(handle);
    thread.running = false;
    return true;
}

void keepLibraryLoaded() {
    // The caller may have come in through a pointer kept after the host's FreeLibrary, with the
    // thread's reference the last one. No count of references can be read, so the library is
    // pinned: it is never unloaded under a call that is still inside.
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&runThread), &module);
}

bool installForkHandlers(void (*)(), void (*)(), void (*)()) {
    return true;  // no fork() here
}

void atUnload(void (*hook)(Unload how)) {
    // Called from DllMain for a FreeLibrary only. A running link's thread holds a reference to
    // this library, so no thread of it runs then. When the process ends, the system has ended
    // every thread before the unload, which must then take no lock and wait for nothing.
    unloadHook.store(hook, std::memory_order_release);
}

bool processExiting() {
    return processEnding.load(std::memory_order_acquire);
}

void debugLine(const char* line) {
    if (auto* sink = debugSink.load(std::memory_order_acquire)) {
        sink(line);
        return;
    }
    OutputDebugStringA(line);
}

void setDebugSink(void (*sink)(const char* line)) {
    debugSink.store(sink, std::memory_order_release);
}

}  // namespace chirolink::platform

// On detach: when the process is ending (a non-null `reserved`), notes only that, for the
// threads are gone and their locks with them; when the library alone is freed, lets the core
// free what it holds.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH) {
        if (reserved != nullptr) {
            chirolink::platform::processEnding.store(true, std::memory_order_release);
        } else if (auto* hook = chirolink::platform::unloadHook.exchange(nullptr)) {
            hook(chirolink::platform::Unload::library);
        }
    }
    return TRUE;
}
