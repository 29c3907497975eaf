#pragma once
// The handle owner's kinds on Windows: kernel handles, loaded libraries and directory
// searches. Each closes through its own system call and keeps that call's error.
#include "platform/handle.h"
#include "platform/win32/win32_api.h"

namespace plat::win32 {

// A kernel object (file, process, event); INVALID_HANDLE_VALUE holds nothing, as the file
// functions hand it out. Handles of functions that answer null are taken over as
// TKernelHandle(h ? h : INVALID_HANDLE_VALUE).
struct TKernelHandleTraits {
    using TValue = HANDLE;
    static TValue Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool Close(TValue h) noexcept { return ::CloseHandle(h) != 0; }
};
using TKernelHandle = THandle<TKernelHandleTraits>;

// A library loaded by LoadLibraryA.
struct TModuleTraits {
    using TValue = HMODULE;
    static TValue Invalid() noexcept { return nullptr; }
    static bool Close(TValue h) noexcept { return ::FreeLibrary(h) != 0; }
};
using TModule = THandle<TModuleTraits>;

// A directory search of FindFirstFileA.
struct TFindTraits {
    using TValue = HANDLE;
    static TValue Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool Close(TValue h) noexcept { return ::FindClose(h) != 0; }
};
using TFind = THandle<TFindTraits>;

// A function of a loaded library by name, as the caller's pointer type; null when missing.
template <class TFunction> TFunction ProcAddress(HMODULE module, const char* name) {
    static_assert(sizeof(TFunction) == sizeof(FARPROC));
    const FARPROC address = ::GetProcAddress(module, name);
    TFunction function = nullptr;
    if (address) __builtin_memcpy(&function, &address, sizeof function);
    return function;
}

} // namespace plat::win32
