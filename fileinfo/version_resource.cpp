// Reading the fixed-file-info record straight from the file's bytes: an ELF file's
// ".kvversion" section, or the RT_VERSION resource of a PE file. Every offset read from the
// file is checked against what can actually be read; a damaged file yields nothing.
#include <cstring>

#include "fileinfo/file_info.h"
#include "platform/files.h"

namespace {

// Random-access reads of one open file.
class TFileBytes {
public:
    explicit TFileBytes(const std::string& name)
        : FFile(plat::FileOpen(name, plat::TOpenMode::Read)) {}

    bool Valid() const { return FFile.Valid(); }

    bool ReadAt(uint64_t offset, void* buffer, size_t count) {
        if (offset > uint64_t(INT64_MAX)) return false;
        if (plat::FileSeek(FFile.Get(), static_cast<int64_t>(offset), 0) < 0) return false;
        auto* p = static_cast<uint8_t*>(buffer);
        while (count > 0) {
            int64_t got = plat::FileRead(FFile.Get(), p, count);
            if (got <= 0) return false;
            p += got;
            count -= static_cast<size_t>(got);
        }
        return true;
    }

private:
    plat::TFile FFile;
};

// Little- or big-endian fields of a buffer.
struct TEndian {
    bool Big = false;
    uint16_t U16(const uint8_t* p) const {
        return Big ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
    }
    uint32_t U32(const uint8_t* p) const {
        return Big ? uint32_t(U16(p)) << 16 | U16(p + 2) : uint32_t(U16(p + 2)) << 16 | U16(p);
    }
    uint64_t U64(const uint8_t* p) const {
        return Big ? uint64_t(U32(p)) << 32 | U32(p + 4) : uint64_t(U32(p + 4)) << 32 | U32(p);
    }
};

std::optional<TFixedFileInfo> Decode(const uint8_t* data, TEndian e) {
    uint32_t f[13];
    for (int i = 0; i < 13; ++i) f[i] = e.U32(data + 4 * i);
    if (f[0] != FixedFileInfoSignature) return std::nullopt;
    TFixedFileInfo r;
    r.dwSignature = f[0];
    r.dwStrucVersion = f[1];
    r.dwFileVersionMS = f[2];
    r.dwFileVersionLS = f[3];
    r.dwProductVersionMS = f[4];
    r.dwProductVersionLS = f[5];
    r.dwFileFlagsMask = f[6];
    r.dwFileFlags = f[7];
    r.dwFileOS = f[8];
    r.dwFileType = f[9];
    r.dwFileSubtype = f[10];
    r.dwFileDateMS = f[11];
    r.dwFileDateLS = f[12];
    return r;
}

std::optional<TFixedFileInfo> ReadElf(TFileBytes& file, const uint8_t* ident) {
    const bool is64 = ident[4] == 2;
    if (ident[4] != 1 && !is64) return std::nullopt;
    if (ident[5] != 1 && ident[5] != 2) return std::nullopt;
    TEndian e{ident[5] == 2};
    uint8_t h[64];
    if (!file.ReadAt(0, h, is64 ? 64 : 52)) return std::nullopt;
    const uint64_t shoff = is64 ? e.U64(h + 0x28) : e.U32(h + 0x20);
    const uint16_t shentsize = e.U16(h + (is64 ? 0x3A : 0x2E));
    uint64_t shnum = e.U16(h + (is64 ? 0x3C : 0x30));
    uint32_t shstrndx = e.U16(h + (is64 ? 0x3E : 0x32));
    const size_t minEntry = is64 ? 64 : 40;
    if (shoff == 0 || shentsize < minEntry) return std::nullopt;

    struct TSection {
        uint32_t Name = 0, Type = 0, Link = 0;
        uint64_t Offset = 0, Size = 0;
    };
    auto section = [&](uint64_t index, TSection& s) {
        uint8_t b[64];
        if (!file.ReadAt(shoff + index * shentsize, b, minEntry)) return false;
        s.Name = e.U32(b);
        s.Type = e.U32(b + 4);
        s.Offset = is64 ? e.U64(b + 0x18) : e.U32(b + 0x10);
        s.Size = is64 ? e.U64(b + 0x20) : e.U32(b + 0x14);
        s.Link = e.U32(b + (is64 ? 0x28 : 0x18));
        return true;
    };
    // Many sections: the real count and string-table index live in section 0.
    if (shnum == 0 || shstrndx == 0xFFFF) {
        TSection zero;
        if (!section(0, zero)) return std::nullopt;
        if (shnum == 0) shnum = zero.Size;
        if (shstrndx == 0xFFFF) shstrndx = zero.Link;
    }
    if (shnum > 1000000 || shstrndx >= shnum) return std::nullopt;
    TSection names;
    if (!section(shstrndx, names)) return std::nullopt;

    static const char Wanted[] = ".kvversion"; // with its NUL
    for (uint64_t i = 0; i < shnum; ++i) {
        TSection s;
        if (!section(i, s)) return std::nullopt;
        constexpr uint32_t SHT_NOBITS = 8;
        if (s.Type == SHT_NOBITS || s.Size < FixedFileInfoSize) continue;
        if (s.Name >= names.Size || names.Size - s.Name < sizeof Wanted) continue;
        char name[sizeof Wanted];
        if (!file.ReadAt(names.Offset + s.Name, name, sizeof name)) continue;
        if (std::memcmp(name, Wanted, sizeof Wanted) != 0) continue;
        uint8_t record[FixedFileInfoSize];
        if (!file.ReadAt(s.Offset, record, sizeof record)) return std::nullopt;
        return Decode(record, e);
    }
    return std::nullopt;
}

struct TPeSection {
    uint32_t VirtualAddress, VirtualSize, RawSize, RawOffset;
};

// The file offset of a relative virtual address, and how many bytes follow it there.
bool RvaToOffset(const std::vector<TPeSection>& sections, uint32_t rva, uint64_t& offset,
                 uint64_t& avail) {
    for (const TPeSection& s : sections) {
        const uint64_t extent = s.VirtualSize > s.RawSize ? s.VirtualSize : s.RawSize;
        if (rva >= s.VirtualAddress && rva - s.VirtualAddress < extent) {
            const uint64_t delta = rva - s.VirtualAddress;
            if (delta >= s.RawSize) return false; // not backed by file bytes
            offset = uint64_t(s.RawOffset) + delta;
            avail = s.RawSize - delta;
            return true;
        }
    }
    return false;
}

std::optional<TFixedFileInfo> ReadPe(TFileBytes& file) {
    const TEndian e;
    uint8_t dos[64];
    if (!file.ReadAt(0, dos, sizeof dos)) return std::nullopt;
    const uint32_t peOffset = e.U32(dos + 0x3C);
    uint8_t coff[24];
    if (!file.ReadAt(peOffset, coff, sizeof coff)) return std::nullopt;
    if (std::memcmp(coff, "PE\0\0", 4) != 0) return std::nullopt;
    const uint16_t sectionCount = e.U16(coff + 6);
    const uint16_t optionalSize = e.U16(coff + 20);
    const uint64_t optional = uint64_t(peOffset) + 24;
    uint8_t magic[2];
    if (!file.ReadAt(optional, magic, 2)) return std::nullopt;
    const uint16_t kind = e.U16(magic);
    if (kind != 0x10B && kind != 0x20B) return std::nullopt;
    const uint32_t dirsAt = kind == 0x20B ? 112 : 96;
    constexpr uint32_t ResourceDirectory = 2;
    if (optionalSize < dirsAt + 8 * (ResourceDirectory + 1)) return std::nullopt;
    uint8_t counts[4], resDir[8];
    if (!file.ReadAt(optional + dirsAt - 4, counts, 4)) return std::nullopt;
    if (e.U32(counts) <= ResourceDirectory) return std::nullopt;
    if (!file.ReadAt(optional + dirsAt + 8 * ResourceDirectory, resDir, 8)) return std::nullopt;
    const uint32_t resRva = e.U32(resDir);
    if (resRva == 0) return std::nullopt;

    std::vector<TPeSection> sections;
    const uint64_t table = optional + optionalSize;
    for (uint16_t i = 0; i < sectionCount; ++i) {
        uint8_t s[40];
        if (!file.ReadAt(table + 40u * i, s, sizeof s)) return std::nullopt;
        sections.push_back({e.U32(s + 12), e.U32(s + 8), e.U32(s + 16), e.U32(s + 20)});
    }
    uint64_t resOffset = 0, resAvail = 0;
    if (!RvaToOffset(sections, resRva, resOffset, resAvail)) return std::nullopt;

    // One directory level: the entry with the wanted id, or the first entry when id < 0.
    // Returns the entry's offset field (high bit: a subdirectory).
    auto lookup = [&](uint32_t dirOffset, int64_t id, uint32_t& target) {
        uint8_t d[16];
        if (dirOffset > resAvail || resAvail - dirOffset < 16) return false;
        if (!file.ReadAt(resOffset + dirOffset, d, sizeof d)) return false;
        const uint32_t n = uint32_t(e.U16(d + 12)) + e.U16(d + 14);
        for (uint32_t i = 0; i < n; ++i) {
            const uint64_t at = uint64_t(dirOffset) + 16 + 8u * i;
            if (at + 8 > resAvail) return false;
            uint8_t entry[8];
            if (!file.ReadAt(resOffset + at, entry, 8)) return false;
            const uint32_t name = e.U32(entry);
            if (id < 0 || (!(name & 0x80000000u) && name == uint32_t(id))) {
                target = e.U32(entry + 4);
                return true;
            }
        }
        return false;
    };
    constexpr uint32_t Subdirectory = 0x80000000u;
    constexpr int64_t RT_VERSION = 16;
    uint32_t byType = 0, byName = 0, byLanguage = 0;
    if (!lookup(0, RT_VERSION, byType) || !(byType & Subdirectory)) return std::nullopt;
    if (!lookup(byType & ~Subdirectory, -1, byName) || !(byName & Subdirectory))
        return std::nullopt;
    if (!lookup(byName & ~Subdirectory, -1, byLanguage) || (byLanguage & Subdirectory))
        return std::nullopt;
    if (byLanguage > resAvail || resAvail - byLanguage < 16) return std::nullopt;
    uint8_t dataEntry[16];
    if (!file.ReadAt(resOffset + byLanguage, dataEntry, sizeof dataEntry)) return std::nullopt;
    const uint32_t dataRva = e.U32(dataEntry);
    const uint32_t dataSize = e.U32(dataEntry + 4);
    uint64_t dataOffset = 0, dataAvail = 0;
    if (!RvaToOffset(sections, dataRva, dataOffset, dataAvail)) return std::nullopt;
    if (dataSize < dataAvail) dataAvail = dataSize;

    // VS_VERSIONINFO: length, value length, type, the UTF-16 key "VS_VERSION_INFO" and
    // its NUL, padding to a 32-bit boundary, then the fixed record.
    static const char Key[] = "VS_VERSION_INFO";
    constexpr size_t KeyBytes = sizeof Key * 2;
    constexpr size_t ValueAt = (6 + KeyBytes + 3) & ~size_t(3);
    if (dataAvail < ValueAt + FixedFileInfoSize) return std::nullopt;
    uint8_t block[ValueAt + FixedFileInfoSize];
    if (!file.ReadAt(dataOffset, block, sizeof block)) return std::nullopt;
    if (e.U16(block + 2) < FixedFileInfoSize) return std::nullopt;
    for (size_t i = 0; i < sizeof Key; ++i)
        if (e.U16(block + 6 + 2 * i) != uint16_t(uint8_t(Key[i]))) return std::nullopt;
    return Decode(block + ValueAt, e);
}

} // namespace

std::optional<TFixedFileInfo> DecodeFixedFileInfo(const uint8_t* data, size_t size) {
    if (size < FixedFileInfoSize) return std::nullopt;
    return Decode(data, TEndian{});
}

std::optional<TFixedFileInfo> ReadFixedFileInfo(const std::string& fileName) {
    TFileBytes file(fileName);
    if (!file.Valid()) return std::nullopt;
    uint8_t ident[16];
    if (!file.ReadAt(0, ident, sizeof ident)) return std::nullopt;
    if (std::memcmp(ident,
                    "\x7f"
                    "ELF",
                    4) == 0)
        return ReadElf(file, ident);
    if (ident[0] == 'M' && ident[1] == 'Z') return ReadPe(file);
    return std::nullopt;
}
