#pragma once
// The private header of the POSIX side: the helpers its files, shell and error code share.
// Not for subsystem code, which uses the headers of platform/.
#include <sys/stat.h>

#include <functional>
#include <string>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/handle.h"

namespace plat::posix {

// Each sets the thread's last error and returns false: to errno's current value, to the
// error number osCode (both mapped by ErrorFromOs), or to code of the Windows numbering.
bool FailErrno();
bool FailOs(int osCode);
bool FailWith(int code);
// As FailErrno, but a missing name whose folder is missing too is syserr::PathNotFound, as
// Windows tells the two apart and errno does not.
bool FailErrnoOn(const std::string& name);

// "\" becomes "/"; nothing else changes.
std::string ToNative(const std::string& name);

// A name resolved as ResolveName does, with what lstat tells of it: most calls need both,
// and the lookup has the answer already. When the name does not exist, Error (and errno,
// right after the call) says why.
struct TLookup {
    std::string Name;
    struct stat St {};
    bool Exists = false;
    int Error = 0; // errno of the lookup of a name that does not exist
};
TLookup Look(const std::string& name);

// The entry of the folder dir whose name equals name without regard to ASCII case; the
// first in byte order when several do; empty when there is none. st, the folder's lstat
// when the caller has it, lets a folder the program keeps looking in be read only once.
std::string FindCaseless(const std::string& dir, const struct stat* st, const std::string& name);

// Calls write(fd) on a fresh temporary file in target's folder; when it returns true the
// data is flushed to disk, the file gets mode and replaces target in one rename. With
// noReplace an existing target is left alone and the call fails with AlreadyExists.
bool AtomicReplace(const std::string& target, mode_t mode, bool noReplace,
                   const std::function<bool(int fd)>& write);

// How the handle owner closes a file descriptor: one interrupted by a signal is released all
// the same, so no failure.
struct TFdTraits {
    using TValue = int;
    static TValue Invalid() noexcept { return -1; }
    static bool Close(TValue fd) noexcept;
};
// A file descriptor of the POSIX side's own, closed when the object goes away.
using TFd = THandle<TFdTraits>;

// Writes all of count bytes, retrying after interruptions and short writes.
bool WriteAll(int fd, const void* buffer, size_t count);

// The times utimensat and futimens take to set the last write time and leave the last
// access time as it is.
struct TLastWriteOnly {
    struct timespec Times[2];
    explicit TLastWriteOnly(TUnixTime t)
        : Times{{0, UTIME_OMIT}, {static_cast<time_t>(t.Seconds), t.Nanoseconds}} {}
};

// True when the owner's write permission bit is missing (the read-only attribute).
inline bool IsReadOnlyMode(mode_t mode) {
    return (mode & S_IWUSR) == 0;
}

} // namespace plat::posix
