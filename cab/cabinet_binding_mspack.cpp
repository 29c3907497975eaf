// The FDI-shaped cabinet binding on libmspack. The decompressor sees only an mspack_system
// of our own whose every call goes through the caller's callbacks, so the cabinet is read
// through the open/read/seek/close callbacks and every unpacked byte passes through the
// write callback.
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include <mspack.h>

#include "cab/cabinet_binding.h"
#include "platform/text.h"

namespace fdi {
namespace {

struct TContext;

// The context of the call in progress. The decompressor hands its allocation and open
// calls copies of our mspack_system, so the context can't ride along in that structure.
thread_local TContext* Current = nullptr;

struct TCurrent {
    TContext* Outer;
    explicit TCurrent(TContext* ctx) : Outer(Current) { Current = ctx; }
    ~TCurrent() { Current = Outer; }
};

enum class TFileKind { Cabinet, Borrowed, Output };

struct TFile : mspack_file {
    TContext* Context = nullptr;
    TFileKind Kind = TFileKind::Cabinet;
    FHandle Handle = 0;
};

struct TContext {
    PFNALLOC Alloc;
    PFNFREE Free;
    PFNOPEN Open;
    PFNREAD Read;
    PFNWRITE Write;
    PFNCLOSE Close;
    PFNSEEK Seek;
    TERF* Erf;
    mspack_system System;
    mscab_decompressor* Decompressor = nullptr;
    FHandle Borrowed = 0;    // FDIIsCabinet's handle
    FHandle Output = 0;      // the handle of the entry being unpacked
    uint64_t OutputLeft = 0; // what the cabinet declared for it and is not yet written
};

// Names that stand for a handle we already hold rather than a file to open. They start
// with a control character, which no cabinet path does.
const char BorrowedName[] = "\x01"
                            "borrowed";
const char OutputName[] = "\x01"
                          "output";

// Allocation goes through the caller's allocator; mspack's free carries no context, so
// each block starts with the context that allocated it.
constexpr size_t BlockHeader = 16;
static_assert(sizeof(TContext*) <= BlockHeader);

void* SysAlloc(mspack_system*, size_t bytes) {
    TContext* ctx = Current;
    if (!ctx) return nullptr;
    if (bytes > UINT32_MAX - BlockHeader) return nullptr;
    auto* block = static_cast<char*>(ctx->Alloc(static_cast<uint32_t>(bytes + BlockHeader)));
    if (!block) return nullptr;
    std::memcpy(block, &ctx, sizeof ctx);
    return block + BlockHeader;
}

void SysFree(void* ptr) {
    if (!ptr) return;
    char* block = static_cast<char*>(ptr) - BlockHeader;
    TContext* ctx;
    std::memcpy(&ctx, block, sizeof ctx);
    ctx->Free(block);
}

void SysCopy(void* src, void* dest, size_t bytes) {
    std::memmove(dest, src, bytes);
}

void SysMessage(mspack_file*, const char*, ...) {}

mspack_file* SysOpen(mspack_system*, const char* filename, int mode) {
    TContext* ctx = Current;
    if (!ctx) return nullptr;
    auto* file = new (std::nothrow) TFile;
    if (!file) return nullptr;
    file->Context = ctx;
    if (std::strcmp(filename, BorrowedName) == 0 && mode == MSPACK_SYS_OPEN_READ) {
        file->Kind = TFileKind::Borrowed;
        file->Handle = ctx->Borrowed;
        if (ctx->Seek(file->Handle, 0, 0) < 0) {
            delete file;
            return nullptr;
        }
    } else if (std::strcmp(filename, OutputName) == 0 && mode == MSPACK_SYS_OPEN_WRITE) {
        file->Kind = TFileKind::Output;
        file->Handle = ctx->Output;
    } else if (mode == MSPACK_SYS_OPEN_READ) {
        file->Kind = TFileKind::Cabinet;
        file->Handle = ctx->Open(filename, O_RDONLY_, 0);
        if (file->Handle == -1) {
            delete file;
            return nullptr;
        }
    } else {
        // The decompressor never writes anywhere but the entry being unpacked.
        delete file;
        return nullptr;
    }
    return file;
}

void SysClose(mspack_file* f) {
    auto* file = static_cast<TFile*>(f);
    // The output handle belongs to the notification's owner, who closes it on close-file.
    if (file->Kind == TFileKind::Cabinet) file->Context->Close(file->Handle);
    delete file;
}

int SysRead(mspack_file* f, void* buffer, int bytes) {
    auto* file = static_cast<TFile*>(f);
    if (bytes < 0) return -1;
    const uint32_t n = file->Context->Read(file->Handle, buffer, static_cast<uint32_t>(bytes));
    return n == TransferFailed || n > static_cast<uint32_t>(bytes) ? -1 : static_cast<int>(n);
}

int SysWrite(mspack_file* f, void* buffer, int bytes) {
    auto* file = static_cast<TFile*>(f);
    if (bytes < 0) return -1;
    // Never more than the cabinet declared for the entry, whatever its data says.
    if (file->Kind == TFileKind::Output) {
        if (static_cast<uint64_t>(bytes) > file->Context->OutputLeft) return -1;
        file->Context->OutputLeft -= static_cast<uint64_t>(bytes);
    }
    const uint32_t n = file->Context->Write(file->Handle, buffer, static_cast<uint32_t>(bytes));
    return n != static_cast<uint32_t>(bytes) ? -1 : bytes;
}

int SysSeek(mspack_file* f, off_t offset, int mode) {
    auto* file = static_cast<TFile*>(f);
    // Positions are 32-bit in the callbacks, as in the real library: no cabinet is longer.
    if (offset < INT32_MIN || offset > INT32_MAX) return -1;
    return file->Context->Seek(file->Handle, static_cast<TLong>(offset), mode) < 0 ? -1 : 0;
}

off_t SysTell(mspack_file* f) {
    auto* file = static_cast<TFile*>(f);
    return static_cast<off_t>(file->Context->Seek(file->Handle, 0, 1));
}

void SetError(TERF* erf, int oper, int type) {
    if (!erf) return;
    erf->erfOper = oper;
    erf->erfType = type;
    erf->fError = oper != FDIERROR_NONE;
}

int ErrorFromMspack(int err) {
    switch (err) {
    case MSPACK_ERR_OK:
        return FDIERROR_NONE;
    case MSPACK_ERR_OPEN:
        return FDIERROR_CABINET_NOT_FOUND;
    case MSPACK_ERR_SIGNATURE:
        return FDIERROR_NOT_A_CABINET;
    case MSPACK_ERR_NOMEMORY:
        return FDIERROR_ALLOC_FAIL;
    case MSPACK_ERR_WRITE:
        return FDIERROR_TARGET_FILE;
    case MSPACK_ERR_DATAFORMAT:
    case MSPACK_ERR_CHECKSUM:
    case MSPACK_ERR_READ:
    case MSPACK_ERR_SEEK:
        return FDIERROR_CORRUPT_CABINET;
    default:
        return FDIERROR_MDI_FAIL;
    }
}

uint16_t PackDate(const mscabd_file* f) {
    int y = f->date_y - 1980;
    if (y < 0) y = 0;
    return static_cast<uint16_t>((y & 0x7F) << 9 | (f->date_m & 0x0F) << 5 | (f->date_d & 0x1F));
}

uint16_t PackTime(const mscabd_file* f) {
    return static_cast<uint16_t>((f->time_h & 0x1F) << 11 | (f->time_m & 0x3F) << 5 |
                                 ((f->time_s / 2) & 0x1F));
}

HFDI Create(PFNALLOC alloc, PFNFREE free, PFNOPEN open, PFNREAD read, PFNWRITE write,
            PFNCLOSE close, PFNSEEK seek, int /*cpuType*/, TERF* perf) {
    SetError(perf, FDIERROR_NONE, 0);
    if (!alloc || !free || !open || !read || !write || !close || !seek) {
        SetError(perf, FDIERROR_ALLOC_FAIL, 0);
        return nullptr;
    }
    int selftest;
    MSPACK_SYS_SELFTEST(selftest);
    if (selftest != MSPACK_ERR_OK) {
        SetError(perf, FDIERROR_MDI_FAIL, selftest);
        return nullptr;
    }
    auto* ctx = new (std::nothrow) TContext{alloc, free, open, read, write, close, seek, perf};
    if (!ctx) {
        SetError(perf, FDIERROR_ALLOC_FAIL, 0);
        return nullptr;
    }
    mspack_system& s = ctx->System;
    s.open = SysOpen;
    s.close = SysClose;
    s.read = SysRead;
    s.write = SysWrite;
    s.seek = SysSeek;
    s.tell = SysTell;
    s.message = SysMessage;
    s.alloc = SysAlloc;
    s.free = SysFree;
    s.copy = SysCopy;
    s.null_ptr = nullptr;
    TCurrent current(ctx);
    ctx->Decompressor = mspack_create_cab_decompressor(&ctx->System);
    if (!ctx->Decompressor) {
        SetError(perf, FDIERROR_ALLOC_FAIL, 0);
        delete ctx;
        return nullptr;
    }
    // A larger input buffer: fewer read callbacks for the same bytes.
    ctx->Decompressor->set_param(ctx->Decompressor, MSCABD_PARAM_DECOMPBUF, 65536);
    return ctx;
}

TBool IsCabinet(HFDI hfdi, FHandle hf, TFDICabinetInfo* info) {
    auto* ctx = static_cast<TContext*>(hfdi);
    if (!ctx) return 0;
    TCurrent current(ctx);
    ctx->Borrowed = hf;
    mscabd_cabinet* cab = ctx->Decompressor->open(ctx->Decompressor, BorrowedName);
    if (!cab) {
        SetError(ctx->Erf, FDIERROR_NOT_A_CABINET,
                 ctx->Decompressor->last_error(ctx->Decompressor));
        return 0;
    }
    if (info) {
        TFDICabinetInfo i;
        i.cbCabinet = static_cast<int32_t>(cab->length);
        for (auto* f = cab->folders; f; f = f->next) ++i.cFolders;
        for (auto* f = cab->files; f; f = f->next) ++i.cFiles;
        i.setID = cab->set_id;
        i.iCabinet = cab->set_index;
        i.fReserve = (cab->flags & MSCAB_HDR_RESV) != 0;
        i.hasprev = (cab->flags & MSCAB_HDR_PREVCAB) != 0;
        i.hasnext = (cab->flags & MSCAB_HDR_NEXTCAB) != 0;
        *info = i;
    }
    ctx->Decompressor->close(ctx->Decompressor, cab);
    SetError(ctx->Erf, FDIERROR_NONE, 0);
    return 1;
}

TBool Copy(HFDI hfdi, const char* pszCabinet, const char* pszCabPath, int /*flags*/,
           PFNFDINOTIFY notify, PFNFDIDECRYPT /*decrypt*/, void* pvUser) {
    auto* ctx = static_cast<TContext*>(hfdi);
    if (!ctx || !pszCabinet || !notify) return 0;
    TCurrent current(ctx);
    std::string path = std::string(pszCabPath ? pszCabPath : "") + pszCabinet;
    mscab_decompressor* d = ctx->Decompressor;
    mscabd_cabinet* cab = d->open(d, path.c_str());
    if (!cab) {
        int err = d->last_error(d);
        SetError(ctx->Erf,
                 err == MSPACK_ERR_OPEN ? FDIERROR_CABINET_NOT_FOUND : FDIERROR_NOT_A_CABINET, err);
        return 0;
    }

    TFDINotification info;
    info.psz1 = cab->nextname ? cab->nextname : "";
    info.psz2 = cab->nextinfo ? cab->nextinfo : "";
    info.psz3 = pszCabPath ? pszCabPath : "";
    info.pv = pvUser;
    info.setID = cab->set_id;
    info.iCabinet = cab->set_index;
    if (notify(fdintCABINET_INFO, &info) == -1) {
        d->close(d, cab);
        SetError(ctx->Erf, FDIERROR_USER_ABORT, 0);
        return 0;
    }

    int result = 1;
    for (mscabd_file* f = cab->files; f; f = f->next) {
        TFDINotification n;
        n.cb = static_cast<int32_t>(f->length);
        n.psz1 = f->filename;
        n.pv = pvUser;
        n.date = PackDate(f);
        n.time = PackTime(f);
        n.attribs = static_cast<uint16_t>(f->attribs);
        FHandle hf = notify(fdintCOPY_FILE, &n);
        if (hf == 0) continue;
        if (hf == -1) {
            SetError(ctx->Erf, FDIERROR_USER_ABORT, 0);
            result = 0;
            break;
        }
        ctx->Output = hf;
        ctx->OutputLeft = f->length;
        int err = d->extract(d, f, OutputName);
        if (err != MSPACK_ERR_OK) {
            // The entry's handle must not leak; its owner gets no close-file for it.
            ctx->Close(hf);
            SetError(ctx->Erf, ErrorFromMspack(err), err);
            result = 0;
            break;
        }
        n.hf = hf;
        n.cb = 0;
        if (notify(fdintCLOSE_FILE_INFO, &n) != 1) {
            SetError(ctx->Erf, FDIERROR_USER_ABORT, 0);
            result = 0;
            break;
        }
    }
    d->close(d, cab);
    if (result) SetError(ctx->Erf, FDIERROR_NONE, 0);
    return result;
}

TBool Destroy(HFDI hfdi) {
    auto* ctx = static_cast<TContext*>(hfdi);
    if (!ctx) return 0;
    TCurrent current(ctx);
    mspack_destroy_cab_decompressor(ctx->Decompressor);
    delete ctx;
    return 1;
}

// The one library this binding knows; its "handle" is a token.
int LibraryToken;
int LoadCount = 0;

bool IsCabinetLibraryName(const std::string& name) {
    return plat::SameText(name, "cabinet.dll");
}

} // namespace

TLibraryHandle LoadCabinetLibrary(const std::string& name) {
    if (!IsCabinetLibraryName(name)) return nullptr;
    ++LoadCount;
    return &LibraryToken;
}

TLibraryHandle GetCabinetModuleHandle(const std::string& name) {
    return IsCabinetLibraryName(name) && LoadCount > 0 ? &LibraryToken : nullptr;
}

void* GetCabinetProcAddress(TLibraryHandle library, const std::string& procName) {
    if (library != &LibraryToken) return nullptr;
    if (procName == "FDICreate") return reinterpret_cast<void*>(&Create);
    if (procName == "FDIIsCabinet") return reinterpret_cast<void*>(&IsCabinet);
    if (procName == "FDICopy") return reinterpret_cast<void*>(&Copy);
    if (procName == "FDIDestroy") return reinterpret_cast<void*>(&Destroy);
    return nullptr;
}

void FreeCabinetLibrary(TLibraryHandle library) {
    if (library == &LibraryToken && LoadCount > 0) --LoadCount;
}

bool LibraryChecksBlocks() {
    return true; // libmspack's decompressor, out of its salvage mode
}

} // namespace fdi
