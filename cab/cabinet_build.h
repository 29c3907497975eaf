#pragma once
// Building one-file cabinets with the cabinet-writing library (kept behind this header so
// nothing else sees its object system).
#include <cstdint>
#include <functional>
#include <string>

#include "platform/clock.h"

namespace cab {

enum class TBuildCompression { None, MSZIP };

struct TBuildEntry {
    std::string StoredName;     // "\" or "/" between folders; stored with "\"
    std::string Data;           // the file's bytes
    plat::TSystemTime Date;     // local time; seconds are stored in steps of two
    uint16_t Attributes = 0x20; // archive
};

// The cabinet's bytes. Raises ECABFileError when the library refuses. The result depends
// on nothing but the arguments.
std::string BuildCabinet(const TBuildEntry& entry, TBuildCompression compression,
                         const std::function<void(int64_t pos, int64_t tot)>& progress);

// The header facts of a cabinet written by BuildCabinet (one folder, one file), enough to
// tell whether rebuilding would change it. False for anything else.
struct TCabinetSummary {
    int Compression = 0; // 0 none, 1 MSZIP, 2 Quantum, 3 LZX
    std::string StoredName;
    uint32_t Size = 0;
    uint16_t Date = 0, Time = 0, Attributes = 0;
};
bool ReadCabinetSummary(const std::string& cabinetFile, TCabinetSummary& summary);

// The local date and time a cabinet built from a file last written at lastWrite stores:
// clamped to 1980..2107, seconds in steps of two.
plat::TSystemTime StoredDateOf(const plat::TUnixTime& lastWrite);

// The packed date and time a cabinet stores for a local time.
uint16_t PackDate(const plat::TSystemTime& t);
uint16_t PackTime(const plat::TSystemTime& t);

} // namespace cab
