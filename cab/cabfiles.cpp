// TCABFile extraction: drives the cabinet library through the FDI-shaped binding and
// supplies the callbacks that read the cabinet and create, write and stamp unpacked files.
#include "cab/cabfiles.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <utility>

#include "cab/cabinet_binding.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/ui.h"

namespace {

// The component whose unpacked file is being written: the write callback has no context
// of its own.
TCABFile* ActiveCabFile = nullptr;

// What the current library walk is for, and an exception a handler raised inside it
// (it must not unwind through the library; it is raised again once the walk is over).
struct TWalk {
    bool Listing = false;
    std::exception_ptr Pending;
    std::string Created;  // the unpacked file being written, until its close-file
    std::string Final;    // the name it takes once it is whole
    bool Matched = false; // the cabinet holds the wanted entry
    bool Written = false; // and it is in place under its final name
    bool Flush = false;   // it is flushed to disk before it takes that name
    int Error = 0;        // the first system error while placing it
    void Failed() {
        if (Error == 0) Error = plat::GetLastError();
    }
};

// An unpacked file is written under a temporary name beside its destination and renamed
// into place once whole, so a run killed mid-write never leaves a torn file under the real
// name (a later run would install it). The prefix keeps a name's ".exe" suffix.
std::string PartName(const std::string& dest) {
    size_t i = dest.find_last_of("\\/");
    size_t cut = i == std::string::npos ? 0 : i + 1;
    return dest.substr(0, cut) + "~kvpart." + dest.substr(cut);
}
TWalk* CurrentWalk = nullptr;

// Whether an entry of the declared size leaves the margin free in the folder. The free
// space is asked again once what the process wrote since the last look (unpacked entries,
// fetched cabinets, copies, wherever it wrote them) with this entry could have taken half
// of it, or a second has passed: a bomb is still refused, and most entries cost no call.
bool FreeSpaceAdmits(const std::string& folder, uint64_t size) {
    static std::string known;
    static uint64_t freeAtLook = 0, writtenAtLook = 0, lookedAt = 0;
    const uint64_t now = plat::MonotonicMs();
    const uint64_t written = plat::BytesWritten() - writtenAtLook;
    if (folder != known || now - lookedAt >= 1000 ||
        written + size + UnpackDiskMargin > freeAtLook / 2) {
        known.clear();
        writtenAtLook = plat::BytesWritten();
        if (!plat::GetDiskFreeSpace(folder, freeAtLook)) return true; // nothing to go by
        known = folder;
        lookedAt = now;
        return size + UnpackDiskMargin <= freeAtLook;
    }
    return true;
}

std::string FolderPart(const std::string& name) {
    size_t i = name.find_last_of("\\/");
    return i == std::string::npos ? std::string() : name.substr(0, i + 1);
}

// The error box of the write, close and seek callbacks: only for a failure of the call just
// made, and never in silent mode.
void ErrorBox() {
    int code = plat::GetLastError();
    if (code == 0) return;
    plat::TPresentation& p = plat::Presentation();
    if (p.Silent()) return;
    std::string text = plat::SysErrorMessage(code);
    if (text.size() > 1024) text.resize(1024);
    try {
        p.ShowMessage("Error", text, plat::TMessageKind::Warning);
    } catch (...) {
    }
}

bool UnpackDosDateTime(uint16_t date, uint16_t time, plat::TSystemTime& t) {
    t.Year = 1980 + (date >> 9);
    t.Month = (date >> 5) & 0x0F;
    t.Day = date & 0x1F;
    t.Hour = time >> 11;
    t.Minute = (time >> 5) & 0x3F;
    t.Second = (time & 0x1F) * 2;
    t.Milliseconds = 0;
    return t.Month >= 1 && t.Month <= 12 && t.Day >= 1 && t.Hour < 24 && t.Minute < 60 &&
           t.Second < 60;
}

// The framework's date-time number of an entry's packed date and time; 0 when they name no
// moment. The fields' own ranges are checked above, but a day the month does not have
// (31 June, 29 February 2021) only shows in the encoding.
double EntryDateTime(uint16_t date, uint16_t time) {
    plat::TSystemTime t;
    if (!UnpackDosDateTime(date, time, t)) return 0;
    try {
        return plat::EncodeDateTime(t);
    } catch (const EConvertError&) {
        return 0;
    }
}

void* CabAlloc(uint32_t size) {
    return std::malloc(size ? size : 1);
}
void CabFree(void* block) {
    std::free(block);
}

// The library reads a cabinet in small pieces (a block's 8-byte header, then its data) and
// seeks back to read the header again for the copy: its reads and seeks go through one
// window of the file per handle, so a cabinet costs a read per window instead of two per
// block. The file's own position is only moved when the window is refilled.
struct TReadWindow {
    static constexpr size_t Capacity = 128 << 10;
    std::unique_ptr<char[]> Data{new char[Capacity]};
    int64_t Start = 0;    // the file offset of Data[0]
    size_t Size = 0;      // the bytes of the file in Data
    int64_t Position = 0; // the library's position
    int64_t FilePosition = 0;
};
std::map<fdi::FHandle, TReadWindow> Windows;

// The handle of a cabinet held in memory: no descriptor is ever this, and its one window is
// the whole image.
constexpr fdi::FHandle ImageHandle = -2;
std::string_view Image;

// A handle's window; a handle the library has not read or moved yet is at the start.
TReadWindow& WindowOf(fdi::FHandle h) {
    return Windows[h];
}

// The cabinet of the extraction under way, opened once: the check that it is there, the
// library's look at it and each of the library's opens for the copy read it through this
// handle, and through one window.
struct TParked {
    std::string Name; // as the library names it: folder and file name
    fdi::FHandle Handle = plat::InvalidHandle;
};
TParked Parked;

fdi::FHandle CabOpen(const char* name, int flags, int /*mode*/) {
    if ((flags & 3) == fdi::O_RDONLY_ && Parked.Handle != plat::InvalidHandle &&
        Parked.Name == name) {
        Windows[Parked.Handle].Position = 0;
        return Parked.Handle;
    }
    plat::TOpenMode mode = plat::TOpenMode::Read;
    if ((flags & 3) == fdi::O_WRONLY_) mode = plat::TOpenMode::Write;
    if ((flags & 3) == fdi::O_RDWR_) mode = plat::TOpenMode::ReadWrite;
    const fdi::FHandle h = plat::FileOpen(name, mode);
    // The cabinet gone or unreadable when the library opens it: the system names the cause.
    if (h == plat::InvalidHandle && CurrentWalk) CurrentWalk->Failed();
    return h;
}

int32_t CabRead(fdi::FHandle h, void* buffer, uint32_t count) {
    TReadWindow& w = WindowOf(h);
    if (h == ImageHandle) {
        const size_t at = size_t(std::min<int64_t>(w.Position, int64_t(Image.size())));
        const size_t n = std::min<size_t>(count, Image.size() - at);
        std::memcpy(buffer, Image.data() + at, n);
        w.Position += int64_t(n);
        return static_cast<int32_t>(n);
    }
    char* out = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < count) {
        if (w.Position >= w.Start && w.Position < w.Start + int64_t(w.Size)) {
            const size_t at = size_t(w.Position - w.Start);
            const size_t n = std::min(size_t(count) - done, w.Size - at);
            std::memcpy(out + done, w.Data.get() + at, n);
            done += n;
            w.Position += int64_t(n);
            continue;
        }
        if (w.FilePosition != w.Position) {
            if (plat::FileSeek(h, w.Position, 0) < 0) return -1;
            w.FilePosition = w.Position;
        }
        const int64_t got = plat::FileRead(h, w.Data.get(), TReadWindow::Capacity);
        if (got < 0) return -1;
        w.Start = w.Position;
        w.Size = size_t(got);
        w.FilePosition += got;
        if (got == 0) break; // the end of the file
    }
    return static_cast<int32_t>(done);
}

int32_t CabWrite(fdi::FHandle h, const void* buffer, uint32_t count);
int CabClose(fdi::FHandle h) {
    if (h == Parked.Handle) return 0; // the extraction closes it when it is over
    Windows.erase(h);
    bool ok = plat::FileClose(h);
    if (!ok) ErrorBox();
    return ok ? 0 : -1;
}

int64_t CabSeek(fdi::FHandle h, int64_t distance, int origin) {
    TReadWindow& w = WindowOf(h);
    int64_t wanted = origin == 0 ? distance : origin == 1 ? w.Position + distance : -1;
    if (h == ImageHandle && origin == 2) wanted = int64_t(Image.size()) + distance;
    if (wanted >= 0) return w.Position = wanted;
    if (h == ImageHandle) {
        plat::SetLastError(plat::syserr::InvalidParameter);
        ErrorBox();
        return -1;
    }
    // From the end, or to before the start: the file tells the outcome.
    const int64_t r =
        plat::FileSeek(h, origin == 1 ? w.Position + distance : distance, origin == 1 ? 0 : origin);
    if (r < 0) {
        ErrorBox();
        return r;
    }
    return w.Position = w.FilePosition = r;
}

fdi::FHandle CabNotify(fdi::TFDINotificationType type, fdi::TFDINotification* n);

} // namespace

// The callbacks' way into the component's private state.
struct TCABFileAccess {
    static int32_t Write(fdi::FHandle h, const void* buffer, uint32_t count) {
        int64_t r = plat::FileWrite(h, buffer, count);
        if (ActiveCabFile && r >= 0) {
            TCABFile* c = ActiveCabFile;
            c->CurrentPosition += static_cast<int32_t>(count);
            if (c->OnDecompressProgress) {
                try {
                    c->OnDecompressProgress(c, c->CurrentFileName, c->CurrentPosition,
                                            c->CurrentSize);
                } catch (...) {
                    if (CurrentWalk) CurrentWalk->Pending = std::current_exception();
                    return -1; // abandons the walk
                }
            }
        }
        if (r < 0) {
            if (CurrentWalk) CurrentWalk->Failed();
            ErrorBox();
        }
        return static_cast<int32_t>(r);
    }

    static fdi::FHandle CopyFile(TCABFile* c, const fdi::TFDINotification& n) {
        std::string stored = n.psz1 ? n.psz1 : "";
        if (CurrentWalk && CurrentWalk->Listing) {
            TCABFileEntry& e = c->CABFileContents.Add();
            e.Name = stored.substr(FolderPart(stored).size());
            e.RelPath = FolderPart(stored);
            e.EntrySize = n.cb;
            e.EntryDate = EntryDateTime(n.date, n.time);
            return 0;
        }
        if (!plat::SameText(stored, c->ExtractName)) return 0;
        // A stored name that would land outside the target folder is skipped.
        if (!plat::IsSafeRelativeName(stored)) return 0;
        if (CurrentWalk) CurrentWalk->Matched = true;

        std::string t;
        if (!c->TargetPath.empty()) {
            t = c->TargetPath;
            if (!plat::IsPathDelimiter(t.back())) t += plat::PathDelim;
        }
        std::string dest = t + stored;
        if (!plat::ForceDirectoriesWithin(t.empty() ? "." : t, FolderPart(stored))) {
            if (CurrentWalk) CurrentWalk->Failed();
            return plat::InvalidHandle;
        }

        // A cabinet may declare far more than the entry needs (a bomb of a few megabytes
        // unpacks to gigabytes): an entry that would not leave the margin free is refused
        // before a byte of it is written.
        if (!FreeSpaceAdmits(t.empty() ? "." : t, static_cast<uint32_t>(n.cb))) {
            plat::SetLastError(plat::syserr::DiskFull);
            if (CurrentWalk) CurrentWalk->Failed();
            return plat::InvalidHandle;
        }

        bool allow = true, present = plat::FileExists(dest);
        if (present) {
            if (c->OnOverWriteFile) c->OnOverWriteFile(c, dest, allow);
            if (allow) present = !plat::DeleteFile(dest) && plat::FileExists(dest);
        }
        fdi::FHandle result = 0;
        if (allow) {
            // A destination that could not be deleted (read-only) can't be replaced either.
            if (present || !CurrentWalk)
                result = plat::InvalidHandle;
            else
                result = plat::FileCreatePrivate(PartName(dest));
        }
        if (result != plat::InvalidHandle && result != 0) {
            CurrentWalk->Created = PartName(dest);
            CurrentWalk->Final = dest;
            // An unpacked file is there to replace a product file: where the file system
            // would not keep that rename whole through a power cut, it is flushed now,
            // while it is open anyway.
            CurrentWalk->Flush = plat::FlushNeededBeforeReplace(FolderPart(dest));
        } else if (result == plat::InvalidHandle && CurrentWalk) {
            CurrentWalk->Failed();
        }
        c->CurrentFileName = stored;
        c->CurrentPosition = 0;
        c->CurrentSize = n.cb;
        ActiveCabFile = c;
        return result;
    }

    static bool Run(TCABFile* c, bool listing) {
        TWalk walk;
        walk.Listing = listing;
        TWalk* outer = CurrentWalk;
        CurrentWalk = &walk;
        std::string failure;
        bool outcome = Extraction(c, failure);
        CurrentWalk = outer;
        if (!listing) {
            // The reason that names the failure best: the system's own, else the walk's.
            c->FOnDisk = walk.Written && walk.Flush;
            if (walk.Written)
                failure.clear();
            else if (walk.Error != 0)
                failure = plat::SystemErrorText(walk.Error);
            else if (outcome)
                failure = "not in the cabinet";
            c->FExtractFailure = failure;
        }
        if (walk.Pending) std::rethrow_exception(walk.Pending);
        return outcome;
    }

    // failure: a plain reason for the cases that leave no system error behind.
    static bool Extraction(TCABFile* c, std::string& failure) {
        bool outcome = false;
        // Opened once for the check that it is there and for the library's look at it.
        plat::TFile file;
        if (!c->Image) file = plat::TFile(plat::FileOpen(c->CABFile, plat::TOpenMode::Read));
        const fdi::FHandle cabinet = c->Image ? ImageHandle : file.Get();
        const std::string_view outerImage = std::exchange(Image, c->Image ? *c->Image : "");
        struct TRestore {
            std::string_view Outer;
            ~TRestore() { Image = Outer; }
        } restore{outerImage};
        if (c->Image) Windows.erase(ImageHandle);
        if (cabinet == plat::InvalidHandle) {
            if (CurrentWalk) CurrentWalk->Failed();
            return false;
        }
        failure = "cabinet library not available";

        fdi::TLibraryHandle lib = fdi::LoadCabinetLibrary("cabinet.dll");
        if (!lib) return false;
        if (!fdi::GetCabinetModuleHandle("cabinet.dll")) {
            fdi::FreeCabinetLibrary(lib);
            return false;
        }
        auto create =
            reinterpret_cast<fdi::TFDICreate>(fdi::GetCabinetProcAddress(lib, "FDICreate"));
        auto isCabinet =
            reinterpret_cast<fdi::TFDIIsCabinet>(fdi::GetCabinetProcAddress(lib, "FDIIsCabinet"));
        auto copy = reinterpret_cast<fdi::TFDICopy>(fdi::GetCabinetProcAddress(lib, "FDICopy"));
        auto destroy =
            reinterpret_cast<fdi::TFDIDestroy>(fdi::GetCabinetProcAddress(lib, "FDIDestroy"));
        if (!create || !isCabinet || !copy || !destroy) {
            fdi::FreeCabinetLibrary(lib);
            return false;
        }
        fdi::TERF erf;
        fdi::HFDI ctx = create(CabAlloc, CabFree, CabOpen, CabRead, CabWrite, CabClose, CabSeek,
                               fdi::cpu80386, &erf);
        if (!ctx) {
            fdi::FreeCabinetLibrary(lib);
            return false;
        }
        failure = "not a cabinet";
        fdi::TFDICabinetInfo info;
        const int isCab = isCabinet(ctx, cabinet, &info);
        if (isCab) {
            failure = "damaged cabinet";
            std::string name = plat::ExtractFileName(c->CABFile);
            std::string path = plat::IncludeTrailingPathDelimiter(
                plat::ExtractFilePath(plat::ExpandFileName(c->CABFile)));
            const TParked outer = std::exchange(Parked, TParked{path + name, cabinet});
            const bool copied = copy(ctx, name.c_str(), path.c_str(), 0, CabNotify, nullptr, c);
            Parked = outer;
            if (copied) outcome = true;
            // A file cut short by damaged data must not pass for a whole one.
            else if (CurrentWalk && !CurrentWalk->Created.empty())
                plat::DeleteFile(CurrentWalk->Created);
        }
        Windows.erase(cabinet);
        file.Close();
        if (!destroy(ctx)) outcome = false;
        fdi::FreeCabinetLibrary(lib);
        return outcome;
    }
};

namespace {

int32_t CabWrite(fdi::FHandle h, const void* buffer, uint32_t count) {
    return TCABFileAccess::Write(h, buffer, count);
}

fdi::FHandle CabNotify(fdi::TFDINotificationType type, fdi::TFDINotification* n) {
    auto* c = static_cast<TCABFile*>(n->pv);
    switch (type) {
    case fdi::fdintCOPY_FILE:
        try {
            return TCABFileAccess::CopyFile(c, *n);
        } catch (...) {
            if (CurrentWalk) CurrentWalk->Pending = std::current_exception();
            return -1;
        }
    case fdi::fdintCLOSE_FILE_INFO: {
        plat::TSystemTime local;
        plat::TUnixTime utc;
        if (UnpackDosDateTime(n->date, n->time, local) && plat::LocalToUnix(local, utc))
            plat::FileSetLastWriteTime(n->hf, utc);
        bool flushed = true;
        if (CurrentWalk && CurrentWalk->Flush && !plat::FileFlush(n->hf)) {
            CurrentWalk->Failed();
            flushed = false;
        }
        plat::FileClose(n->hf);
        if (CurrentWalk && !CurrentWalk->Created.empty()) {
            bool renamed =
                flushed && plat::RenameFilePrivate(CurrentWalk->Created, CurrentWalk->Final);
            if (!renamed) plat::DeleteFile(CurrentWalk->Created);
            CurrentWalk->Created.clear();
            if (!renamed) {
                CurrentWalk->Failed();
                return -1; // abandons the walk: the file is not there
            }
            CurrentWalk->Written = true;
        }
        return 1;
    }
    default:
        return 0;
    }
}

} // namespace

TCABFile::TCABFile() = default;

TCABFile::~TCABFile() {
    if (ActiveCabFile == this) ActiveCabFile = nullptr;
}

bool TCABFile::ExtractFile(const std::string& name) {
    ExtractName = name;
    return TCABFileAccess::Run(this, false);
}

bool TCABFile::ReadContents() {
    CABFileContents.Clear();
    return TCABFileAccess::Run(this, true);
}
