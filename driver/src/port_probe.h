// Is a glove on this port? The hello without a link, for the finders of gloves.
#pragma once

#include "glove_link.h"
#include "platform/platform.h"

namespace chirolink {

/// Opens `port` as a link does, says hello up to three times, puts back the port's settings
/// and closes it. `started` when a glove answered, else why not, as GloveLink::start says it.
StartResult probePort(const char* port);

/// How a failed open shows in a StartResult (glove_link.cpp, where links start).
StartResult startResultFor(platform::OpenFailure failure);

}  // namespace chirolink
