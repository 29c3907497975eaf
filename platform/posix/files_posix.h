#pragma once
// Helpers shared by the POSIX file, profile and shell implementations. Not a public header:
// subsystem code uses platform/files.h.
#include <sys/stat.h>

#include <functional>
#include <string>

namespace plat::posix {

// Sets the thread's last error to errno's current value and returns false.
bool FailErrno();
// Sets the thread's last error to code and returns false.
bool Fail(int code);

// "\" becomes "/"; nothing else changes.
std::string ToNative(const std::string& name);

// Calls write(fd) on a fresh temporary file in target's folder; when it returns true the
// data is flushed to disk, the file gets mode and replaces target in one rename. With
// noReplace an existing target is left alone and the call fails with EEXIST.
bool AtomicReplace(const std::string& target, mode_t mode, bool noReplace,
                   const std::function<bool(int fd)>& write);

// Writes all of count bytes, retrying after interruptions and short writes.
bool WriteAll(int fd, const void* buffer, size_t count);

// True when the owner's write permission bit is missing (the read-only attribute).
inline bool IsReadOnlyMode(mode_t mode) {
    return (mode & S_IWUSR) == 0;
}

} // namespace plat::posix
