// Lookups without regard to case in folders read once and then kept current by the kernel's
// change notifications (inotify): a lookup of a missing name in a folder the program works in
// costs one read of the notifications, not a reading of the folder. Only folders on local file
// systems are kept: a network file system does not tell of other machines' changes. Beside
// the plain lookup of folder_names.cpp, never in its place.
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "platform/posix/files_posix.h"
#include "platform/posix/kernel.h"
#include "platform/text.h"

namespace plat::posix {

namespace {

using TNames = std::set<std::string>; // in byte order: the first match is the one wanted

// The names of the open folder fd, without "." and "..", in one pass of large reads.
bool ReadNames(int fd, TNames& names) {
    alignas(8) char buffer[32768];
    for (;;) {
        const ssize_t n = ::getdents64(fd, buffer, sizeof buffer);
        if (n < 0) return false;
        if (n == 0) return true;
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const struct dirent64*>(buffer + at);
            at += e->d_reclen;
            const std::string_view entry = e->d_name;
            if (entry != "." && entry != "..") names.emplace(entry);
        }
    }
}

bool LocalFileSystem(int fd) {
    struct statfs fs;
    if (::fstatfs(fd, &fs) != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case EXT4_SUPER_MAGIC: // ext2 and ext3 too
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case TMPFS_MAGIC:
    case F2FS_SUPER_MAGIC:
        return true;
    default:
        return false;
    }
}

class TFolders {
public:
    // The match of name in the folder dir, whose lstat is st; false when the folder can't be
    // kept (match is then not set).
    bool Find(const std::string& dir, const struct stat& st, const std::string& name,
              std::string& match) {
        std::lock_guard<std::mutex> hold(FLock);
        if (!S_ISDIR(st.st_mode) || !Started()) return false;
        Drain();
        TFolder* f = nullptr;
        for (TFolder& folder : FFolders)
            if (folder.Path == dir) f = &folder;
        if (f && (f->Device != st.st_dev || f->Inode != st.st_ino)) {
            Drop(*f);
            f = nullptr;
        }
        if (!f && !(f = Read(dir, st))) return false;
        f->Used = ++FClock;
        match.clear();
        // The names that differ only in case stand together, in byte order.
        const std::string key = LowerCase(name);
        for (auto i = f->Names.lower_bound({key, {}});
             i != f->Names.end() && i->first.first == key;) {
            if (i->second && !StillThere(dir, i->first.second)) {
                i = f->Names.erase(i);
                --f->Uncertain;
                continue;
            }
            if (i->second) --f->Uncertain;
            i->second = false;
            match = i->first.second;
            break;
        }
        return true;
    }

private:
    // A name and its lower-cased form, which leads, so that a lookup finds its matches at
    // once. Mapped to true while the name is uncertain: it was moved away, but a move out can
    // leave the name there (an exchange of two names, a whiteout left in its place), and
    // nothing tells which: a lookup that would answer with it looks at it first.
    using TKnown = std::map<std::pair<std::string, std::string>, bool>;
    struct TFolder {
        std::string Path;
        dev_t Device = 0;
        ino_t Inode = 0;
        int Watch = -1;
        TKnown Names;
        size_t Uncertain = 0;
        uint64_t Used = 0;
    };
    static constexpr size_t MaxFolders = 8;
    // Uncertain names of a folder the program keeps moving files out of pile up: past this
    // many, the folder is read afresh when next it is needed.
    static constexpr size_t MaxUncertain = 4096;

    static bool StillThere(const std::string& dir, const std::string& name) {
        struct stat st;
        return ::lstat((dir + "/" + name).c_str(), &st) == 0 ||
               (errno != ENOENT && errno != ENOTDIR);
    }
    static constexpr uint32_t Changes = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                        IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW;

    bool Started() {
        if (FFd == -1) FFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (FFd < 0) FFd = -2; // not available here: never tried again
        return FFd >= 0;
    }

    // Watches the folder first and reads it then, so no change falls between the two.
    TFolder* Read(const std::string& dir, const struct stat& st) {
        const int watch = ::inotify_add_watch(FFd, dir.c_str(), Changes);
        if (watch < 0) return nullptr;
        // The same folder known by another path: one record of its names is enough.
        for (size_t i = FFolders.size(); i-- > 0;)
            if (FFolders[i].Watch == watch) {
                FFolders[i].Watch = -1;
                Drop(FFolders[i]);
            }
        const TFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        TFolder folder;
        struct stat opened;
        TNames names;
        const bool ok = fd.Valid() && ::fstat(fd.Get(), &opened) == 0 &&
                        opened.st_dev == st.st_dev && opened.st_ino == st.st_ino &&
                        LocalFileSystem(fd.Get()) && ReadNames(fd.Get(), names);
        for (const std::string& entry : names) folder.Names.emplace(Key(entry), false);
        if (!ok) {
            ::inotify_rm_watch(FFd, watch);
            return nullptr;
        }
        folder.Path = dir;
        folder.Device = st.st_dev;
        folder.Inode = st.st_ino;
        folder.Watch = watch;
        if (FFolders.size() >= MaxFolders) {
            auto oldest = FFolders.begin();
            for (auto i = FFolders.begin(); i != FFolders.end(); ++i)
                if (i->Used < oldest->Used) oldest = i;
            Drop(*oldest);
        }
        FFolders.push_back(std::move(folder));
        return &FFolders.back();
    }

    void Drop(TFolder& folder) {
        if (folder.Watch >= 0) ::inotify_rm_watch(FFd, folder.Watch);
        std::swap(folder, FFolders.back());
        FFolders.pop_back();
    }

    static std::pair<std::string, std::string> Key(const std::string& name) {
        return {LowerCase(name), name};
    }

    // One change of a name in the folder.
    static void Apply(TFolder& f, uint32_t mask, const std::string& name) {
        if (mask & (IN_CREATE | IN_MOVED_TO)) {
            auto [i, added] = f.Names.emplace(Key(name), false);
            if (!added && i->second) --f.Uncertain;
            i->second = false;
        } else if (mask & IN_DELETE) {
            auto i = f.Names.find(Key(name));
            if (i == f.Names.end()) return;
            if (i->second) --f.Uncertain;
            f.Names.erase(i);
        } else if (mask & IN_MOVED_FROM) {
            auto i = f.Names.find(Key(name));
            if (i == f.Names.end() || i->second) return;
            i->second = true;
            ++f.Uncertain;
        }
    }

    // Applies every change the kernel has told of since the last time.
    void Drain() {
        alignas(struct inotify_event) char buffer[16384];
        for (;;) {
            const ssize_t n = ::read(FFd, buffer, sizeof buffer);
            if (n <= 0) return; // nothing more (EAGAIN)
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const struct inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof *e + e->len);
                if (e->mask & IN_Q_OVERFLOW) {
                    while (!FFolders.empty()) Drop(FFolders.back());
                    continue;
                }
                for (TFolder& f : FFolders) {
                    if (f.Watch != e->wd) continue;
                    if (e->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT)) {
                        if (e->mask & IN_IGNORED) f.Watch = -1;
                        Drop(f);
                    } else if (e->len > 0) {
                        Apply(f, e->mask, e->name);
                        if (f.Uncertain > MaxUncertain) Drop(f);
                    }
                    break;
                }
            }
            // Less than the room for one more event: the queue was empty.
            if (size_t(n) + sizeof(struct inotify_event) + NAME_MAX + 1 <= sizeof buffer) return;
        }
    }

    std::mutex FLock;
    int FFd = -1;
    std::vector<TFolder> FFolders;
    uint64_t FClock = 0;
};

TFolders& Folders() {
    static TFolders* folders = new TFolders; // lives until the process ends
    return *folders;
}

} // namespace

bool CachedCaseless(const std::string& dir, const struct stat& st, const std::string& name,
                    std::string& match) {
    return Folders().Find(dir, st, name, match);
}

} // namespace plat::posix
