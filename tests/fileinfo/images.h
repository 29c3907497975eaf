#pragma once
// Small ELF and PE files built byte by byte, carrying a chosen version record.
#include <cstdint>
#include <string>

namespace kvtest {

struct TVersionNumbers {
    uint16_t Major, Minor, Release, Build;
};

// The 52-byte fixed-file-info record.
std::string FixedFileInfoBytes(TVersionNumbers v);

// A 64-bit little-endian ELF file with a section named sectionName holding record.
std::string ElfImage(const std::string& record, const std::string& sectionName = ".kvversion");

// A PE file (PE32, or PE32+ when wide) whose resources hold an icon type with a named entry
// and, when withVersion, an RT_VERSION resource with the "VS_VERSION_INFO" block.
std::string PeImage(TVersionNumbers v, bool wide = false, bool withVersion = true);

} // namespace kvtest
