// The registry of every link of the process. Callers' threads enrol and withdraw links; the
// thread that forks holds the registry and the locks of every link across fork(); the
// library's unload hook runs on whichever thread unloads the library or ends the process.
//
// The registry is not destroyed when the process exits: a thread may still create or destroy a
// link then. A library unloaded on its own frees it.
#include "link_registry.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

#include "glove_handle.h"
#include "link_state.h"

namespace chirolink {
namespace {

struct Registry {
    std::mutex mutex;
    std::vector<GloveLink::State*> links;
};

Registry* made = nullptr;

Registry& registry() {
    static Registry* const all = made = new Registry;
    return *all;
}

// Every link stops for good. A library unloaded on its own also frees what it made for itself:
// the process glove, and the registry, once that has no link left.
void endLibrary(platform::Unload how) {
    GloveLink::endAll();
    if (how == platform::Unload::library) {
        releaseProcessGlove();
        if (made->links.empty()) {
            delete made;
        }
    }
}

// Every lock of every link, its readers' queues included, is held across fork, so that the
// child gets them free, sees every port either open and stored or closed, and every frame
// either published or not. The order is the one the acquisition thread publishes in.
void lockForFork() {
    Registry& all = registry();
    all.mutex.lock();
    for (GloveLink::State* link : all.links) {
        link->control.holdForFork();
        link->port.holdForFork();
        link->published.holdForFork();
        for (const auto& queue : link->published.valueHeldForFork().queues) {
            queue->holdForFork();
        }
    }
}

void unlockAfterFork() {
    Registry& all = registry();
    for (GloveLink::State* link : all.links) {
        for (const auto& queue : link->published.valueHeldForFork().queues) {
            queue->releaseAfterFork();
        }
        link->published.releaseAfterFork();
        link->port.releaseAfterFork();
        link->control.releaseAfterFork();
    }
    all.mutex.unlock();
}

// A child of fork() has none of the links' threads: it must neither join one nor touch the
// parent's ports, nor wait for the parent's readers. Its copies are closed, and only closed: they
// would hold the ports' locks for as long as the child lives.
void forgetLinksInChild() {
    Registry& all = registry();
    for (GloveLink::State* link : all.links) {
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
    all.mutex.unlock();
}

}  // namespace

void enrol(GloveLink::State* link) {
    static const bool installed = [] {
        platform::atUnload(endLibrary);
        return platform::installForkHandlers(lockForFork, unlockAfterFork, forgetLinksInChild);
    }();
    static_cast<void>(installed);
    Registry& all = registry();
    const std::lock_guard lock(all.mutex);
    all.links.push_back(link);
}

void withdraw(GloveLink::State* link) {
    Registry& all = registry();
    const std::lock_guard lock(all.mutex);
    all.links.erase(std::remove(all.links.begin(), all.links.end(), link), all.links.end());
}

void forEveryLink(void (*end)(GloveLink::State& link)) {
    Registry& all = registry();
    const std::lock_guard lock(all.mutex);
    for (GloveLink::State* link : all.links) {
        end(*link);
    }
}

}  // namespace chirolink
