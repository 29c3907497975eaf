#pragma once
// The private header of the Windows side: what its files, clock, shell and presentation
// share. Not for subsystem code, which uses the headers of platform/.
#include <string>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/win32/win32_api.h"

namespace plat::win32 {

// Each leaves its code as the thread's last error and returns false: the code of the call that
// just failed is already there (Fail), or a code of ours (FailWith).
inline bool Fail() {
    return false;
}
inline bool FailWith(int code) {
    ::SetLastError(static_cast<DWORD>(code));
    return false;
}

// "/" becomes "\"; nothing else changes.
std::string Native(const std::string& name);

// Times between the Unix epoch and the system's file times (100 ns since 1601, UTC).
bool ToFileTime(TUnixTime t, FILETIME& ft);
TUnixTime FromFileTime(const FILETIME& ft);

// The handle of a FileHandle, and back.
inline HANDLE ToHandle(FileHandle h) {
    return reinterpret_cast<HANDLE>(h);
}
inline FileHandle FromHandle(HANDLE h) {
    return reinterpret_cast<FileHandle>(h);
}

// The name under which an existing file is known, when name differs from it only in letter
// case: a replacement keeps the file's own name. name itself when nothing is there.
std::string ExistingName(const std::string& name);

} // namespace plat::win32
