// The cabinet binding on Windows: the system's cabinet.dll, loaded for one extraction and its
// FDI functions looked up by name. The declarations in cabinet_binding.h are the library's
// own layouts and calling convention.
#include "cab/cabinet_binding.h"

#include "platform/win32/win32_api.h"

namespace fdi {

TLibraryHandle LoadCabinetLibrary(const std::string& name) {
    // A missing library is a failed extraction, never a box of the system's.
    const UINT mode = ::SetErrorMode(SEM_NOOPENFILEERRORBOX);
    const HMODULE module = ::LoadLibraryA(name.c_str());
    ::SetErrorMode(mode);
    return module;
}

TLibraryHandle GetCabinetModuleHandle(const std::string& name) {
    return ::GetModuleHandleA(name.c_str());
}

void* GetCabinetProcAddress(TLibraryHandle library, const std::string& procName) {
    const FARPROC address = ::GetProcAddress(static_cast<HMODULE>(library), procName.c_str());
    void* p = nullptr;
    static_assert(sizeof p == sizeof address);
    __builtin_memcpy(&p, &address, sizeof p);
    return p;
}

void FreeCabinetLibrary(TLibraryHandle library) {
    if (library) ::FreeLibrary(static_cast<HMODULE>(library));
}

bool LibraryChecksBlocks() {
    return false; // the system's: Wine's checks nothing
}

} // namespace fdi
