// GloveInit, GloveGetDataPtr and GloveGetData: the process's one link, and its sample buffer.
#include "chirolink.h"
#include "glove_link.h"
#include "platform/platform.h"
#include "protocol.h"
#include "sample_buffer.h"

extern "C" CHIROLINK_API int32_t CHIROLINK_CALL GloveInit(const char* port) {
    // An exit handler that calls in would start a link that the process's end stops at once.
    if (chirolink::platform::processExiting()) {
        return 0;
    }
    try {
        return chirolink::GloveLink::process().start(port) == chirolink::StartResult::started ? 1
                                                                                              : 0;
    } catch (...) {
        return 0;
    }
}

extern "C" CHIROLINK_API unsigned char* CHIROLINK_CALL GloveGetDataPtr(void) {
    return reinterpret_cast<unsigned char*>(&chirolink::exportedSample());
}

extern "C" CHIROLINK_API unsigned char CHIROLINK_CALL GloveGetData(int32_t index) {
    if (index < 0 || index >= static_cast<int32_t>(chirolink::protocol::kSensorCount)) {
        return 0;
    }
    return chirolink::loadSample(chirolink::exportedSample())[static_cast<std::size_t>(index)];
}
