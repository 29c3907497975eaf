// File contents on POSIX: handles, copying, whole-file reads and atomic replacement.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#include "platform/files.h"
#include "platform/posix/eintr.h"
#include "platform/posix/files_posix.h"
#include "platform/posix/kernel.h"
#include "platform/text.h"

namespace plat {

namespace {

int Fd(FileHandle h) {
    return static_cast<int>(h);
}

std::atomic<uint64_t> Written{0};

// Copies the rest of in to out; inside the kernel where the file systems allow it.
bool CopyData(int in, int out) {
    uint64_t copied = 0;
    const int kernel = posix::KernelCopy(in, out, copied);
    Written += copied;
    if (kernel != 0) return kernel > 0;
    std::vector<char> buffer(size_t(1) << 18);
    for (;;) {
        const ssize_t n =
            posix::RetryInterrupted([&] { return ::read(in, buffer.data(), buffer.size()); });
        if (n < 0) return false;
        if (n == 0) return true;
        if (!posix::WriteAll(out, buffer.data(), static_cast<size_t>(n))) return false;
    }
}

// Flushes a folder so that a rename in it survives a crash. Best effort: some file
// systems refuse fsync on folders.
void SyncDir(const std::string& dir) {
    const posix::TFd fd(
        ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Valid()) ::fsync(fd.Get());
}

// Opens a regular file; st tells of it. A FIFO, socket or device is refused before anything
// reads from it (a read could wait forever), and the open itself does not wait for a FIFO's
// writer. O_NONBLOCK stays: it has no effect on a regular file.
// quietWhenMissing: a missing name only returns -2, with no error recorded.
int OpenRegular(const std::string& name, int flags, struct stat& st,
                bool quietWhenMissing = false) {
    posix::TFd fd(::open(name.c_str(), flags | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid() && quietWhenMissing && (errno == ENOENT || errno == ENOTDIR)) return -2;
    if (!fd.Valid()) {
        posix::FailErrnoOn(name);
        return -1;
    }
    int error = 0;
    if (::fstat(fd.Get(), &st) != 0)
        error = ErrorFromOs(errno);
    else if (!S_ISREG(st.st_mode))
        error = syserr::AccessDenied; // a folder, FIFO, socket or device
    if (error) {
        fd.Reset();
        posix::FailWith(error);
        return -1;
    }
    return fd.Release();
}

// A name of the caller's: the name as given is tried first, since most names exist just
// so; only a missing one is matched without regard to case.
int OpenRegularByName(const std::string& name, int flags, struct stat& st) {
    const int fd = OpenRegular(posix::ToNative(name), flags, st, true);
    return fd != -2 ? fd : OpenRegular(ResolveName(name), flags, st);
}

// Checks that the looked-up name may be replaced: a regular file that is not read-only, a
// symbolic link (the link is what gets replaced, so what it points to does not matter), or
// nothing. exists tells of a regular file only: a new file or a link's replacement takes
// the mode it would take where nothing was.
bool MayReplace(const posix::TLookup& look, bool& exists) {
    exists = look.Exists && !S_ISLNK(look.St.st_mode);
    if (!look.Exists) return look.Error == ENOENT || posix::FailOs(look.Error);
    // No folder, FIFO, socket or device is replaced, and root, whom the kernel lets write
    // anything, must still find the read-only attribute holding.
    if (exists && (!S_ISREG(look.St.st_mode) || posix::IsReadOnlyMode(look.St.st_mode)))
        return posix::FailWith(syserr::AccessDenied);
    return true;
}

// The process's file mode creation mask, read once; -1 where it can't be read.
int CreationMask() {
    static const int mask = posix::ReadCreationMask();
    return mask;
}

// The exact bits whatever the umask: a program that can't be started is no update.
void GiveCreatedMode(int fd, mode_t mode) {
    const int mask = CreationMask();
    if (mask < 0 || (mode & mode_t(mask)) != 0) ::fchmod(fd, mode);
}

mode_t CreatedMode(const std::string& name) {
    return EndsText(".exe", name) ? 0755 : 0644;
}

} // namespace

namespace posix {

bool TFdTraits::Close(int fd) noexcept {
    // Interrupted or not, the descriptor is released: no failure of the file's.
    return ::close(fd) == 0 || errno == EINTR || FailErrno();
}

bool WriteAll(int fd, const void* buffer, size_t count) {
    const char* p = static_cast<const char*>(buffer);
    while (count > 0) {
        const ssize_t n = RetryInterrupted([&] { return ::write(fd, p, count); });
        if (n < 0) return false;
        p += n;
        count -= static_cast<size_t>(n);
        Written += static_cast<uint64_t>(n);
    }
    return true;
}

bool AtomicReplace(const std::string& target, mode_t mode, bool noReplace,
                   const std::function<bool(int fd)>& write) {
    std::string dir = ExtractFilePath(target);
    // A fixed short name: the target's own name may already be near the length limit.
    std::string temp = dir + ".kvtmp.XXXXXX";
    TFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.Valid()) return FailErrnoOn(target);
    bool ok = write(fd.Get()) && ::fchmod(fd.Get(), mode) == 0 && ::fsync(fd.Get()) == 0;
    int saved = errno;
    if (!fd.Close() && ok) {
        ok = false;
        saved = errno;
    }
    if (ok) {
        if (noReplace) {
            ok = RenameNoReplace(temp.c_str(), target.c_str()) == 0;
            if (!ok && (errno == EINVAL || errno == ENOSYS)) {
                // No such rename here: a hard link fails on an existing target just as well.
                ok = ::link(temp.c_str(), target.c_str()) == 0;
                saved = errno;
                ::unlink(temp.c_str());
                if (ok) SyncDir(dir);
                return ok || FailOs(saved);
            }
        } else {
            ok = ::rename(temp.c_str(), target.c_str()) == 0;
        }
        saved = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return FailOs(saved);
    }
    SyncDir(dir);
    return true;
}

} // namespace posix

bool CopyFile(const std::string& src, const std::string& dst, bool failIfExists) {
    struct stat ss;
    posix::TFd in(OpenRegularByName(src, O_RDONLY, ss));
    if (in.Get() < 0) return false;

    const posix::TLookup target = posix::Look(dst);
    bool exists = false;
    if (failIfExists && target.Exists) return posix::FailWith(syserr::AlreadyExists);
    if (!MayReplace(target, exists)) return false;
    mode_t mode = (exists ? target.St.st_mode : ss.st_mode) & 07777;
    ::posix_fadvise(in.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    return posix::AtomicReplace(target.Name, mode, failIfExists, [&](int out) {
        if (!CopyData(in.Get(), out)) return false;
        // As a copy on Windows, the copy carries the source's last write time.
        struct timespec times[2] = {ss.st_atim, ss.st_mtim};
        return ::futimens(out, times) == 0;
    });
}

bool MoveFile(const std::string& src, const std::string& dst, bool srcOnDisk) {
    const posix::TLookup source = posix::Look(src);
    const std::string& from = source.Name;
    const posix::TLookup target = posix::Look(dst);
    bool exists = false;
    const bool replaceable = MayReplace(target, exists);
    const struct stat &ss = source.St, &ds = target.St;
    // The file arrives whole after a power cut too: its data reaches the disk before the
    // rename, by the caller's flush, by ours, or by the file system's own ordering, which
    // holds only for a rename over an existing file.
    const auto flushed = [&](dev_t device) {
        return srcOnDisk || (exists && posix::RenameOverIsOrdered(device));
    };
    // A regular file of the mode it is to have on the target's file system, already safe
    // to rename: nothing to open, change or flush first.
    if (source.Exists && S_ISREG(ss.st_mode) && replaceable &&
        (exists ? ds.st_dev == ss.st_dev && (ds.st_mode & 07777) == (ss.st_mode & 07777)
                : srcOnDisk) &&
        flushed(ss.st_dev) && ::rename(from.c_str(), target.Name.c_str()) == 0)
        return true;
    {
        struct stat st;
        posix::TFd in(OpenRegular(from, O_RDONLY, st));
        if (in.Get() < 0) return false;
        if (!replaceable) return false; // with the reason it recorded
        if (exists && ds.st_dev != st.st_dev) return CopyFile(src, dst, false) && DeleteFile(src);
        mode_t mode = (exists ? ds.st_mode : st.st_mode) & 07777;
        if ((st.st_mode & 07777) != mode && ::fchmod(in.Get(), mode) != 0)
            return posix::FailErrno();
        if (!flushed(st.st_dev) && ::fsync(in.Get()) != 0) return posix::FailErrno();
    }
    if (::rename(from.c_str(), target.Name.c_str()) == 0) return true;
    if (errno != EXDEV) return posix::FailErrno();
    return CopyFile(src, dst, false) && DeleteFile(src);
}

bool FlushNeededBeforeReplace(const std::string& dir) {
    static std::mutex lock;
    static std::map<std::string, bool> known;
    std::lock_guard<std::mutex> hold(lock);
    const auto found = known.find(dir);
    if (found != known.end()) return found->second;
    struct stat st;
    // A folder that can't be looked at is no file system known to order anything.
    const bool needed = ::stat(ResolveName(dir.empty() ? "." : dir).c_str(), &st) != 0 ||
                        !posix::RenameOverIsOrdered(st.st_dev);
    return known[dir] = needed;
}

FileHandle FileOpen(const std::string& name, TOpenMode mode) {
    int flags = mode == TOpenMode::Read ? O_RDONLY : mode == TOpenMode::Write ? O_WRONLY : O_RDWR;
    struct stat st;
    posix::TFd fd(OpenRegularByName(name, flags, st));
    if (!fd.Valid()) return InvalidHandle;
    if (mode != TOpenMode::Read && posix::IsReadOnlyMode(st.st_mode)) {
        fd.Reset();
        posix::FailWith(syserr::AccessDenied);
        return InvalidHandle;
    }
    return fd.Release();
}

FileHandle FileCreatePrivate(const std::string& name) {
    const std::string n = posix::ToNative(name);
    const mode_t mode = CreatedMode(n);
    const int fd = ::open(n.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    // Something is there already, or a folder level needs matching: the whole way then.
    if (fd < 0) return FileCreate(name);
    GiveCreatedMode(fd, mode);
    return fd;
}

FileHandle FileCreate(const std::string& name) {
    const posix::TLookup look = posix::Look(name);
    const std::string& n = look.Name;
    const struct stat& st = look.St;
    bool exists = false;
    if (!MayReplace(look, exists)) return InvalidHandle;
    const mode_t mode = CreatedMode(n);
    const bool program = (mode & S_IXUSR) != 0;
    // A link under the name goes first: truncating through it would write where it points.
    if (look.Exists && S_ISLNK(st.st_mode) && ::unlink(n.c_str()) != 0) {
        posix::FailErrno();
        return InvalidHandle;
    }
    int fd = ::open(n.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0) {
        posix::FailErrnoOn(n);
        return InvalidHandle;
    }
    if (!exists) {
        GiveCreatedMode(fd, mode);
    } else if (program && (st.st_mode & S_IXUSR) == 0) {
        mode_t bits = st.st_mode & 07777;
        ::fchmod(fd, bits | S_IXUSR | ((bits & 0044) >> 2));
    }
    return fd;
}

int64_t FileRead(FileHandle h, void* buffer, size_t count) {
    char* p = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < count) {
        const ssize_t n =
            posix::RetryInterrupted([&] { return ::read(Fd(h), p + done, count - done); });
        if (n < 0) {
            posix::FailErrno();
            return -1;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

int64_t FileWrite(FileHandle h, const void* buffer, size_t count) {
    if (!posix::WriteAll(Fd(h), buffer, count)) {
        posix::FailErrno();
        return -1;
    }
    return static_cast<int64_t>(count);
}

int64_t FileSeek(FileHandle h, int64_t offset, int origin) {
    static const int whence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (origin < 0 || origin > 2) {
        posix::FailWith(syserr::InvalidParameter);
        return -1;
    }
    off_t r = ::lseek(Fd(h), static_cast<off_t>(offset), whence[origin]);
    if (r < 0) posix::FailErrno();
    return r < 0 ? -1 : static_cast<int64_t>(r);
}

bool FileFlush(FileHandle h) {
    return ::fsync(Fd(h)) == 0 || posix::FailErrno();
}

bool FileClose(FileHandle h) {
    if (h == InvalidHandle) return posix::FailWith(syserr::InvalidHandle);
    return posix::TFdTraits::Close(Fd(h));
}

bool FileSetLastWriteTime(FileHandle h, TUnixTime time) {
    const posix::TLastWriteOnly times(time);
    return ::futimens(Fd(h), times.Times) == 0 || posix::FailErrno();
}

void FileAdviseSequential(FileHandle h) {
    ::posix_fadvise(Fd(h), 0, 0, POSIX_FADV_SEQUENTIAL);
}

uint64_t BytesWritten() {
    return Written;
}

bool GetDiskFreeSpace(const std::string& dir, uint64_t& freeBytes) {
    struct statvfs st;
    // The name as given first: a folder the program formed itself exists just so.
    if (::statvfs(posix::ToNative(dir).c_str(), &st) != 0 &&
        ::statvfs(ResolveName(dir).c_str(), &st) != 0)
        return posix::FailErrno();
    freeBytes = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
    return true;
}

void ReportFileSizeLimitAsError() {
    // The write past the limit then fails with EFBIG.
    ::signal(SIGXFSZ, SIG_IGN);
}

bool ReadFileText(const std::string& name, std::string& data, size_t maxBytes) {
    data.clear();
    struct stat st;
    posix::TFd fd(OpenRegularByName(name, O_RDONLY, st));
    if (fd.Get() < 0) return false;
    std::string text;
    if (st.st_size > 0) text.reserve(std::min(static_cast<size_t>(st.st_size), maxBytes));
    char buffer[65536];
    while (text.size() < maxBytes) {
        const ssize_t n = posix::RetryInterrupted([&] {
            return ::read(fd.Get(), buffer, std::min(sizeof buffer, maxBytes - text.size()));
        });
        if (n < 0) return posix::FailErrno();
        if (n == 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    data = std::move(text);
    return true;
}

bool WriteFileAtomic(const std::string& name, const std::string& data) {
    const posix::TLookup look = posix::Look(name);
    bool exists = false;
    if (!MayReplace(look, exists)) return false;
    mode_t mode = exists ? (look.St.st_mode & 07777) : 0644;
    return posix::AtomicReplace(look.Name, mode, false, [&](int fd) {
        return posix::WriteAll(fd, data.data(), data.size());
    });
}

} // namespace plat
