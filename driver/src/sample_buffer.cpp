#include "sample_buffer.h"

#include <atomic>
#include <cstring>

namespace chirolink {
namespace {

// The exported buffer is one aligned 64-bit word so that a frame is published in one store;
// callers see it as 8 bytes through GloveGetDataPtr (a byte pointer may alias any object).
// Constant-initialised: valid before anything else in the library has run.
alignas(8) std::uint64_t sampleWord = 0;

using SampleRef = std::atomic_ref<std::uint64_t>;
static_assert(SampleRef::is_always_lock_free, "readers must never take a lock");
static_assert(sizeof(sampleWord) == protocol::kFrameSize);

}  // namespace

protocol::Frame loadSample(const std::uint64_t& word) {
    // A load changes nothing: the reference is writable only because atomic_ref wants it so.
    const std::uint64_t value =
        SampleRef(const_cast<std::uint64_t&>(word)).load(std::memory_order_acquire);
    protocol::Frame frame;
    std::memcpy(frame.data(), &value, sizeof value);
    return frame;
}

void publishSample(std::uint64_t& word, const protocol::Frame& frame) {
    std::uint64_t value;
    std::memcpy(&value, frame.data(), sizeof value);
    SampleRef(word).store(value, std::memory_order_release);
}

std::uint64_t& exportedSample() {
    return sampleWord;
}

}  // namespace chirolink
