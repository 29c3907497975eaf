#pragma once
// Cabinets put together byte by byte, for what no cabinet writer here produces: LZX data,
// unsafe stored names, headers that lie.
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace cabtest {

struct TCraftFile {
    std::string Name;
    uint32_t Size = 0;
    uint32_t Offset = 0; // in the folder's uncompressed data
    uint16_t Folder = 0;
    uint16_t Date = (2020 - 1980) << 9 | 6 << 5 | 15; // 15 June 2020
    uint16_t Time = 12 << 11 | 30 << 5 | 10;          // 12:30:20
    uint16_t Attribs = 0x20;
};

struct TCraftBlock {
    std::string Data;      // as stored
    uint16_t Uncompressed; // bytes it unpacks to
};

inline void Put16(std::string& b, uint16_t v) {
    b += static_cast<char>(v & 0xFF);
    b += static_cast<char>(v >> 8);
}

inline void Put32(std::string& b, uint32_t v) {
    Put16(b, static_cast<uint16_t>(v & 0xFFFF));
    Put16(b, static_cast<uint16_t>(v >> 16));
}

// One folder of the given compression type word (0 none, 1 MSZIP, 2|level<<4 Quantum,
// 3|window<<8 LZX). Data blocks carry no checksum (zero means none).
inline std::string CraftCabinet(uint16_t compression, const std::vector<TCraftFile>& files,
                                const std::vector<TCraftBlock>& blocks) {
    std::string fileRecords;
    for (const TCraftFile& f : files) {
        Put32(fileRecords, f.Size);
        Put32(fileRecords, f.Offset);
        Put16(fileRecords, f.Folder);
        Put16(fileRecords, f.Date);
        Put16(fileRecords, f.Time);
        Put16(fileRecords, f.Attribs);
        fileRecords += f.Name;
        fileRecords += '\0';
    }
    std::string data;
    for (const TCraftBlock& b : blocks) {
        Put32(data, 0);
        Put16(data, static_cast<uint16_t>(b.Data.size()));
        Put16(data, b.Uncompressed);
        data += b.Data;
    }
    uint32_t coffFiles = 36 + 8;
    uint32_t coffCabStart = coffFiles + static_cast<uint32_t>(fileRecords.size());
    std::string cab = "MSCF";
    Put32(cab, 0);
    Put32(cab, coffCabStart + static_cast<uint32_t>(data.size()));
    Put32(cab, 0);
    Put32(cab, coffFiles);
    Put32(cab, 0);
    cab += static_cast<char>(3); // version 1.3
    cab += static_cast<char>(1);
    Put16(cab, 1); // folders
    Put16(cab, static_cast<uint16_t>(files.size()));
    Put16(cab, 0); // flags
    Put16(cab, 0); // set id
    Put16(cab, 0); // index in set
    Put32(cab, coffCabStart);
    Put16(cab, static_cast<uint16_t>(blocks.size()));
    Put16(cab, compression);
    return cab + fileRecords + data;
}

// Stored blocks of at most 32768 bytes for the given data.
inline std::vector<TCraftBlock> StoredBlocks(const std::string& data) {
    std::vector<TCraftBlock> blocks;
    for (size_t at = 0; at < data.size(); at += 32768) {
        std::string part = data.substr(at, 32768);
        blocks.push_back({part, static_cast<uint16_t>(part.size())});
    }
    return blocks;
}

// Writes bits most significant first into 16-bit little-endian words, as LZX reads them.
class TBitWriter {
public:
    void Bits(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            FWord = static_cast<uint16_t>(FWord << 1 | ((value >> i) & 1));
            if (++FUsed == 16) Flush();
        }
    }
    // Pads the current word with zero bits.
    void Align() {
        if (FUsed) Bits(0, 16 - FUsed);
    }
    std::string Bytes() const { return FOut; }

private:
    void Flush() {
        Put16(FOut, FWord);
        FWord = 0;
        FUsed = 0;
    }
    std::string FOut;
    uint16_t FWord = 0;
    int FUsed = 0;
};

// An LZX stream holding the data in one uncompressed block (even length): no E8
// translation, block type 3, 24-bit length, alignment, the three repeat offsets, the bytes.
inline std::string LzxUncompressedStream(const std::string& data) {
    TBitWriter w;
    w.Bits(0, 1);
    w.Bits(3, 3);
    w.Bits(static_cast<uint32_t>(data.size()) >> 8, 16);
    w.Bits(static_cast<uint32_t>(data.size()) & 0xFF, 8);
    w.Align();
    std::string s = w.Bytes();
    for (int i = 0; i < 3; ++i) Put32(s, 1);
    return s + data;
}

// A Quantum stream of literals only, made by an arithmetic coder of our own with 16-bit
// registers and the format's adaptive models (cumulative frequencies, each coded symbol
// raising itself and the ones before it by 8, rescaled once the total passes 3800).
// Literals cost about a byte each: keep to text-like data, or the blocks outgrow the
// cabinet's limit.
class TQuantumLiterals {
public:
    TQuantumLiterals() {
        Init(FSelector, 0, 7);
        for (int m = 0; m < 4; ++m) Init(FLiterals[m], m * 64, 64);
    }

    // One data block per 32768-byte frame: the coder starts afresh in each frame, the
    // models carry on.
    std::vector<TCraftBlock> Encode(const std::string& data) {
        std::vector<TCraftBlock> blocks;
        for (size_t at = 0; at < data.size(); at += 32768) {
            std::string frame = data.substr(at, 32768);
            for (unsigned char c : frame) {
                Code(FSelector, c >> 6);
                Code(FLiterals[c >> 6], c);
            }
            // Two more bits settle a value inside the final interval; zeros fill the rest.
            ++FPending;
            Bit(FLow >= 0x4000);
            for (int i = 0; i < 32 || FBits != 0; ++i) Bit(0);
            blocks.push_back({FOut, static_cast<uint16_t>(frame.size())});
            FOut.clear();
            FLow = 0;
            FHigh = 0xFFFF;
            FPending = 0;
        }
        return blocks;
    }

private:
    struct TSym {
        int Sym, CumFreq;
    };
    using TModel = std::vector<TSym>;

    static void Init(TModel& m, int start, int len) {
        m.resize(static_cast<size_t>(len) + 1);
        for (int i = 0; i <= len; ++i) m[static_cast<size_t>(i)] = {start + i, len - i};
    }

    void Code(TModel& m, int symbol) {
        size_t k = 0;
        while (m[k].Sym != symbol) ++k;
        uint32_t range = FHigh - FLow + 1, total = static_cast<uint32_t>(m[0].CumFreq);
        FHigh = FLow + static_cast<uint32_t>(m[k].CumFreq) * range / total - 1;
        FLow = FLow + static_cast<uint32_t>(m[k + 1].CumFreq) * range / total;
        for (size_t j = 0; j <= k; ++j) m[j].CumFreq += 8;
        if (m[0].CumFreq > 3800) Rescale(m);
        for (;;) {
            if (FHigh < 0x8000) {
                Bit(0);
            } else if (FLow >= 0x8000) {
                Bit(1);
                FLow -= 0x8000;
                FHigh -= 0x8000;
            } else if (FLow >= 0x4000 && FHigh < 0xC000) {
                ++FPending;
                FLow -= 0x4000;
                FHigh -= 0x4000;
            } else {
                break;
            }
            FLow = 2 * FLow;
            FHigh = 2 * FHigh + 1;
        }
    }

    // Halves the frequencies; every 50th time also re-sorts the symbols by frequency
    // (a selection sort: its order among equals is part of the format).
    void Rescale(TModel& m) {
        int& shifts = FShiftsLeft[&m];
        if (shifts == 0) shifts = 4;
        int n = static_cast<int>(m.size()) - 1;
        auto at = [&](int i) -> TSym& { return m[static_cast<size_t>(i)]; };
        if (--shifts) {
            for (int i = n - 1; i >= 0; --i) {
                at(i).CumFreq >>= 1;
                if (at(i).CumFreq <= at(i + 1).CumFreq) at(i).CumFreq = at(i + 1).CumFreq + 1;
            }
            return;
        }
        shifts = 50;
        for (int i = 0; i < n; ++i) {
            at(i).CumFreq -= at(i + 1).CumFreq;
            at(i).CumFreq = (at(i).CumFreq + 1) >> 1;
        }
        for (int i = 0; i < n - 1; ++i)
            for (int j = i + 1; j < n; ++j)
                if (at(i).CumFreq < at(j).CumFreq) std::swap(at(i), at(j));
        for (int i = n - 1; i >= 0; --i) at(i).CumFreq += at(i + 1).CumFreq;
    }

    // A decided bit, then the bits held back by the middle-straddling case.
    void Bit(int b) {
        Raw(b);
        for (; FPending > 0; --FPending) Raw(!b);
    }
    void Raw(int b) {
        FByte = static_cast<uint8_t>(FByte << 1 | (b & 1));
        if (++FBits == 8) {
            FOut += static_cast<char>(FByte);
            FByte = 0;
            FBits = 0;
        }
    }

    TModel FSelector, FLiterals[4];
    std::map<const TModel*, int> FShiftsLeft;
    uint32_t FLow = 0, FHigh = 0xFFFF;
    int FPending = 0;
    std::string FOut;
    uint8_t FByte = 0;
    int FBits = 0;
};

} // namespace cabtest
