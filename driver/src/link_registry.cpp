// The registry of every link of the process. Callers' threads enrol and withdraw links; the
// thread that forks holds the registry and the locks of every link across fork(); the
// library's unload hook runs on whichever thread unloads the library or ends the process.
//
// The registry is not destroyed when the process exits: a thread may still create or destroy a
// link then. A library unloaded on its own frees its list; its lock stays usable throughout.
#include "link_registry.h"

#include <algorithm>
#include <new>
#include <vector>

#include "glove_handle.h"
#include "guarded.h"
#include "link_state.h"

namespace chirolink {
namespace {

// The links, made on first use. The lock that guards the pointer lives in the library's image
// and is never destroyed, so that it still works while the process exits and while the library
// is unloaded: a fork on another thread may run the fork handlers until the C library removes
// them, after this library's destructor has freed the links' list.
struct Links {
    std::vector<GloveLink::State*> all;
};

// Null before the first link, and once a library unloaded on its own has freed the list. Built
// in static storage on first use and never destroyed.
Guarded<Links*>& registry() {
    alignas(Guarded<Links*>) static unsigned char storage[sizeof(Guarded<Links*>)];
    static Guarded<Links*>* const made = new (storage) Guarded<Links*>;
    return *made;
}

// The list, made on first use.
Links& links(const Guarded<Links*>::Access& made) {
    if (*made == nullptr) {
        *made = new Links;
    }
    return **made;
}

// Every link stops for good. A library unloaded on its own also frees what it made for itself:
// the process glove, and the list, once that has no link left.
void endLibrary(platform::Unload how) {
    GloveLink::endAll();
    if (how == platform::Unload::library) {
        releaseProcessGlove();
        const auto made = registry().lock();
        if (*made != nullptr && (*made)->all.empty()) {
            delete *made;
            *made = nullptr;
        }
    }
}

// Every lock of every link, its readers' queues included, is held across fork, so that the
// child gets them free, sees every port either open and stored or closed, and every frame
// either published or not. The order is the one the acquisition thread publishes in.
void lockForFork() {
    registry().holdForFork();
    Links* const made = registry().valueHeldForFork();
    if (made == nullptr) {
        return;
    }
    for (GloveLink::State* link : made->all) {
        link->control.holdForFork();
        link->port.holdForFork();
        link->published.holdForFork();
        for (const auto& queue : link->published.valueHeldForFork().queues) {
            queue->holdForFork();
        }
    }
}

void unlockAfterFork() {
    if (Links* const made = registry().valueHeldForFork()) {
        for (GloveLink::State* link : made->all) {
            for (const auto& queue : link->published.valueHeldForFork().queues) {
                queue->releaseAfterFork();
            }
            link->published.releaseAfterFork();
            link->port.releaseAfterFork();
            link->control.releaseAfterFork();
        }
    }
    registry().releaseAfterFork();
}

// A child of fork() has none of the links' threads: it must neither join one nor touch the
// parent's ports, nor wait for the parent's readers. Its copies are closed, and only closed: they
// would hold the ports' locks for as long as the child lives.
void forgetLinksInChild() {
    if (Links* const made = registry().valueHeldForFork()) {
        for (GloveLink::State* link : made->all) {
            auto& port = link->port.valueHeldForFork();
            auto& control = link->control.valueHeldForFork();
            platform::closeInheritedCopy(port.handle);
            platform::closeInheritedCopy(control.wakeup);
            port.handle = platform::kNoHandle;
            link->run.store(0, std::memory_order_relaxed);
            control.wakeup = {};
            control.thread = {};
            control.acquisition.reset();
            // The parent's threads that waited for frames do not exist here: the waits start
            // afresh (the old conditions would wait for them for ever when destroyed).
            for (const auto& queue : link->published.valueHeldForFork().queues) {
                queue->renewInForkedChild();
            }
            new (&link->frameArrived) std::condition_variable;
            link->published.releaseAfterFork();
            link->port.releaseAfterFork();
            link->control.releaseAfterFork();
        }
    }
    registry().releaseAfterFork();
}

}  // namespace

void enrol(GloveLink::State* link) {
    static const bool installed = [] {
        platform::atUnload(endLibrary);
        return platform::installForkHandlers(lockForFork, unlockAfterFork, forgetLinksInChild);
    }();
    static_cast<void>(installed);
    links(registry().lock()).all.push_back(link);
}

void withdraw(GloveLink::State* link) {
    const auto made = registry().lock();
    auto& all = links(made).all;
    all.erase(std::remove(all.begin(), all.end(), link), all.end());
}

void forEveryLink(void (*end)(GloveLink::State& link)) {
    const auto made = registry().lock();
    for (GloveLink::State* link : links(made).all) {
        end(*link);
    }
}

}  // namespace chirolink
