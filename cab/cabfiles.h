#pragma once
// TCABFile: unpacks one named file from a cabinet file into a folder, through the
// FDI-shaped cabinet binding (cab/cabinet_binding.h), and builds one-file cabinets.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/exception.h"

class TCABFile;

// What an unpacked entry must leave free on its file system: the run still has a log to
// save and files to move. An entry whose declared size would eat into it is refused.
inline constexpr uint64_t UnpackDiskMargin = uint64_t(1) << 20;

// Compression for building cabinets; extraction does not read it.
enum TCompressionType { typNone, typMSZIP, typLZX };
// LZX window setting for building cabinets; extraction does not read it.
enum TLZXMemory { lzxLowest, lzxLower, lzxLow, lzxMedium, lzxHigh, lzxHigher, lzxHighest };

// Raised by the building side (CompressFile); extraction reports by result only.
class ECABFileError : public Exception {
public:
    using Exception::Exception;
};

// One entry of a cabinet's directory.
class TCABFileEntry {
public:
    std::string Name;
    std::string RelPath;
    int32_t EntrySize = 0;
    double EntryDate = 0; // the framework's date-time number, local time
    bool Selected = false;
};

// The directory of a cabinet's entries, owned by its TCABFile.
class TCABFileContents {
public:
    explicit TCABFileContents(TCABFile* owner) : FOwner(owner) {}
    TCABFile* Owner() const { return FOwner; }
    int Count() const { return static_cast<int>(Items.size()); }
    TCABFileEntry& Add() { return Items.emplace_back(); }
    void Clear() { Items.clear(); }
    TCABFileEntry& operator[](int i) { return Items.at(static_cast<size_t>(i)); }
    const TCABFileEntry& operator[](int i) const { return Items.at(static_cast<size_t>(i)); }

    std::vector<TCABFileEntry> Items;

private:
    TCABFile* FOwner;
};

using TCompressProgress = std::function<void(TCABFile* Sender, int pos, int tot)>;
using TDeCompressProgress =
    std::function<void(TCABFile* Sender, const std::string& FileName, int pos, int tot)>;
using TOverWriteFile =
    std::function<void(TCABFile* Sender, const std::string& FileName, bool& Allow)>;

class TCABFile {
public:
    TCABFile();
    ~TCABFile();
    TCABFile(const TCABFile&) = delete;
    TCABFile& operator=(const TCABFile&) = delete;

    // Published properties.
    TCABFileContents CABFileContents{this};
    std::string CABFile; // path of the cabinet file to read (or to write)
    // The cabinet's bytes when they are in memory already (a fetched body): ExtractFile and
    // ReadContents then read them, and CABFile only names the cabinet. Kept alive by the
    // caller until the call returns; null: CABFile is read.
    const std::string_view* Image = nullptr;
    TCompressionType CompressionType = typMSZIP;
    TLZXMemory LZXMemory = lzxLowest;
    std::string TargetPath; // folder that receives unpacked files; may be empty
    TCompressProgress OnCompressProgress;
    TDeCompressProgress OnDecompressProgress;
    TOverWriteFile OnOverWriteFile;

    // Unpacks the entry whose stored name equals name (ASCII case ignored) from CABFile
    // into TargetPath, under its stored name. True when the cabinet was opened, recognised
    // and read through, whether or not the entry was there; false on every failure.
    // Entries whose stored name is absolute or climbs out with ".." are skipped. An entry
    // whose declared size, with UnpackDiskMargin, exceeds the free space of TargetPath's
    // file system is refused before anything is written (ExtractFailure then gives the
    // disk-full text), and no more than the declared size is ever written. Raises nothing.
    bool ExtractFile(const std::string& name);
    // Why the last ExtractFile brought no file out: the system error text of the failure
    // when there was one, else a plain reason ("not in the cabinet", "not a cabinet",
    // "damaged cabinet"). Empty when the file came out.
    const std::string& ExtractFailure() const { return FExtractFailure; }
    // Whether the file the last ExtractFile brought out was flushed to disk: a move of it
    // over another file then needs no flush of its own.
    bool OnDisk() const { return FOnDisk; }

    // Writes the cabinet CABFile holding the one file sourceFile under storedName, with
    // CompressionType (typNone or typMSZIP; typLZX is refused). The entry's date and time
    // are sourceFile's last-write time, so the same input gives the same bytes. Raises
    // ECABFileError on every failure; a partly written cabinet is removed.
    void CompressFile(const std::string& sourceFile, const std::string& storedName);

    // Fills CABFileContents with the entries of CABFile (nothing is unpacked). False when
    // the file is missing or not a readable cabinet.
    bool ReadContents();

private:
    friend struct TCABFileAccess; // the library callbacks
    // The free space of the folder unpacked into at the last look, and what the process had
    // written by then.
    struct TFreeSpace {
        std::string Folder;
        uint64_t FreeAtLook = 0, WrittenAtLook = 0, LookedAt = 0;
    };
    TFreeSpace FFreeSpace;
    std::string ExtractName;
    std::string FExtractFailure;
    bool FOnDisk = false;
    std::string CurrentFileName;
    int32_t CurrentPosition = 0;
    int32_t CurrentSize = 0;
};
