// TCABFile building: one-file cabinets whose bytes depend only on the file, its stored name
// and the compression, so a rebuilt update site is byte-identical.
#include <algorithm>
#include <cstring>

#include "cab/cabfiles.h"
#include "cab/cabinet_build.h"
#include "platform/files.h"

namespace cab {

plat::TSystemTime StoredDateOf(const plat::TUnixTime& lastWrite) {
    // A cabinet stores local calendar time from 1980 to 2107 in steps of two seconds.
    plat::TSystemTime d;
    if (!plat::UnixToLocal(lastWrite, d) || d.Year < 1980) d = {1980, 1, 1, 0, 0, 0, 0};
    if (d.Year > 2107) d = {2107, 12, 31, 23, 59, 58, 0};
    d.Second -= d.Second % 2;
    d.Milliseconds = 0;
    return d;
}

uint16_t PackDate(const plat::TSystemTime& t) {
    return static_cast<uint16_t>(((t.Year - 1980) & 0x7F) << 9 | (t.Month & 0x0F) << 5 |
                                 (t.Day & 0x1F));
}

uint16_t PackTime(const plat::TSystemTime& t) {
    return static_cast<uint16_t>((t.Hour & 0x1F) << 11 | (t.Minute & 0x3F) << 5 |
                                 ((t.Second / 2) & 0x1F));
}

namespace {

uint32_t Get32(const std::string& b, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(b[at])) |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}

uint16_t Get16(const std::string& b, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1])
                                                                   << 8);
}

} // namespace

bool ReadCabinetSummary(const std::string& cabinetFile, TCabinetSummary& summary) {
    // Header (36), one folder record (8), one file record (16) and its name.
    constexpr size_t Wanted = 36 + 8 + 16 + 1024;
    plat::TFile file(plat::FileOpen(cabinetFile, plat::TOpenMode::Read));
    if (!file.Valid()) return false;
    std::string b(Wanted, '\0');
    size_t got = 0;
    while (got < Wanted) {
        int64_t n = plat::FileRead(file.Get(), b.data() + got, Wanted - got);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    b.resize(got);
    if (got < 36 + 8 + 16 + 2 || b.compare(0, 4, "MSCF") != 0) return false;
    uint32_t coffFiles = Get32(b, 16);
    if (Get16(b, 26) != 1 || Get16(b, 28) != 1 || Get16(b, 30) != 0) return false;
    if (coffFiles < 44 || coffFiles + 16 >= got) return false;
    size_t nameAt = coffFiles + 16;
    size_t nameEnd = b.find('\0', nameAt);
    if (nameEnd == std::string::npos) return false;
    summary.Compression = Get16(b, 36 + 6) & 0x0F;
    summary.Size = Get32(b, coffFiles);
    summary.Date = Get16(b, coffFiles + 10);
    summary.Time = Get16(b, coffFiles + 12);
    summary.Attributes = Get16(b, coffFiles + 14);
    summary.StoredName = b.substr(nameAt, nameEnd - nameAt);
    return true;
}

} // namespace cab

void TCABFile::CompressFile(const std::string& sourceFile, const std::string& storedName) {
    cab::TBuildCompression compression = cab::TBuildCompression::MSZIP;
    switch (CompressionType) {
    case typNone:
        compression = cab::TBuildCompression::None;
        break;
    case typMSZIP:
        compression = cab::TBuildCompression::MSZIP;
        break;
    case typLZX:
        throw ECABFileError("LZX compression is not available for building cabinets; "
                            "use MSZIP or none");
    }
    if (CABFile.empty()) throw ECABFileError("No cabinet file name given");

    plat::TDirEntry info;
    if (!plat::FindEntry(sourceFile, info) || info.IsDirectory)
        throw ECABFileError("Cannot read " + sourceFile + ": " +
                            plat::SysErrorMessage(plat::GetLastError()));
    if (info.Size > 0x7FFFFFFF) throw ECABFileError(sourceFile + " is too large for a cabinet");

    cab::TBuildEntry entry;
    entry.StoredName = storedName;
    if (!plat::ReadFileText(sourceFile, entry.Data))
        throw ECABFileError("Cannot read " + sourceFile + ": " +
                            plat::SysErrorMessage(plat::GetLastError()));
    entry.Date = cab::StoredDateOf(info.LastWrite);

    std::string bytes = cab::BuildCabinet(entry, compression, [this](int64_t pos, int64_t tot) {
        if (OnCompressProgress)
            OnCompressProgress(this, static_cast<int>(pos), static_cast<int>(tot));
    });

    // Written beside the target and renamed into place: a failure never leaves a torn
    // cabinet under the target's name.
    std::string temp = CABFile + ".kvtmp";
    plat::TFile file(plat::FileCreate(temp));
    if (!file.Valid())
        throw ECABFileError("Cannot create " + temp + ": " +
                            plat::SysErrorMessage(plat::GetLastError()));
    size_t done = 0;
    bool ok = true;
    while (ok && done < bytes.size()) {
        int64_t n = plat::FileWrite(file.Get(), bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            ok = false;
        else
            done += static_cast<size_t>(n);
    }
    int error = ok ? 0 : plat::GetLastError();
    if (!file.Close() && ok) {
        ok = false;
        error = plat::GetLastError();
    }
    // The rename does not replace: the old cabinet goes first (a read-only one stays, and
    // the build fails as a copy over it would).
    if (ok && plat::FileExists(CABFile) && !plat::DeleteFile(CABFile)) {
        ok = false;
        error = plat::GetLastError();
    }
    if (ok && !plat::RenameFile(temp, CABFile)) {
        ok = false;
        error = plat::GetLastError();
    }
    if (!ok) {
        plat::DeleteFile(temp);
        throw ECABFileError("Cannot write " + CABFile + ": " + plat::SysErrorMessage(error));
    }
}
