// What a chirolink_glove handle of the C API is: a link and this handle's own frame queue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "chirolink_glove.h"
#include "glove_link.h"

/// A handle of the C API. The queue belongs to the handle; the link to the handle too, except
/// for the process glove's, which lives as long as the process.
struct chirolink_glove {
    chirolink::GloveLink* link;
    std::shared_ptr<chirolink::FrameQueue> queue;
    bool owned;  ///< false for the process glove: chirolink_close leaves it alone
};

namespace chirolink {

/// Frames a handle keeps for its reader: 20 s at the full rate.
inline constexpr std::size_t kFramesPerHandle = 4096;

/// The C API's result for how a start (or a probe) ended: CHIROLINK_OK, CHIROLINK_ERR_*.
int32_t resultFor(StartResult result);

/// The handle on the link behind GloveInit, made with that link on first use.
chirolink_glove& processGlove();
/// Frees the process glove and its link, for a library unloaded on its own.
void releaseProcessGlove();

}  // namespace chirolink
