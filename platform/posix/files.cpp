// Names, folders, attributes and directory entries on POSIX. Windows file names ignore case
// and take "\" between folders; here a name is first tried exactly and only then matched
// level by level without regard to ASCII case, so exact names cost one lstat.
#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "kv_config.h"
#include "platform/posix/files_posix.h"
#include "platform/posix/kernel.h"
#include "platform/text.h"

namespace plat {

namespace {

bool Exists(const std::string& name) {
    struct stat st;
    return ::lstat(name.c_str(), &st) == 0;
}

// Where the levels that need matching without regard to case begin in the native name n,
// which does not exist exactly: after the deepest folder above it that does, found upward,
// since it is usually the folder right above. folder and st tell of that folder when one
// was found.
size_t FirstUnmatchedLevel(const std::string& n, std::string& folder, struct stat& st,
                           bool& found) {
    found = false;
    size_t end = n.find_last_not_of('/');
    while (end != std::string::npos) {
        const size_t sep = n.rfind('/', end);
        if (sep == std::string::npos) return 0; // relative, and no level of it exists
        const size_t above = n.find_last_not_of('/', sep);
        if (above == std::string::npos) return sep + 1; // the root
        folder = n.substr(0, above + 1);
        if (::lstat(folder.c_str(), &st) == 0) {
            found = true;
            return sep + 1;
        }
        end = above;
    }
    return 0;
}

// Drops separators at the end, except the root's own.
std::string StripTrailingDelimiters(std::string n) {
    while (n.size() > 1 && n.back() == '/') n.pop_back();
    return n;
}

// The last component of a native name.
std::string LastComponent(const std::string& native) {
    std::string n = StripTrailingDelimiters(native);
    size_t p = n.rfind('/');
    return p == std::string::npos || n.size() == 1 ? n : n.substr(p + 1);
}

bool StatxEntry(int dirfd, const std::string& path, const std::string& name, TDirEntry& entry) {
    if (!posix::StatEntry(dirfd, path, entry)) return posix::FailErrno();
    entry.Name = name;
    return true;
}

} // namespace

namespace posix {

bool FailErrnoOn(const std::string& name) {
    if (errno != ENOENT) return FailErrno();
    std::string dir = ExtractFilePath(name);
    struct stat st;
    if (!dir.empty() && ::stat(dir.c_str(), &st) != 0) return FailWith(syserr::PathNotFound);
    return FailOs(ENOENT);
}

std::string ToNative(const std::string& name) {
    std::string n = name;
    std::replace(n.begin(), n.end(), '\\', '/');
    return n;
}

} // namespace posix

namespace posix {

TLookup Look(const std::string& name) {
    TLookup look;
    look.Name = ToNative(name);
    if (look.Name.empty()) {
        look.Error = errno = ENOENT;
        return look;
    }
    if (::lstat(look.Name.c_str(), &look.St) == 0) {
        look.Exists = true;
        return look;
    }
    const int missing = errno;
    const std::string& n = look.Name;
    std::string folder;
    struct stat folderStat;
    bool folderFound = false;
    size_t pos = FirstUnmatchedLevel(n, folder, folderStat, folderFound);
    std::string out = n.substr(0, pos);
    // The first level below pos is known not to exist exactly; below a level that does not
    // exist at all nothing can match any more.
    bool known = true, gone = false, changed = false;
    while (pos <= n.size()) {
        size_t end = n.find('/', pos);
        if (end == std::string::npos) end = n.size();
        std::string part = n.substr(pos, end - pos);
        if (!gone && !part.empty() && part != "." && part != ".." &&
            (known || !Exists(out + part))) {
            // The folder found above is where the first level is looked for.
            std::string match =
                posix::FindCaseless(known && folderFound ? folder : out,
                                    known && folderFound ? &folderStat : nullptr, part);
            if (match.empty()) {
                gone = true;
            } else {
                changed = changed || match != part;
                part = match;
            }
        }
        known = false;
        out += part;
        if (end < n.size()) out += '/';
        pos = end + 1;
    }
    look.Name = out;
    if (changed)
        look.Exists = ::lstat(look.Name.c_str(), &look.St) == 0;
    else
        errno = missing;
    if (!look.Exists) look.Error = errno;
    return look;
}

} // namespace posix

std::string ResolveName(const std::string& name) {
    return posix::Look(name).Name;
}

std::string ExpandFileName(const std::string& name) {
    std::string n = posix::ToNative(name);
    if (n.empty()) return n;
    if (n[0] != '/') n = GetCurrentDir() + "/" + n;
    std::vector<std::string> parts;
    size_t pos = 0;
    while (pos <= n.size()) {
        size_t end = n.find('/', pos);
        if (end == std::string::npos) end = n.size();
        std::string part = n.substr(pos, end - pos);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        pos = end + 1;
    }
    std::string out;
    for (const std::string& part : parts) out += "/" + part;
    if (out.empty()) return "/";
    if (n.back() == '/') out += '/';
    return out;
}

namespace {

// What stat tells of the name: the lookup's own answer unless the name is a link.
bool StatFollowing(const std::string& name, struct stat& st) {
    posix::TLookup look = posix::Look(name);
    if (!look.Exists) return posix::FailErrno();
    if (S_ISLNK(look.St.st_mode) && ::stat(look.Name.c_str(), &look.St) != 0)
        return posix::FailErrno();
    st = look.St;
    return true;
}

} // namespace

bool FileExists(const std::string& name) {
    struct stat st;
    return StatFollowing(name, st) &&
           (S_ISREG(st.st_mode) || posix::FailWith(syserr::AccessDenied));
}

bool DirectoryExists(const std::string& name) {
    struct stat st;
    return StatFollowing(name, st) && S_ISDIR(st.st_mode);
}

bool ForceDirectories(const std::string& dir) {
    std::string n = StripTrailingDelimiters(ResolveName(dir));
    if (n.empty()) return posix::FailWith(syserr::FileNotFound);
    struct stat st;
    if (::stat(n.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) || posix::FailWith(syserr::PathNotFound);
    size_t p = n.rfind('/');
    if (p != std::string::npos && p > 0 && !ForceDirectories(n.substr(0, p))) return false;
    if (::mkdir(n.c_str(), 0755) == 0) return true;
    // Someone else may have made it in the meantime.
    return (errno == EEXIST && ::stat(n.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ||
           posix::FailErrno();
}

namespace {

// Walks the levels of the relative folder dir under base, making missing ones when create
// is set. A level that is a symbolic link is followed only while it stays inside base.
// Without create the walk ends, content, at the first level that is missing or no folder.
bool WalkWithin(const std::string& base, const std::string& dir, bool create) {
    if (!DirectoryExists(base)) {
        if (!create) return true;
        if (!ForceDirectories(base)) return false;
    }
    if (dir.find_first_not_of("\\/.") == std::string::npos && dir.find("..") == std::string::npos)
        return true; // no level to walk
    char* real = ::realpath(ResolveName(base).c_str(), nullptr);
    if (!real) return posix::FailErrno();
    const std::string root = real;
    std::free(real);
    const std::string native = posix::ToNative(dir);
    std::string level = StripTrailingDelimiters(ResolveName(base));
    size_t pos = 0;
    while (pos < native.size()) {
        size_t end = native.find('/', pos);
        if (end == std::string::npos) end = native.size();
        const std::string part = native.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") return posix::FailWith(syserr::AccessDenied);
        level = ResolveName(level + "/" + part);
        struct stat st;
        if (::lstat(level.c_str(), &st) != 0) {
            if (errno != ENOENT) return posix::FailErrno();
            if (!create) return true;
            if (::mkdir(level.c_str(), 0755) == 0) continue;
            if (errno != EEXIST || ::lstat(level.c_str(), &st) != 0) return posix::FailErrno();
        }
        if (S_ISLNK(st.st_mode)) {
            char* target = ::realpath(level.c_str(), nullptr);
            if (!target) return create ? posix::FailErrno() : true; // a dangling link
            const std::string t = target;
            std::free(target);
            const bool inside =
                t == root || (t.compare(0, root.size(), root) == 0 &&
                              (root == "/" || (t.size() > root.size() && t[root.size()] == '/')));
            if (!inside) return posix::FailWith(syserr::AccessDenied);
            if (::stat(level.c_str(), &st) != 0) return posix::FailErrno();
        }
        if (!S_ISDIR(st.st_mode)) return !create || posix::FailWith(syserr::PathNotFound);
    }
    return true;
}

} // namespace

bool ForceDirectoriesWithin(const std::string& base, const std::string& dir) {
    return WalkWithin(base, dir, true);
}

bool FoldersStayWithin(const std::string& base, const std::string& dir) {
    return WalkWithin(base, dir, false);
}

bool CreateDir(const std::string& dir) {
    std::string n = StripTrailingDelimiters(ResolveName(dir));
    if (n.empty()) return posix::FailWith(syserr::FileNotFound);
    return ::mkdir(n.c_str(), 0755) == 0 || posix::FailErrno();
}

bool DeleteFile(const std::string& name) {
    const posix::TLookup look = posix::Look(name);
    if (!look.Exists) return posix::FailErrno();
    const mode_t mode = look.St.st_mode;
    if (S_ISDIR(mode)) return posix::FailWith(syserr::AccessDenied);
    // The kernel lets root unlink anything; the read-only attribute must still hold.
    if (!S_ISLNK(mode) && posix::IsReadOnlyMode(mode)) return posix::FailWith(syserr::AccessDenied);
    return ::unlink(look.Name.c_str()) == 0 || posix::FailErrno();
}

bool RemoveDir(const std::string& dir) {
    std::string n = StripTrailingDelimiters(ResolveName(dir));
    if (n.empty()) return posix::FailWith(syserr::FileNotFound);
    return ::rmdir(n.c_str()) == 0 || posix::FailErrno();
}

bool RenameFile(const std::string& from, const std::string& to) {
    const posix::TLookup src = posix::Look(from);
    if (!src.Exists) return posix::FailErrno();
    const struct stat& ss = src.St;
    // The target keeps the name as given, in its folder as resolved; like a move on Windows
    // it must not replace another file, but a change of case of the same file is allowed.
    const posix::TLookup resolved = posix::Look(to);
    const std::string dst = ExtractFilePath(resolved.Name) + ExtractFileName(posix::ToNative(to));
    auto other = [&](const struct stat& ds) {
        return ds.st_dev != ss.st_dev || ds.st_ino != ss.st_ino;
    };
    if (resolved.Exists && other(resolved.St)) return posix::FailWith(syserr::AlreadyExists);
    struct stat ds;
    if (dst != resolved.Name && ::lstat(dst.c_str(), &ds) == 0 && other(ds))
        return posix::FailWith(syserr::AlreadyExists);
    return ::rename(src.Name.c_str(), dst.c_str()) == 0 || posix::FailErrno();
}

bool RenameFilePrivate(const std::string& from, const std::string& to) {
    const std::string source = posix::ToNative(from), target = posix::ToNative(to);
    if (posix::RenameNoReplace(source.c_str(), target.c_str()) == 0) return true;
    if (errno == EEXIST) return posix::FailWith(syserr::AlreadyExists);
    // No such rename on this file system, or a folder level that needs matching.
    return RenameFile(from, to);
}

// Read-only folders and files both report faReadOnly; a file that is not read-only reports
// faArchive, as freshly written files do on Windows. faNormal is never reported. A link
// reports a folder or a file after what it points to, and is never read-only itself.
uint32_t GetFileAttributes(const std::string& name) {
    const posix::TLookup look = posix::Look(name);
    if (!look.Exists) {
        posix::FailErrno();
        return InvalidFileAttributes;
    }
    const struct stat& st = look.St;
    if (S_ISLNK(st.st_mode)) {
        struct stat target;
        return ::stat(look.Name.c_str(), &target) == 0 && S_ISDIR(target.st_mode) ? faDirectory
                                                                                  : faArchive;
    }
    uint32_t attributes = S_ISDIR(st.st_mode) ? faDirectory : faArchive;
    if (posix::IsReadOnlyMode(st.st_mode)) attributes |= faReadOnly;
    return attributes;
}

// Setting read-only removes every write bit; clearing it gives the owner write permission
// back. The other attributes have no POSIX meaning. A link has no bits of its own to change,
// and what it points to is not the name's to change.
bool SetFileAttributes(const std::string& name, uint32_t attributes) {
    const posix::TLookup look = posix::Look(name);
    if (!look.Exists) return posix::FailErrno();
    if (S_ISLNK(look.St.st_mode)) return true;
    mode_t mode = look.St.st_mode & 07777;
    mode_t wanted =
        (attributes & faReadOnly) ? mode & ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH) : mode | S_IWUSR;
    if (wanted == mode) return true;
    return ::chmod(look.Name.c_str(), wanted) == 0 || posix::FailErrno();
}

std::string GetCurrentDir() {
    std::string buffer(256, '\0');
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size())) {
            buffer.resize(std::strlen(buffer.c_str()));
            return StripTrailingDelimiters(buffer);
        }
        if (errno != ERANGE) {
            posix::FailErrno();
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool SetCurrentDir(const std::string& dir) {
    std::string n = ResolveName(dir);
    if (n.empty()) return posix::FailWith(syserr::FileNotFound);
    return ::chdir(n.c_str()) == 0 || posix::FailErrno();
}

std::string ProgramFileName() {
    std::string name = posix::OwnProgramPath();
    if (name.empty()) {
        posix::FailErrno();
        return {};
    }
    // Once our file has been replaced (a self-update) the kernel marks the name; the
    // program's name is still the one without the mark.
    static const std::string deleted = " (deleted)";
    if (name.size() > deleted.size() &&
        name.compare(name.size() - deleted.size(), deleted.size(), deleted) == 0 && !Exists(name))
        name.resize(name.size() - deleted.size());
    return name;
}

std::string ProgramDir() {
    return ExtractFilePath(ProgramFileName());
}

std::string TempFolder() {
    const char* dir = std::getenv("TMPDIR");
    return IncludeTrailingPathDelimiter(dir && *dir ? dir : "/tmp");
}

// The folder the packages install the updater into (/opt/kestavorin unless the build says
// otherwise).
std::string StandardProductDir() {
    return KV_PRODUCT_DIR;
}

bool FindEntry(const std::string& name, TDirEntry& entry) {
    std::string n = ResolveName(name);
    if (n.empty()) return posix::FailWith(syserr::FileNotFound);
    return StatxEntry(AT_FDCWD, n, LastComponent(n), entry);
}

bool ListDirectory(const std::string& dir, std::vector<TDirEntry>& entries) {
    entries.clear();
    std::string n = ResolveName(dir);
    DIR* d = ::opendir(n.empty() ? "." : n.c_str());
    if (!d) return posix::FailErrno();
    int fd = ::dirfd(d);
    while (struct dirent* e = ::readdir(d)) {
        std::string entryName = e->d_name;
        if (entryName == "." || entryName == "..") continue;
        TDirEntry entry;
        // An entry removed while we list is simply not reported.
        if (StatxEntry(fd, entryName, entryName, entry)) entries.push_back(std::move(entry));
    }
    ::closedir(d);
    std::sort(entries.begin(), entries.end(),
              [](const TDirEntry& a, const TDirEntry& b) { return a.Name < b.Name; });
    return true;
}

bool SetFileLastWriteTime(const std::string& name, TUnixTime time) {
    const posix::TLastWriteOnly times(time);
    return ::utimensat(AT_FDCWD, ResolveName(name).c_str(), times.Times, 0) == 0 ||
           posix::FailErrno();
}

} // namespace plat
