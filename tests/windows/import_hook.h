// Points one import of a loaded module at a function of the test's, for what Wine's serial
// driver does not do: keep settings that an earlier program left on the port, and fail
// transfers after a line error until the error is cleared. The replacement usually calls the
// real function and changes or records a little around it.
#pragma once

#include <windows.h>

namespace chirolink::windows_testing {

class ImportHook {
public:
    /// Replaces the import of `function` (by name, from whichever DLL) in `module`'s import
    /// address table with `replacement`. installed() is false when `module` does not import it.
    ImportHook(HMODULE module, const char* function, const void* replacement);
    /// Puts the original back.
    ~ImportHook();
    ImportHook(const ImportHook&) = delete;
    ImportHook& operator=(const ImportHook&) = delete;

    bool installed() const { return slot_ != nullptr; }

private:
    void** slot_ = nullptr;
    void* original_ = nullptr;
};

}  // namespace chirolink::windows_testing
