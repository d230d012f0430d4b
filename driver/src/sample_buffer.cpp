#include "sample_buffer.h"

#include <atomic>
#include <cstring>

#include "chirolink.h"

namespace chirolink {
namespace {

// The buffer is one aligned 64-bit word so that a frame is published in one store; callers
// see it as 8 bytes through GloveGetDataPtr (a byte pointer may alias any object).
alignas(8) std::uint64_t sampleWord = 0;

using SampleRef = std::atomic_ref<std::uint64_t>;
static_assert(SampleRef::is_always_lock_free, "readers must never take a lock");
static_assert(sizeof(sampleWord) == protocol::kFrameSize);

}  // namespace

protocol::Frame loadSample() {
    const std::uint64_t word = SampleRef(sampleWord).load(std::memory_order_acquire);
    protocol::Frame frame;
    std::memcpy(frame.data(), &word, sizeof word);
    return frame;
}

void publishSample(const protocol::Frame& frame) {
    std::uint64_t word;
    std::memcpy(&word, frame.data(), sizeof word);
    SampleRef(sampleWord).store(word, std::memory_order_release);
}

}  // namespace chirolink

extern "C" CHIROLINK_API unsigned char* CHIROLINK_CALL GloveGetDataPtr(void) {
    return reinterpret_cast<unsigned char*>(&chirolink::sampleWord);
}

extern "C" CHIROLINK_API unsigned char CHIROLINK_CALL GloveGetData(int32_t index) {
    if (index < 0 || index >= static_cast<int32_t>(chirolink::protocol::kSensorCount)) {
        return 0;
    }
    return chirolink::loadSample()[static_cast<std::size_t>(index)];
}
