#pragma once
// The cabinet library binding in the shape of the file decompression interface (FDI):
// create a context with allocation and file callbacks, ask whether an open file is a
// cabinet, walk a cabinet with copy-file and close-file notifications, destroy the context.
// The library is bound for one use by name, as a shared library would be.
#include <cstddef>
#include <cstdint>
#include <string>

namespace fdi {

using FHandle = intptr_t;
using HFDI = void*;

// Open flags handed to the open callback (the C runtime's numbering).
constexpr int O_RDONLY_ = 0x0000;
constexpr int O_WRONLY_ = 0x0001;
constexpr int O_RDWR_ = 0x0002;

// The processor-type value for the 80386 setting.
constexpr int cpu80386 = 1;

enum TFDIError {
    FDIERROR_NONE = 0,
    FDIERROR_CABINET_NOT_FOUND = 1,
    FDIERROR_NOT_A_CABINET = 2,
    FDIERROR_UNKNOWN_CABINET_VERSION = 3,
    FDIERROR_CORRUPT_CABINET = 4,
    FDIERROR_ALLOC_FAIL = 5,
    FDIERROR_BAD_COMPR_TYPE = 6,
    FDIERROR_MDI_FAIL = 7,
    FDIERROR_TARGET_FILE = 8,
    FDIERROR_RESERVE_MISMATCH = 9,
    FDIERROR_WRONG_CABINET = 10,
    FDIERROR_USER_ABORT = 11,
};

// The library's 32-bit truth value (BOOL), and its "long", 32 bits on both widths.
using TBool = int32_t;
using TLong = int32_t;

// Error record filled by the library.
struct TERF {
    int32_t erfOper = 0; // a TFDIError
    int32_t erfType = 0; // the library's own detail code
    TBool fError = 0;
};

struct TFDICabinetInfo {
    TLong cbCabinet = 0;
    uint16_t cFolders = 0;
    uint16_t cFiles = 0;
    uint16_t setID = 0;
    uint16_t iCabinet = 0;
    TBool fReserve = 0;
    TBool hasprev = 0;
    TBool hasnext = 0;
};

enum TFDINotificationType {
    fdintCABINET_INFO = 0,
    fdintPARTIAL_FILE = 1,
    fdintCOPY_FILE = 2,
    fdintCLOSE_FILE_INFO = 3,
    fdintNEXT_CABINET = 4,
    fdintENUMERATE = 5,
};

// What a notification carries. Copy-file: psz1 = stored name, cb = uncompressed size,
// date/time/attribs = the entry's packed date, time and attributes. Close-file: hf = the
// handle the copy-file notification returned, psz1, date, time, attribs as above.
struct TFDINotification {
    TLong cb = 0;
    const char* psz1 = nullptr;
    const char* psz2 = nullptr;
    const char* psz3 = nullptr;
    void* pv = nullptr; // the user value given to FDICopy
    FHandle hf = 0;
    uint16_t date = 0;
    uint16_t time = 0;
    uint16_t attribs = 0;
    uint16_t setID = 0;
    uint16_t iCabinet = 0;
    uint16_t iFolder = 0;
    int32_t fdie = FDIERROR_NONE;
};

// The layouts the library itself has, 32-bit and 64-bit: a field out of place corrupts
// memory without a word.
constexpr bool Wide = sizeof(void*) == 8;
static_assert(sizeof(TERF) == 12 && offsetof(TERF, fError) == 8);
static_assert(sizeof(TFDICabinetInfo) == 24 && offsetof(TFDICabinetInfo, cFolders) == 4 &&
              offsetof(TFDICabinetInfo, fReserve) == 12 &&
              offsetof(TFDICabinetInfo, hasnext) == 20);
static_assert(sizeof(TFDINotification) == (Wide ? 64 : 40));
static_assert(offsetof(TFDINotification, psz1) == (Wide ? 8 : 4));
static_assert(offsetof(TFDINotification, pv) == (Wide ? 32 : 16));
static_assert(offsetof(TFDINotification, hf) == (Wide ? 40 : 20));
static_assert(offsetof(TFDINotification, date) == (Wide ? 48 : 24));
static_assert(offsetof(TFDINotification, iFolder) == (Wide ? 58 : 34));
static_assert(offsetof(TFDINotification, fdie) == (Wide ? 60 : 36));

// Entry attribute bits.
constexpr uint16_t A_RDONLY = 0x01;
constexpr uint16_t A_HIDDEN = 0x02;
constexpr uint16_t A_SYSTEM = 0x04;
constexpr uint16_t A_ARCH = 0x20;
constexpr uint16_t A_EXEC = 0x40;
constexpr uint16_t A_NAME_IS_UTF = 0x80;

// The library calls with the C calling convention on every width (it is the default of
// 32-bit Windows compilers for these, and the only one of 64-bit code).
#if defined(_WIN32) && !defined(_WIN64)
#define KV_FDI_CALL __cdecl
#else
#define KV_FDI_CALL
#endif

// Callbacks. read and write return the byte count, or -1 (all bits set) on failure; seek
// returns the new position or -1; close returns 0 on success. The copy-file notification
// returns a handle to write the entry to, 0 to skip the entry, -1 to abandon the walk; the
// close-file notification returns 1 (true) to go on. Positions are 32-bit: no cabinet is
// longer than 2 GiB.
using PFNALLOC = void*(KV_FDI_CALL*)(uint32_t cb);
using PFNFREE = void(KV_FDI_CALL*)(void* pv);
using PFNOPEN = FHandle(KV_FDI_CALL*)(const char* pszFile, int oflag, int pmode);
using PFNREAD = uint32_t(KV_FDI_CALL*)(FHandle hf, void* pv, uint32_t cb);
using PFNWRITE = uint32_t(KV_FDI_CALL*)(FHandle hf, const void* pv, uint32_t cb);
using PFNCLOSE = int(KV_FDI_CALL*)(FHandle hf);
using PFNSEEK = TLong(KV_FDI_CALL*)(FHandle hf, TLong dist, int seektype);
using PFNFDINOTIFY = FHandle(KV_FDI_CALL*)(TFDINotificationType type, TFDINotification* pfdin);
using PFNFDIDECRYPT = int(KV_FDI_CALL*)(void* pfdid);

// A failed read or write, as the callbacks return it.
constexpr uint32_t TransferFailed = 0xFFFFFFFFu;

using TFDICreate = HFDI(KV_FDI_CALL*)(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE,
                                      PFNSEEK, int cpuType, TERF* perf);
using TFDIIsCabinet = TBool(KV_FDI_CALL*)(HFDI hfdi, FHandle hf, TFDICabinetInfo* pfdici);
using TFDICopy = TBool(KV_FDI_CALL*)(HFDI hfdi, const char* pszCabinet, const char* pszCabPath,
                                     int flags, PFNFDINOTIFY pfnfdin, PFNFDIDECRYPT pfnfdid,
                                     void* pvUser);
using TFDIDestroy = TBool(KV_FDI_CALL*)(HFDI hfdi);

// Binding the library by name ("cabinet.dll"); nullptr when it can't be loaded.
using TLibraryHandle = void*;
TLibraryHandle LoadCabinetLibrary(const std::string& name);
// The handle of an already loaded library by the same name, or nullptr.
TLibraryHandle GetCabinetModuleHandle(const std::string& name);
// An entry point by name ("FDICreate", "FDIIsCabinet", "FDICopy", "FDIDestroy").
void* GetCabinetProcAddress(TLibraryHandle library, const std::string& procName);
void FreeCabinetLibrary(TLibraryHandle library);
// Whether the library refuses every data block that does not hold its checksum: where it
// does, nothing needs to check the blocks before it unpacks them.
bool LibraryChecksBlocks();

} // namespace fdi
