#include "support.h"

namespace chirolink::windows_testing {
namespace {

constexpr char kLibraryName[] = "Chirolink.dll";

// A looked-up address as the function type it has (the detour through void (*)() is the
// cast that compilers accept between function pointer types).
template <typename Function>
Function lookUp(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace

Library::Library() : module_(LoadLibraryA(kLibraryName)) {
    if (module_ != nullptr) {
        init = lookUp<decltype(init)>(module_, "GloveInit");
        dataPtr = lookUp<decltype(dataPtr)>(module_, "GloveGetDataPtr");
        data = lookUp<decltype(data)>(module_, "GloveGetData");
    }
}

Library::~Library() {
    release();
}

void Library::release() {
    if (module_ != nullptr) {
        FreeLibrary(module_);
        module_ = nullptr;
    }
}

bool libraryMapped() {
    return GetModuleHandleA(kLibraryName) != nullptr;
}

std::vector<int> sensors(const Library& library) {
    std::vector<int> values;
    for (int i = 0; i < 7; ++i) {
        values.push_back(library.data(i));
    }
    return values;
}

DebugChannel::DebugChannel() {
    mapping_ =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "DBWIN_BUFFER");
    bufferReady_ = CreateEventA(nullptr, FALSE, TRUE, "DBWIN_BUFFER_READY");
    dataReady_ = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (mapping_ != nullptr && bufferReady_ != nullptr && dataReady_ != nullptr &&
        stop_ != nullptr) {
        buffer_ = static_cast<const char*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0));
    }
    if (buffer_ != nullptr) {
        thread_ = std::thread([this] { run(); });
    }
}

DebugChannel::~DebugChannel() {
    if (thread_.joinable()) {
        SetEvent(stop_);
        thread_.join();
    }
    if (buffer_ != nullptr) {
        UnmapViewOfFile(buffer_);
    }
    for (HANDLE handle : {mapping_, bufferReady_, dataReady_, stop_}) {
        if (handle != nullptr) {
            CloseHandle(handle);
        }
    }
}

std::vector<std::string> DebugChannel::lines() const {
    const std::lock_guard lock(mutex_);
    return lines_;
}

// The buffer holds the writer's process id, then the text.
void DebugChannel::run() {
    const HANDLE events[] = {stop_, dataReady_};
    while (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        {
            const std::lock_guard lock(mutex_);
            lines_.emplace_back(buffer_ + sizeof(DWORD));
        }
        SetEvent(bufferReady_);
    }
}

std::string wineVersion() {
    using Version = const char* (*)();
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    const auto version = ntdll == nullptr ? nullptr
                                          : reinterpret_cast<Version>(reinterpret_cast<void (*)()>(
                                                GetProcAddress(ntdll, "wine_get_version")));
    return version == nullptr ? std::string() : std::string(version());
}

}  // namespace chirolink::windows_testing
