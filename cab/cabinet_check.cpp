// The published cabinet format's data block checksum: the block's data, then its two size
// fields, XORed as little-endian 32-bit words, the last short word taken high byte first.
#include "cab/cabinet_check.h"

#include <vector>

namespace {

uint32_t Checksum(const uint8_t* data, size_t count, uint32_t sum) {
    for (size_t words = count / 4; words > 0; --words, data += 4)
        sum ^= uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
               uint32_t(data[3]) << 24;
    uint32_t last = 0;
    switch (count % 4) {
    case 3:
        last |= uint32_t(*data++) << 16;
        [[fallthrough]];
    case 2:
        last |= uint32_t(*data++) << 8;
        [[fallthrough]];
    case 1:
        last |= *data;
        break;
    default:
        break;
    }
    return sum ^ last;
}

uint16_t U16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
uint32_t U32(const uint8_t* p) {
    return uint32_t(U16(p)) | uint32_t(U16(p + 2)) << 16;
}

constexpr uint16_t PreviousCabinet = 0x0001, NextCabinet = 0x0002, ReservePresent = 0x0004;

} // namespace

bool CabinetBlocksIntact(const TCabinetReader& readAt) {
    uint8_t header[36];
    if (!readAt(0, header, sizeof header) || U32(header) != 0x4643534Du) return true; // "MSCF"
    const uint16_t folders = U16(header + 26), flags = U16(header + 30);
    if (flags & (PreviousCabinet | NextCabinet)) return true;
    int64_t at = sizeof header;
    size_t folderReserve = 0, dataReserve = 0;
    if (flags & ReservePresent) {
        uint8_t sizes[4];
        if (!readAt(at, sizes, sizeof sizes)) return true;
        folderReserve = sizes[2];
        dataReserve = sizes[3];
        at += sizeof sizes + U16(sizes);
    }
    std::vector<uint8_t> block;
    for (uint16_t folder = 0; folder < folders; ++folder) {
        uint8_t entry[8];
        if (!readAt(at + int64_t(folder) * int64_t(8 + folderReserve), entry, sizeof entry))
            return true;
        int64_t blockAt = U32(entry);
        for (uint16_t n = U16(entry + 4); n > 0; --n) {
            uint8_t head[8];
            if (!readAt(blockAt, head, sizeof head)) return true;
            const uint32_t sum = U32(head);
            const uint16_t size = U16(head + 4);
            blockAt += int64_t(sizeof head + dataReserve);
            if (sum != 0) {
                block.resize(size);
                if (!readAt(blockAt, block.data(), size)) return true;
                if (Checksum(head + 4, 4, Checksum(block.data(), size, 0)) != sum) return false;
            }
            blockAt += size;
        }
    }
    return true;
}
