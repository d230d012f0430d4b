// POSIX (Linux) wakeups, sleeping, threads, fork and unload hooks, and the debug line.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <semaphore.h>
#include <signal.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <cxxabi.h>

#include <atomic>
#include <cerrno>
#include <new>

#include "platform.h"
#include "posix_common.h"

namespace chirolink::platform {
namespace {

using namespace posix;

void* runThread(void* started) {
    const Thread* thread = static_cast<Thread*>(started);
    thread->body(thread->argument);
    return nullptr;
}

// LeakSanitizer's, when the process has it; see atUnload.
extern "C" void __lsan_ignore_object(const void* block) __attribute__((weak));

std::atomic<void (*)(const char*)> debugSink{nullptr};
std::atomic<void (*)(Unload)> unloadHook{nullptr};

// Posted by the C library when the process exits, before any library's destructors run; see
// atUnload. Allocated, not static: it outlives this library, and the C library keeps it.
std::atomic<sem_t*> exitMarker{nullptr};

// Runs when the library is unloaded (dlclose), and when the process exits normally while
// other threads may still run.
__attribute__((destructor)) void onUnload() {
    if (auto* hook = unloadHook.exchange(nullptr)) {
        const bool exiting = exitMarker.load() == nullptr || processExiting();
        hook(exiting ? Unload::process : Unload::library);
    }
}

}  // namespace

void closeInheritedCopy(const Wakeup& wakeup) {
    for (const Handle end : {wakeup.waitable, wakeup.signaller}) {
        if (end != kNoHandle) {
            close(descriptor(end));
        }
    }
}

bool createWakeup(Wakeup& wakeup) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    wakeup.waitable = ends[0];
    wakeup.signaller = ends[1];
    return true;
}

void signalWakeup(const Wakeup& wakeup) {
    if (wakeup.signaller != kNoHandle) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t ignored = write(descriptor(wakeup.signaller), &byte, 1);
    }
}

void destroyWakeup(Wakeup& wakeup) {
    for (Handle* end : {&wakeup.waitable, &wakeup.signaller}) {
        if (*end != kNoHandle) {
            close(descriptor(*end));
            *end = kNoHandle;
        }
    }
}

bool waitForWakeup(const Wakeup& wakeup, int milliseconds) {
    const timespec deadline = later(now(), milliseconds);
    timespec left{};
    while (timeLeft(deadline, left)) {
        pollfd wake = {descriptor(wakeup.waitable), POLLIN, 0};
        const int n = ppoll(&wake, 1, &left, nullptr);
        if (n > 0) {
            return true;
        }
        if (n < 0 && errno != EINTR) {
            return false;
        }
    }
    return false;
}

void sleepMilliseconds(int milliseconds) {
    const timespec deadline = later(now(), milliseconds);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

bool startThread(Thread& thread, void (*body)(void* argument), void* argument) {
    static_assert(sizeof(pthread_t) <= sizeof(thread.id));
    thread.body = body;
    thread.argument = argument;
    // The new thread inherits this mask: every asynchronous signal stays with the host.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    pthread_t id{};
    const int failed = pthread_create(&id, nullptr, runThread, &thread);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (failed != 0) {
        return false;
    }
    pthread_setname_np(id, "chirolink");  // for top, gdb and /proc
    thread.id = static_cast<std::uintptr_t>(id);
    thread.running = true;
    return true;
}

bool joinThread(Thread& thread, int milliseconds) {
    if (!thread.running) {
        return true;
    }
    const auto id = static_cast<pthread_t>(thread.id);
    if (milliseconds < 0) {
        pthread_join(id, nullptr);
    } else {
        // The join's deadline is on the wall clock; a step of the clock meanwhile only moves
        // the moment the caller stops waiting politely.
        timespec deadline{};
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline = later(deadline, milliseconds);
        int result = 0;
        while ((result = pthread_timedjoin_np(id, nullptr, &deadline)) == EINTR) {
        }
        if (result != 0) {
            return false;
        }
    }
    thread.running = false;
    return true;
}

void keepLibraryLoaded() {}

bool installForkHandlers(void (*prepare)(), void (*parent)(), void (*child)()) {
    return pthread_atfork(prepare, parent, child) == 0;
}

void atUnload(void (*hook)(Unload how)) {
    unloadHook.store(hook);
    // Exit and dlclose both run this library's destructors; only exit runs the exit handlers
    // that belong to the main program. One is registered as the main program's (no DSO
    // handle), so that it stays when this library goes, and it is the C library's own
    // sem_post, so that nothing of this library runs then: it posts the marker on exit only.
    // Without the marker every unload counts as the end of the process, and nothing is freed:
    // so under ThreadSanitizer, which calls the main program's exit handlers without their
    // argument.
#if !defined(__SANITIZE_THREAD__)
    auto* marker = new (std::nothrow) sem_t;
    if (marker == nullptr || sem_init(marker, 0, 0) != 0) {
        delete marker;
        return;
    }
    const auto post = reinterpret_cast<void (*)(void*)>(reinterpret_cast<void (*)()>(&sem_post));
    if (__cxxabiv1::__cxa_atexit(post, marker, nullptr) != 0) {
        sem_destroy(marker);
        delete marker;
        return;
    }
    exitMarker.store(marker);
    // After dlclose only the C library's exit list holds the marker, and the C library frees
    // that list as it runs it, before a leak check at the very end would look.
    if (__lsan_ignore_object != nullptr) {
        __lsan_ignore_object(marker);
    }
#endif
}

bool processExiting() {
    int posted = 0;
    sem_t* const marker = exitMarker.load();
    return marker != nullptr && sem_getvalue(marker, &posted) == 0 && posted > 0;
}

void debugLine(const char* line) {
    if (auto* sink = debugSink.load(std::memory_order_acquire)) {
        sink(line);
        return;
    }
    syslog(LOG_USER | LOG_DEBUG, "%s", line);
}

void setDebugSink(void (*sink)(const char* line)) {
    debugSink.store(sink, std::memory_order_release);
}

}  // namespace chirolink::platform
