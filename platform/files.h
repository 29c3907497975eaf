#pragma once
// Files and folders. Names may use "\" or "/" between folders. A name that does not exist
// exactly is looked up without regard to ASCII case, one folder level at a time; the first
// match in byte order wins. Functions that report by result leave the reason in the
// thread's last error (errors.h), as the Windows file functions do. The splitting of names
// and TFile are portable (paths.cpp, this header); the rest each side implements.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/handle.h"
#include "platform/platform_side.h"

namespace plat {

// The separator of folder paths that the program forms: "/" on POSIX, "\\" on Windows.
constexpr char PathDelim = KV_PATH_DELIM;

// File attributes in the Windows numbering.
constexpr uint32_t faReadOnly = 0x01;
constexpr uint32_t faHidden = 0x02;
constexpr uint32_t faSysFile = 0x04;
constexpr uint32_t faDirectory = 0x10;
constexpr uint32_t faArchive = 0x20;
constexpr uint32_t faNormal = 0x80;
constexpr uint32_t InvalidFileAttributes = 0xFFFFFFFFu;

// The name as the file system knows it: separators made native, each folder level that
// does not exist exactly matched without regard to case. Missing levels stay as given.
std::string ResolveName(const std::string& name);
bool IsPathDelimiter(char c);                                     // "\" or "/"
std::string IncludeTrailingPathDelimiter(const std::string& dir); // appends PathDelim
std::string ExtractFilePath(const std::string& name); // up to and including the last separator
std::string ExtractFileName(const std::string& name); // after the last separator (or ':')
std::string ExpandFileName(const std::string& name);  // absolute, "." and ".." resolved
// A name that stays inside the folder it is taken against: not empty, not absolute ("\" or
// "/" first), no drive ("c:"), no ".." folder level under either separator.
bool IsSafeRelativeName(const std::string& name);

// An existing regular file. A FIFO, socket or device is no file the program can read
// without blocking, so it counts as missing; opening one fails.
bool FileExists(const std::string& name);
bool DirectoryExists(const std::string& name); // an existing folder
bool ForceDirectories(const std::string& dir); // creates every missing level
// Creates every missing level of the relative folder dir under base (made first when
// missing).
// A level that is a symbolic link leading out of base is never followed: the call fails
// there (access denied), as it does for a level that is a file.
bool ForceDirectoriesWithin(const std::string& base, const std::string& dir);
// Whether each level of the relative folder dir that exists under base stays inside base.
// A level that is a symbolic link leading out of base does not: false, access denied.
// Missing levels and levels that are files end the check with true; nothing is created.
bool FoldersStayWithin(const std::string& base, const std::string& dir);
bool CreateDir(const std::string& dir);   // one level
bool DeleteFile(const std::string& name); // fails on a read-only file, even as root
bool RemoveDir(const std::string& dir);   // an empty folder
bool RenameFile(const std::string& from, const std::string& to);
// RenameFile for a working file of the program's own making, to a name it has just found
// missing without regard to case: where both names exist just so, one rename that fails when
// something has taken the target meanwhile, with no lookups.
bool RenameFilePrivate(const std::string& from, const std::string& to);

// Copies src over dst. With failIfExists false an existing dst is replaced atomically
// (temporary file in dst's folder, flushed, renamed over dst); a read-only dst makes the
// copy fail. dst keeps its permission bits; a new dst takes src's. A dst that is a
// symbolic link is replaced as a name: the link goes, what it points to stays untouched.
bool CopyFile(const std::string& src, const std::string& dst, bool failIfExists);

// Moves src over dst with the outcome of CopyFile(src, dst, false) followed by
// DeleteFile(src): dst is replaced atomically (src flushed to disk first) and keeps its
// name and permission bits; a read-only dst makes the move fail and leaves both alone.
// One rename when both lie on one file system, a copy and a deletion otherwise.
// srcOnDisk: the caller has flushed src (FileFlush) since it was last written, so the move
// need not flush it again.
bool MoveFile(const std::string& src, const std::string& dst, bool srcOnDisk = false);

// Whether a file written in the folder dir must be flushed to disk before it is renamed over
// another there, for that name to hold the old file or the new one after a power cut: false
// only where the folder's file system is known for certain to write the data first.
// Decided once per folder.
bool FlushNeededBeforeReplace(const std::string& dir);

// Attributes: read-only is the absence of the owner's write permission; hidden and
// system have no meaning here and are ignored when written. A symbolic link has attributes
// of its own, as on Windows: never read-only, and writing them changes nothing, least of
// all the file it points to.
uint32_t GetFileAttributes(const std::string& name);
bool SetFileAttributes(const std::string& name, uint32_t attributes);

std::string GetCurrentDir(); // without a trailing separator
bool SetCurrentDir(const std::string& dir);
std::string ProgramFileName(); // full name of the running program's file
std::string ProgramDir();      // its folder, with a trailing separator
// The folder the product is installed in as standard, without a trailing separator.
std::string StandardProductDir();
// The system's folder for temporary files, with a trailing separator.
std::string TempFolder();

// A point in time in universal time.
struct TUnixTime {
    int64_t Seconds = 0;
    int32_t Nanoseconds = 0;
};

// What a directory search reports about one entry.
struct TDirEntry {
    std::string Name; // the entry's own name
    bool IsDirectory = false;
    uint64_t Size = 0;
    bool HasCreation = false; // birth time known
    TUnixTime Creation, LastWrite, LastAccess;
};
bool FindEntry(const std::string& name, TDirEntry& entry);
// The entries of a folder (without "." and ".."), sorted by name in byte order.
bool ListDirectory(const std::string& dir, std::vector<TDirEntry>& entries);
bool SetFileLastWriteTime(const std::string& name, TUnixTime time);

// Low-level file handles, as the cabinet callbacks and the byte sum need them.
using FileHandle = intptr_t;
constexpr FileHandle InvalidHandle = -1;
enum class TOpenMode { Read, Write, ReadWrite };
FileHandle FileOpen(const std::string& name, TOpenMode mode);
// Creates or truncates. A name ending in ".exe" (any case) is created executable, any
// other 0644. An existing read-only file is not truncated: the call fails. A symbolic link
// under the name is replaced by the new file, never followed.
FileHandle FileCreate(const std::string& name);
// FileCreate for a working name of the program's own making: where nothing of that exact
// name is, the file is made without looking for a name that differs only in case.
FileHandle FileCreatePrivate(const std::string& name);
// Reads count bytes, fewer only at the end of the file; -1 on failure.
int64_t FileRead(FileHandle h, void* buffer, size_t count);
int64_t FileWrite(FileHandle h, const void* buffer, size_t count); // -1 on failure
int64_t FileSeek(FileHandle h, int64_t offset, int origin);        // 0 begin, 1 current, 2 end
bool FileFlush(FileHandle h);
bool FileClose(FileHandle h);
bool FileSetLastWriteTime(FileHandle h, TUnixTime time);
// Tells the system the file will be read from start to end once.
void FileAdviseSequential(FileHandle h);

// How the handle owner closes a file.
struct TFileTraits {
    using TValue = FileHandle;
    static TValue Invalid() noexcept { return InvalidHandle; }
    static bool Close(TValue h) noexcept { return FileClose(h); }
};
// An open file, closed when the object goes away. A handle that something else closes (the
// cabinet library through its close callback) is handed over with Release.
using TFile = THandle<TFileTraits>;

// The free bytes an unprivileged writer may still use on the file system of dir.
bool GetDiskFreeSpace(const std::string& dir, uint64_t& freeBytes);
// Every byte the process has written to files through these functions so far: what it may
// have taken of a disk's free space since it last asked.
uint64_t BytesWritten();

// Called once as the program starts: a write past the process's file size limit then
// fails with FileTooLarge, as any failed write does, instead of ending the process.
void ReportFileSizeLimitAsError();

// Whole-file helpers. ReadFileText fails for a missing or unreadable file and reads at
// most maxBytes of it; WriteFileAtomic replaces the file atomically, creating it when
// missing.
bool ReadFileText(const std::string& name, std::string& data, size_t maxBytes = SIZE_MAX);
// How much is read of a file that is small by nature (an initialisation file,
// "language.dat"): a longer one, or one that never ends, counts as what fits.
constexpr size_t SmallFileMaxBytes = size_t(1) << 20;
bool WriteFileAtomic(const std::string& name, const std::string& data);

} // namespace plat
