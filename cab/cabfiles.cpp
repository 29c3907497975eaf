// TCABFile extraction: drives the cabinet library through the FDI-shaped binding and
// supplies the callbacks that read the cabinet and create, write and stamp unpacked files.
// The library hands its callbacks nothing but a handle, so every handle we give it points to
// a record of what it stands for (a cabinet being read, a file being written), and each
// record knows the extraction it belongs to.
#include "cab/cabfiles.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string_view>

#include "cab/cabinet_binding.h"
#include "cab/cabinet_check.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/ui.h"

namespace {

// An unpacked file is written under a temporary name beside its destination and renamed
// into place once whole, so a run killed mid-write never leaves a torn file under the real
// name (a later run would install it). The prefix keeps a name's ".exe" suffix.
std::string PartName(const std::string& dest) {
    size_t i = dest.find_last_of("\\/");
    size_t cut = i == std::string::npos ? 0 : i + 1;
    return dest.substr(0, cut) + "~kvpart." + dest.substr(cut);
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

// The cabinet of one extraction, opened once: the check that it is there, the library's look
// at it and each of the library's opens for the copy read it through this one file, or from
// the bytes in memory.
struct TCabinet {
    plat::TFile File;
    std::string_view Image;
    bool InMemory = false;
    int64_t FilePosition = 0; // where the file is; the opens share it
};

} // namespace

// What one run of the library over a cabinet is for, and how it went. An exception a
// handler raised inside it must not unwind through the library: it waits here and is raised
// again once the walk is over.
struct TCABFileWalk {
    TCABFile* Component = nullptr;
    bool Listing = false;
    TCabinet Cabinet;
    std::exception_ptr Pending;
    std::string Created;      // the unpacked file being written, until its close-file
    std::string Final;        // the name it takes once it is whole
    bool Matched = false;     // the cabinet holds the wanted entry
    bool Written = false;     // and it is in place under its final name
    bool Flush = false;       // it is flushed to disk before it takes that name
    bool WriteFailed = false; // a write of it failed: the library may still close it as done
    int Error = 0;            // the first system error while placing it
    void Failed() {
        if (Error == 0) Error = plat::GetLastError();
    }
};

namespace {

// What a handle given to the library stands for.
struct TOpen {
    TCABFileWalk* Walk = nullptr;
    bool Output = false; // a file being written, else the cabinet being read
    plat::TFile File;    // the output file
    // The library reads a cabinet in small pieces (a block's 8-byte header, then its data)
    // and seeks back to read the header again for the copy: its reads and seeks go through
    // one window of the file, so a cabinet costs a read per window instead of two per block.
    static constexpr size_t Capacity = 128 << 10;
    std::unique_ptr<char[]> Data;
    int64_t Start = 0;    // the file offset of Data[0]
    size_t Size = 0;      // the bytes of the file in Data
    int64_t Position = 0; // the library's position
};

fdi::FHandle HandleOf(TOpen* open) {
    return reinterpret_cast<fdi::FHandle>(open);
}
TOpen& OpenOf(fdi::FHandle h) {
    return *reinterpret_cast<TOpen*>(h);
}

// count bytes at offset of the walk's cabinet, for checks of our own; the library's reads
// then find the file wherever this left it.
bool ReadCabinetAt(TCabinet& cab, int64_t offset, void* buffer, size_t count) {
    if (cab.InMemory) {
        if (offset < 0 || uint64_t(offset) > cab.Image.size() || count > cab.Image.size() - offset)
            return false;
        std::memcpy(buffer, cab.Image.data() + offset, count);
        return true;
    }
    cab.FilePosition = -1;
    return plat::FileSeek(cab.File.Get(), offset, 0) == offset &&
           plat::FileRead(cab.File.Get(), buffer, count) == int64_t(count);
}

// A cabinet record for the walk; the library's handle to it.
fdi::FHandle OpenCabinet(TCABFileWalk* walk) {
    auto* open = new TOpen;
    open->Walk = walk;
    return HandleOf(open);
}

// The name the library is given for a walk's cabinet, which it hands back to the open
// callback: the record's address, after a character no path of a file starts with.
constexpr char CabinetNameMark = '\x01';
std::string CabinetNameOf(TCABFileWalk* walk) {
    return CabinetNameMark + std::to_string(reinterpret_cast<uintptr_t>(walk));
}

// No exception may unwind through the library's frames (32-bit Windows code unwinds by tables
// that those frames lack): a callback that can't do its work for want of memory fails
// instead, as a failed system call would.
template <class T, class F> T Guarded(T failure, const F& body) noexcept {
    try {
        return body();
    } catch (...) {
        plat::SetLastError(plat::syserr::NotEnoughMemory);
        return failure;
    }
}

void* KV_FDI_CALL CabAlloc(uint32_t size) {
    return std::malloc(size ? size : 1);
}
void KV_FDI_CALL CabFree(void* block) {
    std::free(block);
}

// The library opens nothing but the walk's cabinet, by the name it was given for it: a
// cabinet that names a next one in a set finds nothing.
fdi::FHandle KV_FDI_CALL CabOpen(const char* name, int flags, int /*mode*/) {
    if (!name || name[0] != CabinetNameMark || (flags & 3) != fdi::O_RDONLY_) {
        plat::SetLastError(plat::syserr::FileNotFound);
        return -1;
    }
    const uintptr_t address = std::strtoull(name + 1, nullptr, 10);
    return Guarded<fdi::FHandle>(
        -1, [&] { return OpenCabinet(reinterpret_cast<TCABFileWalk*>(address)); });
}

uint32_t ReadCabinet(TOpen& o, void* buffer, uint32_t count) {
    TCabinet& cab = o.Walk->Cabinet;
    if (cab.InMemory) {
        const size_t at = size_t(std::min<int64_t>(o.Position, int64_t(cab.Image.size())));
        const size_t n = std::min<size_t>(count, cab.Image.size() - at);
        std::memcpy(buffer, cab.Image.data() + at, n);
        o.Position += int64_t(n);
        return static_cast<uint32_t>(n);
    }
    if (!o.Data) o.Data.reset(new char[TOpen::Capacity]);
    char* out = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < count) {
        if (o.Position >= o.Start && o.Position < o.Start + int64_t(o.Size)) {
            const size_t at = size_t(o.Position - o.Start);
            const size_t n = std::min(size_t(count) - done, o.Size - at);
            std::memcpy(out + done, o.Data.get() + at, n);
            done += n;
            o.Position += int64_t(n);
            continue;
        }
        if (cab.FilePosition != o.Position) {
            cab.FilePosition = -1;
            if (plat::FileSeek(cab.File.Get(), o.Position, 0) < 0) return fdi::TransferFailed;
            cab.FilePosition = o.Position;
        }
        const int64_t got = plat::FileRead(cab.File.Get(), o.Data.get(), TOpen::Capacity);
        if (got < 0) {
            cab.FilePosition = -1;
            return fdi::TransferFailed;
        }
        o.Start = o.Position;
        o.Size = size_t(got);
        cab.FilePosition += got;
        if (got == 0) break; // the end of the file
    }
    return static_cast<uint32_t>(done);
}

uint32_t KV_FDI_CALL CabRead(fdi::FHandle h, void* buffer, uint32_t count) {
    TOpen& o = OpenOf(h);
    if (o.Output) {
        plat::SetLastError(plat::syserr::InvalidHandle);
        return fdi::TransferFailed;
    }
    return Guarded(fdi::TransferFailed, [&] { return ReadCabinet(o, buffer, count); });
}

uint32_t KV_FDI_CALL CabWrite(fdi::FHandle h, const void* buffer, uint32_t count);

int KV_FDI_CALL CabClose(fdi::FHandle h) {
    return Guarded(-1, [&] {
        std::unique_ptr<TOpen> o(&OpenOf(h));
        if (!o->Output || o->File.Close()) return 0;
        ErrorBox();
        return -1;
    });
}

fdi::TLong SeekIn(TOpen& o, fdi::TLong distance, int origin) {
    const TCabinet& cab = o.Walk->Cabinet;
    int64_t size = -1;
    if (origin == 2 && cab.InMemory) size = int64_t(cab.Image.size());
    if (origin == 2 && !cab.InMemory && !o.Output) {
        // The file tells where its end is; the shared position is the next read's to set.
        size = plat::FileSeek(cab.File.Get(), 0, 2);
        o.Walk->Cabinet.FilePosition = size;
    }
    const int64_t wanted = origin == 0   ? distance
                           : origin == 1 ? o.Position + distance
                           : size >= 0   ? size + distance
                                         : -1;
    if (o.Output || wanted < 0 || wanted > INT32_MAX) {
        plat::SetLastError(plat::syserr::InvalidParameter);
        ErrorBox();
        return -1;
    }
    o.Position = wanted;
    return static_cast<fdi::TLong>(wanted);
}

fdi::TLong KV_FDI_CALL CabSeek(fdi::FHandle h, fdi::TLong distance, int origin) {
    return Guarded<fdi::TLong>(-1, [&] { return SeekIn(OpenOf(h), distance, origin); });
}

fdi::FHandle KV_FDI_CALL CabNotify(fdi::TFDINotificationType type, fdi::TFDINotification* n);

} // namespace

// The callbacks' way into the component's private state.
struct TCABFileAccess {
    static uint32_t Write(TOpen& o, const void* buffer, uint32_t count) {
        const int64_t r = plat::FileWrite(o.File.Get(), buffer, count);
        TCABFileWalk& walk = *o.Walk;
        if (r < 0) {
            walk.Failed();
            walk.WriteFailed = true;
            ErrorBox();
            return fdi::TransferFailed;
        }
        TCABFile* c = walk.Component;
        c->CurrentPosition += static_cast<int32_t>(count);
        if (c->OnDecompressProgress) {
            try {
                c->OnDecompressProgress(c, c->CurrentFileName, c->CurrentPosition, c->CurrentSize);
            } catch (...) {
                walk.Pending = std::current_exception();
                walk.WriteFailed = true;
                return fdi::TransferFailed; // abandons the walk
            }
        }
        return static_cast<uint32_t>(r);
    }

    // Whether an entry of the declared size leaves the margin free in the folder. The free
    // space is asked again once what the process wrote since the last look (unpacked entries,
    // fetched cabinets, copies, wherever it wrote them) with this entry could have taken half
    // of it, or a second has passed: a bomb is still refused, and most entries cost no call.
    static bool FreeSpaceAdmits(TCABFile* c, const std::string& folder, uint64_t size) {
        TCABFile::TFreeSpace& f = c->FFreeSpace;
        const uint64_t now = plat::MonotonicMs();
        const uint64_t written = plat::BytesWritten() - f.WrittenAtLook;
        if (folder == f.Folder && now - f.LookedAt < 1000 &&
            written + size + UnpackDiskMargin <= f.FreeAtLook / 2)
            return true;
        f.Folder.clear();
        f.WrittenAtLook = plat::BytesWritten();
        if (!plat::GetDiskFreeSpace(folder, f.FreeAtLook)) return true; // nothing to go by
        f.Folder = folder;
        f.LookedAt = now;
        return size + UnpackDiskMargin <= f.FreeAtLook;
    }

    static fdi::FHandle CopyFile(TCABFileWalk& walk, const fdi::TFDINotification& n) {
        TCABFile* c = walk.Component;
        std::string stored = n.psz1 ? n.psz1 : "";
        if (walk.Listing) {
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
        walk.Matched = true;

        std::string t;
        if (!c->TargetPath.empty()) {
            t = c->TargetPath;
            if (!plat::IsPathDelimiter(t.back())) t += plat::PathDelim;
        }
        std::string dest = t + stored;
        if (!plat::ForceDirectoriesWithin(t.empty() ? "." : t, FolderPart(stored))) {
            walk.Failed();
            return -1;
        }

        // A cabinet may declare far more than the entry needs (a bomb of a few megabytes
        // unpacks to gigabytes): an entry that would not leave the margin free is refused
        // before a byte of it is written.
        if (!FreeSpaceAdmits(c, t.empty() ? "." : t, static_cast<uint32_t>(n.cb))) {
            plat::SetLastError(plat::syserr::DiskFull);
            walk.Failed();
            return -1;
        }

        bool allow = true, present = plat::FileExists(dest);
        if (present) {
            if (c->OnOverWriteFile) c->OnOverWriteFile(c, dest, allow);
            if (allow) present = !plat::DeleteFile(dest) && plat::FileExists(dest);
        }
        c->CurrentFileName = stored;
        c->CurrentPosition = 0;
        c->CurrentSize = n.cb;
        if (!allow) return 0;
        // A destination that could not be deleted (read-only) can't be replaced either.
        plat::TFile file;
        if (!present) file = plat::TFile(plat::FileCreatePrivate(PartName(dest)));
        if (!file.Valid()) {
            walk.Failed();
            return -1;
        }
        walk.Created = PartName(dest);
        walk.Final = dest;
        // An unpacked file is there to replace a product file: where the file system would
        // not keep that rename whole through a power cut, it is flushed now, while it is
        // open anyway.
        walk.Flush = plat::FlushNeededBeforeReplace(FolderPart(dest));
        auto* open = new TOpen;
        open->Walk = &walk;
        open->Output = true;
        open->File = std::move(file);
        return HandleOf(open);
    }

    // The entry is whole: it gets its date, reaches the disk where it must, and its name.
    static bool CloseFile(TCABFileWalk& walk, const fdi::TFDINotification& n) {
        std::unique_ptr<TOpen> o(&OpenOf(n.hf));
        plat::TSystemTime local;
        plat::TUnixTime utc;
        if (UnpackDosDateTime(n.date, n.time, local) && plat::LocalToUnix(local, utc))
            plat::FileSetLastWriteTime(o->File.Get(), utc);
        bool flushed = true;
        if (walk.Flush && !plat::FileFlush(o->File.Get())) {
            walk.Failed();
            flushed = false;
        }
        o->File.Close();
        if (walk.Created.empty()) return true;
        // A library may close a file as done after a write of it failed (the system's does):
        // such a file is not whole.
        const bool renamed =
            flushed && !walk.WriteFailed && plat::RenameFilePrivate(walk.Created, walk.Final);
        if (!renamed) plat::DeleteFile(walk.Created);
        walk.Created.clear();
        if (!renamed) {
            walk.Failed();
            return false; // abandons the walk: the file is not there
        }
        walk.Written = true;
        return true;
    }

    static bool Run(TCABFile* c, bool listing) {
        TCABFileWalk walk;
        walk.Component = c;
        walk.Listing = listing;
        std::string failure;
        bool outcome = Extraction(walk, failure);
        if (!listing) {
            c->FOnDisk = walk.Written && walk.Flush;
            // The reason that names the failure best: the system's own, else the walk's.
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
    static bool Extraction(TCABFileWalk& walk, std::string& failure) {
        TCABFile* c = walk.Component;
        TCabinet& cab = walk.Cabinet;
        cab.InMemory = c->Image != nullptr;
        if (cab.InMemory) {
            cab.Image = *c->Image;
        } else {
            cab.File = plat::TFile(plat::FileOpen(c->CABFile, plat::TOpenMode::Read));
            if (!cab.File.Valid()) {
                walk.Failed();
                return false;
            }
        }
        failure = "cabinet library not available";
        fdi::TLibraryHandle lib = fdi::LoadCabinetLibrary("cabinet.dll");
        if (!lib) return false;
        struct TLibrary {
            fdi::TLibraryHandle Handle;
            ~TLibrary() { fdi::FreeCabinetLibrary(Handle); }
        } library{lib};
        if (!fdi::GetCabinetModuleHandle("cabinet.dll")) return false;
        auto create =
            reinterpret_cast<fdi::TFDICreate>(fdi::GetCabinetProcAddress(lib, "FDICreate"));
        auto isCabinet =
            reinterpret_cast<fdi::TFDIIsCabinet>(fdi::GetCabinetProcAddress(lib, "FDIIsCabinet"));
        auto copy = reinterpret_cast<fdi::TFDICopy>(fdi::GetCabinetProcAddress(lib, "FDICopy"));
        auto destroy =
            reinterpret_cast<fdi::TFDIDestroy>(fdi::GetCabinetProcAddress(lib, "FDIDestroy"));
        if (!create || !isCabinet || !copy || !destroy) return false;
        fdi::TERF erf;
        fdi::HFDI ctx = create(CabAlloc, CabFree, CabOpen, CabRead, CabWrite, CabClose, CabSeek,
                               fdi::cpu80386, &erf);
        if (!ctx) return false;
        bool outcome = false;
        failure = "not a cabinet";
        fdi::TFDICabinetInfo info;
        const fdi::FHandle look = OpenCabinet(&walk);
        const bool isCab = isCabinet(ctx, look, &info) != 0;
        CabClose(look);
        if (isCab) {
            failure = "damaged cabinet";
            const std::string name = CabinetNameOf(&walk);
            // A block that fails its checksum: nothing of the cabinet is unpacked, whatever
            // the library would make of it. A library that checks every block itself needs
            // no look before it.
            const bool intact = walk.Listing || fdi::LibraryChecksBlocks() ||
                                CabinetBlocksIntact([&](int64_t at, void* to, size_t count) {
                                    return ReadCabinetAt(cab, at, to, count);
                                });
            if (intact && copy(ctx, name.c_str(), "", 0, CabNotify, nullptr, &walk)) outcome = true;
            // A file cut short by damaged data must not pass for a whole one.
            else if (!walk.Created.empty())
                plat::DeleteFile(walk.Created);
        }
        if (!destroy(ctx)) outcome = false;
        return outcome;
    }
};

namespace {

uint32_t KV_FDI_CALL CabWrite(fdi::FHandle h, const void* buffer, uint32_t count) {
    TOpen& o = OpenOf(h);
    if (!o.Output) {
        plat::SetLastError(plat::syserr::InvalidHandle);
        return fdi::TransferFailed;
    }
    const uint32_t written =
        Guarded(fdi::TransferFailed, [&] { return TCABFileAccess::Write(o, buffer, count); });
    if (written == fdi::TransferFailed) o.Walk->WriteFailed = true;
    return written;
}

// No exception leaves a notification: the library's frames can't be unwound through.
fdi::FHandle KV_FDI_CALL CabNotify(fdi::TFDINotificationType type, fdi::TFDINotification* n) {
    auto& walk = *static_cast<TCABFileWalk*>(n->pv);
    try {
        switch (type) {
        case fdi::fdintCOPY_FILE:
            return TCABFileAccess::CopyFile(walk, *n);
        case fdi::fdintCLOSE_FILE_INFO:
            return TCABFileAccess::CloseFile(walk, *n) ? 1 : -1;
        default:
            return 0;
        }
    } catch (...) {
        walk.Pending = std::current_exception();
        return -1;
    }
}

} // namespace

TCABFile::TCABFile() = default;

TCABFile::~TCABFile() = default;

bool TCABFile::ExtractFile(const std::string& name) {
    ExtractName = name;
    return TCABFileAccess::Run(this, false);
}

bool TCABFile::ReadContents() {
    CABFileContents.Clear();
    return TCABFileAccess::Run(this, true);
}
