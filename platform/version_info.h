#pragma once
// The system's own reading of a file's version resource, where it has one: version.dll on
// Windows (GetFileVersionInfoSizeA, GetFileVersionInfoA, VerQueryValueA). Each side
// implements it.
#include <string>

namespace plat {

// True where the system reads version resources itself: record then holds the 52 bytes of the
// file's fixed-file-info record (VS_FIXEDFILEINFO), or is empty when the file has none or it
// can't be read. False where the system has no reader (POSIX): the caller reads the file's
// bytes itself.
bool SystemVersionRecord(const std::string& fileName, std::string& record);

} // namespace plat
