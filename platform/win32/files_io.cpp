// File contents on the Win32 file API: handles, copying and moving with replacement, whole-file
// reads and atomic writes. A replacement is written beside its target under a working name,
// flushed, and moved over the target in one step, so a crash leaves the old file or the new.
#include <algorithm>
#include <atomic>
#include <vector>

#include "platform/files.h"
#include "platform/text.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_handles.h"

namespace plat {

namespace {

using win32::Native;

std::atomic<uint64_t> Written{0};

// A regular file on a disk: a device name (CON, NUL, COM1) or a pipe is refused before anything
// reads from it, as it could wait forever.
HANDLE OpenRegular(const std::string& name, DWORD access, DWORD share, DWORD disposition) {
    win32::TKernelHandle h(::CreateFileA(Native(name).c_str(), access, share, nullptr, disposition,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.Valid()) return INVALID_HANDLE_VALUE;
    if (::GetFileType(h.Get()) != FILE_TYPE_DISK) {
        h.Reset();
        win32::FailWith(syserr::AccessDenied);
        return INVALID_HANDLE_VALUE;
    }
    return h.Release();
}

bool WriteAll(HANDLE h, const void* buffer, size_t count) {
    const char* p = static_cast<const char*>(buffer);
    while (count > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(count, 1u << 30));
        DWORD done = 0;
        if (!::WriteFile(h, p, chunk, &done, nullptr)) return false;
        if (done == 0) return win32::FailWith(syserr::DiskFull);
        p += done;
        count -= done;
        Written += done;
    }
    return true;
}

// A working name in target's folder, not taken yet, made as an empty file.
std::string NewWorkingFile(const std::string& target, win32::TKernelHandle& file) {
    const std::string dir = ExtractFilePath(Native(target));
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = dir + "~kvtmp" + std::to_string(::GetCurrentProcessId()) + "." +
                                 std::to_string(++counter);
        file.Reset(::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.Valid()) return name;
        if (::GetLastError() != ERROR_FILE_EXISTS) return {};
    }
    return {};
}

// A target that may be replaced: missing, or a file that is not read-only. exists tells which.
bool MayReplace(const std::string& target, bool& exists) {
    const DWORD attributes = ::GetFileAttributesA(Native(target).c_str());
    exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (!exists) {
        const DWORD error = ::GetLastError();
        // Nothing there, or a folder missing that the replacement will report.
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))
        return win32::FailWith(syserr::AccessDenied);
    return true;
}

// Writes a working file beside target with write, flushes it and moves it over target (or,
// with noReplace, onto a target that must still be missing). The working file never outlives
// a failure.
template <class TWrite>
bool AtomicReplace(const std::string& target, bool noReplace, const TWrite& write) {
    win32::TKernelHandle file;
    const std::string temp = NewWorkingFile(target, file);
    if (temp.empty()) return false;
    bool ok = write(file.Get()) && ::FlushFileBuffers(file.Get());
    DWORD error = ok ? 0 : ::GetLastError();
    if (!file.Close() && ok) {
        ok = false;
        error = ::GetLastError();
    }
    if (ok) {
        const DWORD flags = MOVEFILE_WRITE_THROUGH | (noReplace ? 0 : MOVEFILE_REPLACE_EXISTING);
        ok = ::MoveFileExA(temp.c_str(), win32::ExistingName(target).c_str(), flags) != 0;
        if (!ok) error = ::GetLastError();
    }
    if (!ok) {
        ::DeleteFileA(temp.c_str());
        return win32::FailWith(static_cast<int>(error));
    }
    return true;
}

} // namespace

bool CopyFile(const std::string& src, const std::string& dst, bool failIfExists) {
    const win32::TKernelHandle in(OpenRegular(src, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    if (!in.Valid()) return false;
    bool exists = false;
    if (!MayReplace(dst, exists)) return false;
    if (failIfExists && exists) return win32::FailWith(syserr::AlreadyExists);
    FILETIME written;
    if (!::GetFileTime(in.Get(), nullptr, nullptr, &written)) return false;
    return AtomicReplace(dst, failIfExists, [&](HANDLE out) {
        std::vector<char> buffer(size_t(1) << 18);
        for (;;) {
            DWORD got = 0;
            if (!::ReadFile(in.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got,
                            nullptr))
                return false;
            if (got == 0) break;
            if (!WriteAll(out, buffer.data(), got)) return false;
        }
        // As the system's copy does, the copy carries the source's last write time.
        return ::SetFileTime(out, nullptr, nullptr, &written) != 0;
    });
}

bool MoveFile(const std::string& src, const std::string& dst, bool srcOnDisk) {
    const std::string from = Native(src);
    bool exists = false;
    if (::GetFileAttributesA(from.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
    if (!MayReplace(dst, exists)) return false;
    if (!srcOnDisk) {
        // Its data reaches the disk before its new name does.
        const win32::TKernelHandle h(
            OpenRegular(from, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING));
        if (!h.Valid() || !::FlushFileBuffers(h.Get())) return false;
    }
    return ::MoveFileExA(from.c_str(), win32::ExistingName(dst).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED |
                             MOVEFILE_WRITE_THROUGH) != 0;
}

// No file system here is known to order a file's data before its rename.
bool FlushNeededBeforeReplace(const std::string&) {
    return true;
}

FileHandle FileOpen(const std::string& name, TOpenMode mode) {
    // The read-only attribute holds against an administrator too (and under Wine, as root).
    if (mode != TOpenMode::Read) {
        const DWORD attributes = ::GetFileAttributesA(Native(name).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
            win32::FailWith(syserr::AccessDenied);
            return InvalidHandle;
        }
    }
    const DWORD access = mode == TOpenMode::Read    ? GENERIC_READ
                         : mode == TOpenMode::Write ? GENERIC_WRITE
                                                    : GENERIC_READ | GENERIC_WRITE;
    return win32::FromHandle(OpenRegular(name, access, FILE_SHARE_READ, OPEN_EXISTING));
}

FileHandle FileCreate(const std::string& name) {
    bool exists = false;
    if (!MayReplace(name, exists)) return InvalidHandle;
    return win32::FromHandle(
        OpenRegular(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS));
}

FileHandle FileCreatePrivate(const std::string& name) {
    return FileCreate(name);
}

int64_t FileRead(FileHandle h, void* buffer, size_t count) {
    char* p = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < count) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(count - done, 1u << 30));
        DWORD got = 0;
        if (!::ReadFile(win32::ToHandle(h), p + done, chunk, &got, nullptr)) return -1;
        if (got == 0) break;
        done += got;
    }
    return static_cast<int64_t>(done);
}

int64_t FileWrite(FileHandle h, const void* buffer, size_t count) {
    return WriteAll(win32::ToHandle(h), buffer, count) ? static_cast<int64_t>(count) : -1;
}

int64_t FileSeek(FileHandle h, int64_t offset, int origin) {
    static const DWORD method[] = {FILE_BEGIN, FILE_CURRENT, FILE_END};
    if (origin < 0 || origin > 2) {
        win32::FailWith(syserr::InvalidParameter);
        return -1;
    }
    LARGE_INTEGER distance, position;
    distance.QuadPart = offset;
    if (!::SetFilePointerEx(win32::ToHandle(h), distance, &position, method[origin])) return -1;
    return position.QuadPart;
}

bool FileFlush(FileHandle h) {
    return ::FlushFileBuffers(win32::ToHandle(h)) != 0;
}

bool FileClose(FileHandle h) {
    if (h == InvalidHandle) return win32::FailWith(syserr::InvalidHandle);
    return ::CloseHandle(win32::ToHandle(h)) != 0;
}

bool FileSetLastWriteTime(FileHandle h, TUnixTime time) {
    FILETIME ft;
    if (!win32::ToFileTime(time, ft)) return win32::FailWith(syserr::InvalidParameter);
    return ::SetFileTime(win32::ToHandle(h), nullptr, nullptr, &ft) != 0;
}

// A file is read sequentially by the system's own read-ahead; nothing to tell it after the
// open.
void FileAdviseSequential(FileHandle) {}

uint64_t BytesWritten() {
    return Written;
}

bool GetDiskFreeSpace(const std::string& dir, uint64_t& freeBytes) {
    ULARGE_INTEGER available;
    if (!::GetDiskFreeSpaceExA(Native(dir.empty() ? "." : dir).c_str(), &available, nullptr,
                               nullptr))
        return false;
    freeBytes = available.QuadPart;
    return true;
}

// A write past a quota fails like any other write here.
void ReportFileSizeLimitAsError() {}

bool ReadFileText(const std::string& name, std::string& data, size_t maxBytes) {
    data.clear();
    const win32::TKernelHandle h(OpenRegular(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    if (!h.Valid()) return false;
    std::string text;
    LARGE_INTEGER size;
    if (::GetFileSizeEx(h.Get(), &size) && size.QuadPart > 0)
        text.reserve(static_cast<size_t>(std::min<uint64_t>(size.QuadPart, maxBytes)));
    char buffer[65536];
    while (text.size() < maxBytes) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min(sizeof buffer, maxBytes - text.size()));
        if (!::ReadFile(h.Get(), buffer, want, &got, nullptr)) return false;
        if (got == 0) break;
        text.append(buffer, got);
    }
    data = std::move(text);
    return true;
}

bool WriteFileAtomic(const std::string& name, const std::string& data) {
    bool exists = false;
    if (!MayReplace(name, exists)) return false;
    return AtomicReplace(name, false,
                         [&](HANDLE out) { return WriteAll(out, data.data(), data.size()); });
}

} // namespace plat
