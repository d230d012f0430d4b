#include "import_hook.h"

#include <cstring>

namespace chirolink::windows_testing {
namespace {

// Writes one pointer into the import address table, which the loader leaves read-only.
void store(void** slot, void* value) {
    DWORD protection = 0;
    if (VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection)) {
        *slot = value;  // pointer-sized and aligned: other threads see the old or the new one
        VirtualProtect(slot, sizeof *slot, protection, &protection);
        FlushInstructionCache(GetCurrentProcess(), slot, sizeof *slot);
    }
}

}  // namespace

ImportHook::ImportHook(HMODULE module, const char* function, const void* replacement) {
    auto* base = reinterpret_cast<unsigned char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) {
        return;
    }
    for (auto* dll =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         dll->Name != 0; ++dll) {
        const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(
            base + (dll->OriginalFirstThunk != 0 ? dll->OriginalFirstThunk : dll->FirstThunk));
        auto* addresses = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++addresses) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                continue;
            }
            const auto* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0) {
                slot_ = reinterpret_cast<void**>(&addresses->u1.Function);
                original_ = *slot_;
                store(slot_, const_cast<void*>(replacement));
                return;
            }
        }
    }
}

ImportHook::~ImportHook() {
    if (slot_ != nullptr) {
        store(slot_, original_);
    }
}

}  // namespace chirolink::windows_testing
