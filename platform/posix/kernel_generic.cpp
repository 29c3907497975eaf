// The kernel side of a POSIX system that is not Linux: plain POSIX where it has an answer,
// nothing where it has none (no copy inside the kernel, no kept folders, no ordering known,
// so every replaced file is flushed).
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/kernel.h"

namespace plat::posix {

int KernelCopy(int, int, uint64_t&) {
    return 0;
}

int RenameNoReplace(const char* from, const char* to) {
    // A hard link fails on an existing target; the old name goes once the new one holds.
    if (::link(from, to) != 0) return -1;
    ::unlink(from);
    return 0;
}

int ReadCreationMask() {
    return -1;
}

std::string OwnProgramPath() {
    errno = ENOSYS;
    return {};
}

bool StatEntry(int dirfd, const std::string& path, TDirEntry& entry) {
    struct stat st;
    if (::fstatat(dirfd, path.c_str(), &st, 0) != 0) return false;
    entry.IsDirectory = S_ISDIR(st.st_mode);
    entry.Size = entry.IsDirectory ? 0 : static_cast<uint64_t>(st.st_size);
    entry.HasCreation = false;
    entry.Creation = TUnixTime{};
    entry.LastWrite = TUnixTime{st.st_mtim.tv_sec, static_cast<int32_t>(st.st_mtim.tv_nsec)};
    entry.LastAccess = TUnixTime{st.st_atim.tv_sec, static_cast<int32_t>(st.st_atim.tv_nsec)};
    return true;
}

bool RenameOverIsOrdered(dev_t) {
    return false;
}

bool CachedCaseless(const std::string&, const struct stat&, const std::string&, std::string&) {
    return false;
}

} // namespace plat::posix
