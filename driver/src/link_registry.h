// Every link of the process, for fork() and for the library's end.
#pragma once

#include "glove_link.h"

namespace chirolink {

/// Adds a new link; the first one also installs the fork handlers and the unload hook.
void enrol(GloveLink::State* link);
/// Removes a link that is being destroyed.
void withdraw(GloveLink::State* link);
/// Calls `end` for every link, with the registry held: links neither come nor go meanwhile.
void forEveryLink(void (*end)(GloveLink::State& link));

}  // namespace chirolink
