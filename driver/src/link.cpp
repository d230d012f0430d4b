// GloveInit: the process's one link, started afresh on the port given.
#include "chirolink.h"
#include "glove_link.h"

extern "C" CHIROLINK_API int32_t CHIROLINK_CALL GloveInit(const char* port) {
    try {
        return chirolink::GloveLink::process().start(port) == chirolink::StartResult::started ? 1
                                                                                              : 0;
    } catch (...) {
        return 0;
    }
}
