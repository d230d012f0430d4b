// Is a glove on this port? Opening a port and saying hello, for a link that starts and for the
// finders of gloves, which let go of the port again.
#pragma once

#include <cstdint>

#include "glove_link.h"
#include "platform/platform.h"

namespace chirolink {

/// A port opened and greeted.
struct Greeted {
    StartResult result = StartResult::badName;  ///< `started` when a glove answered, else why not
    platform::Handle handle = platform::kNoHandle;  ///< open and configured when `started`
    platform::SavedSettings saved;                  ///< what configuring it replaced
};

/// Checks the name, opens `port` exclusively, configures it and says hello up to three times;
/// the answer lands in `sample`. On `started` the port stays open; otherwise it is closed with
/// its settings put back as found.
Greeted greet(const char* port, std::uint64_t& sample);

/// Closes a greeted port with its settings put back as found.
void giveBack(platform::Handle port, const platform::SavedSettings& saved);

/// Greets `port` and lets go of it again. `started` when a glove answered, else why not, as
/// GloveLink::start says it.
StartResult probePort(const char* port);

}  // namespace chirolink
