// The Linux calls the POSIX side uses where Linux has them: a copy inside the kernel, a rename
// that does not replace, the creation mask and the program's file from /proc, and birth times.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/posix/eintr.h"
#include "platform/posix/kernel.h"

namespace plat::posix {

namespace {

TUnixTime FromStatx(const struct statx_timestamp& t) {
    return TUnixTime{t.tv_sec, static_cast<int32_t>(t.tv_nsec)};
}

} // namespace

int KernelCopy(int in, int out, uint64_t& copied) {
    for (;;) {
        const ssize_t n = RetryInterrupted(
            [&] { return ::copy_file_range(in, nullptr, out, nullptr, size_t(1) << 30, 0); });
        if (n > 0) {
            copied += static_cast<uint64_t>(n);
            continue;
        }
        if (n == 0) return 1;
        // Between file systems, or on one that can't: copy_file_range moves no data then.
        if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)
            return copied == 0 ? 0 : -1;
        return -1;
    }
}

int RenameNoReplace(const char* from, const char* to) {
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

int ReadCreationMask() {
    std::string status;
    if (!ReadFileText("/proc/self/status", status, 1 << 16)) return -1;
    const size_t at = status.find("\nUmask:");
    return at == std::string::npos ? -1
                                   : static_cast<int>(std::strtol(&status[at + 7], nullptr, 8));
}

std::string OwnProgramPath() {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return {};
        if (static_cast<size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<size_t>(n));
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool StatEntry(int dirfd, const std::string& path, TDirEntry& entry) {
    struct statx sx;
    if (::statx(dirfd, path.c_str(), AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME, &sx) !=
        0)
        return false;
    entry.IsDirectory = S_ISDIR(sx.stx_mode);
    entry.Size = entry.IsDirectory ? 0 : sx.stx_size;
    entry.HasCreation = (sx.stx_mask & STATX_BTIME) != 0;
    entry.Creation = entry.HasCreation ? FromStatx(sx.stx_btime) : TUnixTime{};
    entry.LastWrite = FromStatx(sx.stx_mtime);
    entry.LastAccess = FromStatx(sx.stx_atime);
    return true;
}

} // namespace plat::posix
