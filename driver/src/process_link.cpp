// The process's own link, behind GloveInit, GloveGetDataPtr and GloveGetData, and its handle
// in the C API. Both are made on first use and are not destroyed when the process exits:
// threads of the host may call into them then, after static objects are gone. Only a library
// unloaded on its own, with no thread inside it, frees them.
#include <atomic>

#include "glove_handle.h"
#include "sample_buffer.h"

namespace chirolink {
namespace {

std::atomic<chirolink_glove*> made{nullptr};

}  // namespace

GloveLink& GloveLink::process() {
    return *processGlove().link;
}

chirolink_glove& processGlove() {
    static chirolink_glove* const glove = [] {
        auto* link = new GloveLink(&exportedSample());
        auto* handle = new chirolink_glove{link, link->subscribe(kFramesPerHandle), false};
        made.store(handle, std::memory_order_release);
        return handle;
    }();
    return *glove;
}

void releaseProcessGlove() {
    if (chirolink_glove* glove = made.exchange(nullptr)) {
        delete glove->link;
        delete glove;
    }
}

}  // namespace chirolink
