// Names, folders, attributes and directory entries on the Win32 file API. The system's names
// ignore case and take "\" and "/" alike, so a name is handed over as given (with native
// separators); the system finds it, and a listing shows it as it is stored.
#include "platform/files.h"

#include <algorithm>
#include <vector>

#include "platform/text.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_handles.h"

namespace plat {

namespace win32 {

std::string Native(const std::string& name) {
    std::string n = name;
    std::replace(n.begin(), n.end(), '/', '\\');
    return n;
}

namespace {
// 100 ns intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t EpochDifference = 116444736000000000LL;
} // namespace

bool ToFileTime(TUnixTime t, FILETIME& ft) {
    const int64_t ticks = t.Seconds * 10000000LL + t.Nanoseconds / 100 + EpochDifference;
    if (t.Seconds < -EpochDifference / 10000000LL || ticks < 0) return false;
    ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
    ft.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
    return true;
}

TUnixTime FromFileTime(const FILETIME& ft) {
    const int64_t ticks =
        static_cast<int64_t>(uint64_t(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) -
        EpochDifference;
    int64_t seconds = ticks / 10000000LL, rest = ticks % 10000000LL;
    if (rest < 0) {
        --seconds;
        rest += 10000000LL;
    }
    return TUnixTime{seconds, static_cast<int32_t>(rest * 100)};
}

std::string ExistingName(const std::string& name) {
    const std::string n = Native(name);
    if (n.find_first_of("*?") != std::string::npos) return n;
    WIN32_FIND_DATAA found;
    const TFind find(::FindFirstFileA(n.c_str(), &found));
    if (!find.Valid()) return n;
    return ExtractFilePath(n) + found.cFileName;
}

} // namespace win32

namespace {

using win32::Native;

// Drops separators at the end, but the one of a root ("\" or "c:\").
std::string StripTrailingDelimiters(std::string n) {
    while (n.size() > 1 && IsPathDelimiter(n.back()) && !(n.size() == 3 && n[1] == ':'))
        n.pop_back();
    return n;
}

DWORD Attributes(const std::string& name) {
    return ::GetFileAttributesA(Native(name).c_str());
}

// The name's path as the system resolves it, links and junctions followed: "\\?\c:\...".
// Empty when it can't be opened.
std::string FinalPath(const std::string& name) {
    const win32::TKernelHandle h(::CreateFileA(
        Native(name).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h.Valid()) return {};
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD n =
            ::GetFinalPathNameByHandleA(h.Get(), path.data(), static_cast<DWORD>(path.size()), 0);
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(n + 1);
    }
}

bool Inside(const std::string& path, const std::string& root) {
    if (path.size() < root.size() || !SameText(path.substr(0, root.size()), root)) return false;
    return path.size() == root.size() || IsPathDelimiter(root.back()) ||
           IsPathDelimiter(path[root.size()]);
}

// Walks the levels of the relative folder dir under base, making missing ones when create is
// set. A level that resolves to a place outside base (a symbolic link or junction) is never
// followed. Without create the walk ends, content, at the first level that is missing or no
// folder.
bool WalkWithin(const std::string& base, const std::string& dir, bool create) {
    if (!DirectoryExists(base)) {
        if (!create) return true;
        if (!ForceDirectories(base)) return false;
    }
    if (dir.find_first_not_of("\\/.") == std::string::npos && dir.find("..") == std::string::npos)
        return true; // no level to walk
    const std::string root = FinalPath(base);
    if (root.empty()) return false;
    std::string level = StripTrailingDelimiters(Native(base));
    const std::string native = Native(dir);
    size_t pos = 0;
    while (pos < native.size()) {
        size_t end = native.find('\\', pos);
        if (end == std::string::npos) end = native.size();
        const std::string part = native.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") return win32::FailWith(syserr::AccessDenied);
        level = IncludeTrailingPathDelimiter(level) + part;
        DWORD attributes = Attributes(level);
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return false;
            if (!create) return true;
            if (!::CreateDirectoryA(level.c_str(), nullptr) &&
                ::GetLastError() != ERROR_ALREADY_EXISTS)
                return false;
            attributes = Attributes(level);
            if (attributes == INVALID_FILE_ATTRIBUTES) return false;
        }
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return !create || win32::FailWith(syserr::PathNotFound);
        const std::string final = FinalPath(level);
        if (final.empty()) return false;
        if (!Inside(final, root)) return win32::FailWith(syserr::AccessDenied);
    }
    return true;
}

TDirEntry EntryOf(const WIN32_FIND_DATAA& found) {
    TDirEntry e;
    e.Name = found.cFileName;
    e.ShortName = found.cAlternateFileName;
    e.IsDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    e.Size = uint64_t(found.nFileSizeHigh) << 32 | found.nFileSizeLow;
    e.HasCreation = true;
    e.Creation = win32::FromFileTime(found.ftCreationTime);
    e.LastWrite = win32::FromFileTime(found.ftLastWriteTime);
    e.LastAccess = win32::FromFileTime(found.ftLastAccessTime);
    return e;
}

} // namespace

std::string ResolveName(const std::string& name) {
    return Native(name);
}

std::string ExpandFileName(const std::string& name) {
    const std::string n = Native(name);
    if (n.empty()) return n;
    std::string full(MAX_PATH, '\0');
    for (;;) {
        const DWORD length =
            ::GetFullPathNameA(n.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) return n;
        if (length < full.size()) {
            full.resize(length);
            return full;
        }
        full.resize(length + 1);
    }
}

bool FileExists(const std::string& name) {
    const DWORD attributes = Attributes(name);
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    return !(attributes & FILE_ATTRIBUTE_DIRECTORY) || win32::FailWith(syserr::AccessDenied);
}

bool DirectoryExists(const std::string& name) {
    const DWORD attributes = Attributes(name);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool ForceDirectories(const std::string& dir) {
    const std::string n = StripTrailingDelimiters(Native(dir));
    if (n.empty()) return win32::FailWith(syserr::FileNotFound);
    const DWORD attributes = Attributes(n);
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) || win32::FailWith(syserr::PathNotFound);
    const size_t p = n.rfind('\\');
    // A drive ("c:") or the root above is never made.
    if (p != std::string::npos && p > 0 && !(p == 2 && n[1] == ':') &&
        !ForceDirectories(n.substr(0, p)))
        return false;
    if (::CreateDirectoryA(n.c_str(), nullptr)) return true;
    // Someone else may have made it in the meantime.
    return ::GetLastError() == ERROR_ALREADY_EXISTS && DirectoryExists(n);
}

bool ForceDirectoriesWithin(const std::string& base, const std::string& dir) {
    return WalkWithin(base, dir, true);
}

bool FoldersStayWithin(const std::string& base, const std::string& dir) {
    return WalkWithin(base, dir, false);
}

bool CreateDir(const std::string& dir) {
    const std::string n = StripTrailingDelimiters(Native(dir));
    if (n.empty()) return win32::FailWith(syserr::FileNotFound);
    return ::CreateDirectoryA(n.c_str(), nullptr) != 0;
}

bool DeleteFile(const std::string& name) {
    const std::string n = Native(name);
    // The system refuses a read-only file itself; a folder is no file to delete.
    const DWORD attributes = ::GetFileAttributesA(n.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))
        return win32::FailWith(syserr::AccessDenied);
    return ::DeleteFileA(n.c_str()) != 0;
}

bool RemoveDir(const std::string& dir) {
    const std::string n = StripTrailingDelimiters(Native(dir));
    if (n.empty()) return win32::FailWith(syserr::FileNotFound);
    return ::RemoveDirectoryA(n.c_str()) != 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
    // Never over another file; a change of letter case of the same file is a rename too.
    return ::MoveFileA(Native(from).c_str(), Native(to).c_str()) != 0;
}

bool RenameFilePrivate(const std::string& from, const std::string& to) {
    return RenameFile(from, to);
}

uint32_t GetFileAttributes(const std::string& name) {
    return Attributes(name);
}

bool SetFileAttributes(const std::string& name, uint32_t attributes) {
    return ::SetFileAttributesA(Native(name).c_str(), attributes) != 0;
}

std::string GetCurrentDir() {
    std::string dir(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = ::GetCurrentDirectoryA(static_cast<DWORD>(dir.size()), dir.data());
        if (length == 0) return {};
        if (length < dir.size()) {
            dir.resize(length);
            return StripTrailingDelimiters(dir);
        }
        dir.resize(length);
    }
}

bool SetCurrentDir(const std::string& dir) {
    const std::string n = Native(dir);
    if (n.empty()) return win32::FailWith(syserr::FileNotFound);
    return ::SetCurrentDirectoryA(n.c_str()) != 0;
}

std::string ProgramFileName() {
    std::string name(MAX_PATH, '\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameA(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0) return {};
        // A name cut short fills the buffer exactly.
        if (length < name.size()) {
            name.resize(length);
            return name;
        }
        name.resize(name.size() * 2);
    }
}

std::string ProgramDir() {
    return ExtractFilePath(ProgramFileName());
}

std::string StandardProductDir() {
    return "c:\\Program Files\\Kestavorin";
}

std::string TempFolder() {
    char dir[MAX_PATH + 1];
    const DWORD length = ::GetTempPathA(sizeof dir, dir);
    if (length == 0 || length > MAX_PATH) return IncludeTrailingPathDelimiter(GetCurrentDir());
    return IncludeTrailingPathDelimiter(std::string(dir, length));
}

bool FindEntry(const std::string& name, TDirEntry& entry) {
    const std::string n = StripTrailingDelimiters(Native(name));
    // A search takes wildcards; a name never does.
    if (n.empty() || n.find_first_of("*?") != std::string::npos)
        return win32::FailWith(syserr::FileNotFound);
    WIN32_FIND_DATAA found;
    const win32::TFind find(::FindFirstFileA(n.c_str(), &found));
    if (!find.Valid()) return false;
    entry = EntryOf(found);
    return true;
}

bool ListDirectory(const std::string& dir, std::vector<TDirEntry>& entries) {
    entries.clear();
    const std::string n = Native(dir);
    const std::string pattern = (n.empty() ? std::string(".") : StripTrailingDelimiters(n)) + "\\*";
    WIN32_FIND_DATAA found;
    const win32::TFind find(::FindFirstFileA(pattern.c_str(), &found));
    if (!find.Valid()) return ::GetLastError() == ERROR_NO_MORE_FILES;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        entries.push_back(EntryOf(found));
    } while (::FindNextFileA(find.Get(), &found));
    std::sort(entries.begin(), entries.end(),
              [](const TDirEntry& a, const TDirEntry& b) { return a.Name < b.Name; });
    return true;
}

bool SetFileLastWriteTime(const std::string& name, TUnixTime time) {
    FILETIME ft;
    if (!win32::ToFileTime(time, ft)) return win32::FailWith(syserr::InvalidParameter);
    const win32::TKernelHandle h(::CreateFileA(Native(name).c_str(), FILE_WRITE_ATTRIBUTES,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return h.Valid() && ::SetFileTime(h.Get(), nullptr, nullptr, &ft) != 0;
}

} // namespace plat
