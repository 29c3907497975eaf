#include "tests/support/disk.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/fanotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "tests/support/support.h"

namespace kvtest {

TTmpfs::TTmpfs(const std::string& dir, uint64_t bytes)
    : FDir(dir), FOptions("size=" + std::to_string(bytes) + ",mode=0755") {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    FMounted = ::mount("tmpfs", dir.c_str(), "tmpfs", 0, FOptions.c_str()) == 0;
}

TTmpfs::~TTmpfs() {
    // Detached: a program still running from it must not keep it mounted.
    if (FMounted) ::umount2(FDir.c_str(), MNT_DETACH);
}

uint64_t TTmpfs::FreeBytes() const {
    struct statvfs st;
    if (::statvfs(FDir.c_str(), &st) != 0) return 0;
    return static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
}

bool TTmpfs::SetReadOnly(bool readOnly) {
    unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
    return ::mount("tmpfs", FDir.c_str(), "tmpfs", flags, FOptions.c_str()) == 0;
}

bool TTmpfs::Fill(uint64_t leaveFree) {
    uint64_t free = FreeBytes();
    if (free <= leaveFree) return true;
    const std::string folder = FDir + "/.filler";
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) return false;
    int fd = ::open((folder + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 &&
              ::posix_fallocate(fd, st.st_size, static_cast<off_t>(free - leaveFree)) == 0;
    ::close(fd);
    return ok;
}

namespace {

std::string Quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

bool FsyncPath(const std::string& name, int flags = O_RDONLY) {
    int fd = ::open(name.c_str(), flags | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// The generation of a btrfs file system's last committed transaction; -1 when unknown.
long long CommittedGeneration(const std::string& device) {
    std::string out;
    if (RunCommand("btrfs inspect-internal dump-super " + Quoted(device) +
                       " | awk '$1 == \"generation\" {print $2}'",
                   &out) != 0)
        return -1;
    return out.empty() ? -1 : std::atoll(out.c_str());
}

} // namespace

TLoopDisk::TLoopDisk(const std::string& dir, const std::string& imageFolder, const TKind& kind)
    : FDir(dir), FImage(imageFolder + "disk.img"), FKind(kind) {
    if (::geteuid() != 0) {
        FFailure = "loop-mounting a file system needs root";
        return;
    }
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    std::string out;
    // 320 MiB: the least xfs takes. Sparse, so it costs what is written.
    if (RunCommand("truncate -s 320M " + Quoted(FImage) + " && set -- " + Quoted(FImage) +
                       " && { " + kind.Make + "; } 2>&1",
                   &out) != 0) {
        FFailure = std::string("making ") + kind.Name + " failed: " + out;
        return;
    }
    Mount(FImage);
}

TLoopDisk::~TLoopDisk() {
    if (FMounted) RunCommand("umount " + Quoted(FDir) + " || umount -l " + Quoted(FDir));
    std::error_code ec;
    std::filesystem::remove(FImage, ec);
}

bool TLoopDisk::Mount(const std::string& image) {
    std::string options = "loop";
    if (*FKind.Options) options += std::string(",") + FKind.Options;
    std::string out;
    if (RunCommand("mount -o " + options + " " + Quoted(image) + " " + Quoted(FDir) + " 2>&1",
                   &out) != 0) {
        FFailure = "mounting " + std::string(FKind.Name) + " failed: " + out;
        return false;
    }
    FMounted = true;
    RunCommand("findmnt -n -o SOURCE " + Quoted(FDir), &out);
    FDevice = out.substr(0, out.find('\n'));
    return true;
}

bool TLoopDisk::Sync() const {
    return RunCommand("sync -f " + Quoted(FDir) + " && sync") == 0;
}

bool TLoopDisk::PowerCut() {
    const long long generation = FKind.WaitsForCommit ? CommittedGeneration(FDevice) : -1;
    // A flush of a file of its own commits the journal or the log, which holds every rename
    // made before it; the device's own buffers hold the metadata of a file system without one.
    const std::string own = FDir + "/.power-cut";
    WriteFile(own, "x");
    if (!FsyncPath(own) || !FsyncPath(FDevice)) return false;
    if (FKind.WaitsForCommit) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (CommittedGeneration(FDevice) <= generation) {
            if (generation < 0 || std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    // The disk as it is now; then the machine comes back with it.
    const std::string after = FImage + ".after";
    if (RunCommand("cp --sparse=always " + Quoted(FImage) + " " + Quoted(after)) != 0 ||
        RunCommand("umount " + Quoted(FDir)) != 0)
        return false;
    FMounted = false;
    std::error_code ec;
    std::filesystem::rename(after, FImage, ec);
    return !ec && Mount(FImage);
}

TOpenHook::TOpenHook(const std::string& dir, THandler handler) : FHandler(std::move(handler)) {
    int fan =
        ::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC | FAN_NONBLOCK, O_RDONLY | O_LARGEFILE);
    if (fan < 0) return;
    if (::fanotify_mark(fan, FAN_MARK_ADD, FAN_OPEN_PERM | FAN_EVENT_ON_CHILD, AT_FDCWD,
                        dir.c_str()) != 0) {
        ::close(fan);
        return;
    }
    FFanotify = fan;
    FStop = ::eventfd(0, EFD_CLOEXEC);
    FThread = std::thread([this] { Serve(); });
}

TOpenHook::~TOpenHook() {
    if (FFanotify < 0) return;
    uint64_t one = 1;
    (void)!::write(FStop, &one, sizeof one);
    FThread.join();
    ::close(FStop);
    ::close(FFanotify);
}

void TOpenHook::Serve() {
    alignas(fanotify_event_metadata) char buffer[4096];
    for (;;) {
        pollfd fds[2] = {{FFanotify, POLLIN, 0}, {FStop, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if (fds[1].revents) return;
        ssize_t n = ::read(FFanotify, buffer, sizeof buffer);
        if (n <= 0) continue;
        auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer);
        for (; FAN_EVENT_OK(event, n); event = FAN_EVENT_NEXT(event, n)) {
            if (event->fd < 0) continue;
            if (event->pid != ::getpid()) {
                char path[4096];
                std::string link = "/proc/self/fd/" + std::to_string(event->fd);
                ssize_t len = ::readlink(link.c_str(), path, sizeof path - 1);
                std::string name = len > 0 ? std::string(path, size_t(len)) : std::string();
                name = name.substr(name.rfind('/') + 1);
                struct stat st {};
                ::fstat(event->fd, &st);
                try {
                    FHandler(name, static_cast<uint64_t>(st.st_size));
                } catch (...) {
                }
            }
            fanotify_response response{event->fd, FAN_ALLOW};
            (void)!::write(FFanotify, &response, sizeof response);
            ::close(event->fd);
        }
    }
}

} // namespace kvtest
