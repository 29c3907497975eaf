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
#include <filesystem>

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
