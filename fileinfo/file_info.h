#pragma once
// TFileInfo: one file's version number, name parts, size, folder, drive, three time
// stamps and short name, all worked out when Filename is written.
//
// On POSIX, "/" separates folders as "\" does. Drive keeps its two Windows forms only: a
// name whose second character is ":" gives that letter and ":\"; a name that starts with
// two separators gives everything up to and including the next separator (empty when
// there is none). Any other name, a POSIX absolute path included, has an empty Drive.
// Creation is the file system's birth time, 0 where it keeps none. DOS83 is the entry's
// short name, or the upper-cased file-name part where it has none (on POSIX, always).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"

// A four-part version number.
class TVersion {
public:
    uint16_t Major = 0;
    uint16_t Minor = 0;
    uint16_t Release = 0;
    uint16_t Build = 0;
    // Major "." Minor " Release " Release " Build " Build, e.g. "4.4 Release 2 Build 35".
    std::string Text;
};

// Date-times in local time: days since 30 December 1899, the time of day as the fraction;
// 0 when no time could be obtained.
class TTimeStamp {
public:
    double Creation = 0;
    double LastWrite = 0;
    double LastAccess = 0;
};

// The fixed-information record of a version resource (VS_FIXEDFILEINFO), field by field.
struct TFixedFileInfo {
    uint32_t dwSignature = 0; // 0xFEEF04BD
    uint32_t dwStrucVersion = 0;
    uint32_t dwFileVersionMS = 0;
    uint32_t dwFileVersionLS = 0;
    uint32_t dwProductVersionMS = 0;
    uint32_t dwProductVersionLS = 0;
    uint32_t dwFileFlagsMask = 0;
    uint32_t dwFileFlags = 0;
    uint32_t dwFileOS = 0;
    uint32_t dwFileType = 0;
    uint32_t dwFileSubtype = 0;
    uint32_t dwFileDateMS = 0;
    uint32_t dwFileDateLS = 0;
};
constexpr uint32_t FixedFileInfoSignature = 0xFEEF04BDu;
constexpr size_t FixedFileInfoSize = 52; // 13 little-endian 32-bit fields

// The record of an ELF file (its ".kvversion" section) or of a PE file (its RT_VERSION
// resource), or nothing when the file has none or can't be read. Where the system reads
// version resources itself (version.dll on Windows), the system's reading.
std::optional<TFixedFileInfo> ReadFixedFileInfo(const std::string& fileName);
// The record from 52 little-endian bytes, when the signature is right.
std::optional<TFixedFileInfo> DecodeFixedFileInfo(const uint8_t* data, size_t size);

// A file time as the local date-time, 0 when it can't be converted. A creation time whose
// local year lies outside 1981..2050 is taken as unknown (0) too.
double FileTimeToDateTime(const plat::TUnixTime& time, bool creation);

class TFileInfo {
public:
    TFileInfo() = default;
    TFileInfo(const TFileInfo&) = delete;
    TFileInfo& operator=(const TFileInfo&) = delete;

    const std::string& Filename() const { return FFilename; }
    // Stores the name and works out every other property, in the order Version, Short,
    // Extension, WithoutExtension, Size, Path, Drive, TimeStamp, DOS83.
    void SetFilename(const std::string& name);

    // Plain stored values once Filename is written; writing them changes nothing else.
    TVersion Version;
    std::string Short;            // file-name part, when the file exists
    std::string WithoutExtension; // Short without Extension
    std::string Extension;        // from the last dot of Short, dot included
    int32_t Size = 0;             // low 32 bits of the size, as a signed number
    std::string Path;             // folder, with a trailing separator
    std::string Drive;
    TTimeStamp TimeStamp;
    std::string DOS83;

private:
    std::string FFilename;
};
