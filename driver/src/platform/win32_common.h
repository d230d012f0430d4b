// What the Windows platform files share: handles in a Handle, and the wakeup's state.
#pragma once

#include <windows.h>

#include "platform.h"

namespace chirolink::platform::win32 {

inline HANDLE handleOf(Handle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

inline Handle fromHandle(HANDLE handle) {
    return reinterpret_cast<Handle>(handle);
}

inline bool signalled(const Wakeup* wakeup) {
    return wakeup != nullptr && wakeup->waitable != kNoHandle &&
           WaitForSingleObject(handleOf(wakeup->waitable), 0) == WAIT_OBJECT_0;
}

}  // namespace chirolink::platform::win32
