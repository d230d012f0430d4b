// The process's own link, behind GloveInit, GloveGetDataPtr and GloveGetData, and its handle
// in the C API. Both are made on first use and never destroyed: threads of the host may call
// into them while the process exits, after static objects are gone. The library's unload hook
// stops the link instead (GloveLink::endAll).
#include "glove_handle.h"
#include "sample_buffer.h"

namespace chirolink {

GloveLink& GloveLink::process() {
    return *processGlove().link;
}

chirolink_glove& processGlove() {
    static chirolink_glove* const glove = [] {
        auto* link = new GloveLink(&exportedSample());
        return new chirolink_glove{link, link->subscribe(kFramesPerHandle), false};
    }();
    return *glove;
}

}  // namespace chirolink
