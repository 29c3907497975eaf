#pragma once
// The update manifest "versions.txt" and the file checks both update engines share: the
// parse into three parallel lists with its giving-up rules, the cabinet name, the entry
// status, the byte sum FileSum and ClearAttributes.
//
// The engines' entry loop, in outline:
//
//   TManifest m;
//   m.ManifestLines = LoadManifestLines(text);           // or LoadManifestFile(path)
//   if (!ParseManifest(m, replaceBlankSizes, ProductDir, Say)) return false;
//   for (size_t i = 0; i < m.Count(); ++i) {
//       TManifestEntry e = PrepareEntry(m, i, ProductDir); // size converted, sum taken
//       TEntryStatus s = ClassifyEntry(e);                 // checksum converted if needed
//       Say(EntryStatusLine(s, e.Name));
//       ...
//   }
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/say.h"

// The manifest's lines as read, and its entries as three parallel lists: item i of
// FileNames, FileChecksums and FileSizes belong to the same entry. Fields are verbatim.
struct TManifest {
    std::vector<std::string> ManifestLines;
    std::vector<std::string> FileNames;
    std::vector<std::string> FileChecksums;
    std::vector<std::string> FileSizes; // after the blank-size replacement, where it applies
    // What follows each size field's comma: unread by the entry rules; a signed site's
    // SHA-256 field leads it.
    std::vector<std::string> FileTails;
    size_t Count() const { return FileNames.size(); }
};

// The size that stands in for a blank size field in the update from a URL.
inline constexpr const char* BlankSizeReplacement = "250000";

// The manifest text as lines: CR LF, LF or CR end a line; a NUL byte ends the text.
std::vector<std::string> LoadManifestLines(std::string_view text);
// The manifest file's bytes. A file that can't be read raises EInOutError
// "Cannot open file "NAME". " + the system's error text.
std::string ReadManifestFile(const std::string& fileName);
// Its lines, as LoadManifestLines makes them.
std::vector<std::string> LoadManifestFile(const std::string& fileName);

// Nothing is left after trimming blanks and control characters.
bool IsBlankManifestLine(const std::string& line);
// The untrimmed line, lower-cased, starts with "file name".
bool IsHeaderManifestLine(const std::string& line);

// A name that stays inside the product folder: not empty, not absolute ("\" or "/"
// first), no drive prefix ("c:"), no ".." folder component under either separator.
bool IsSafeManifestName(const std::string& name);

// Whether name is, or lies under, one of the updater's own working folders in productDir:
// "logs", and the staging folder tmpDir when it lies in productDir. Letter case, "\" or
// "/", "." levels and the blanks and full stops that end a level on Windows do not matter.
bool IsOwnWorkingName(const std::string& name, const std::string& productDir,
                      const std::string& tmpDir);

// Parses m.ManifestLines into the three lists and FileTails (cleared first). replaceBlankSizes: a
// size field that is blank after trimming becomes "250000" (the update from a URL); the update from
// a path passes false. On a corrupt line, or a line whose name is unsafe, says the giving-up line,
// stores every manifest line to productDir + "versions.txt" (CR LF) and returns false; nothing else
// happens. productDir ends with the platform separator. Unsafe besides the names IsSafeManifestName
// refuses: one of the updater's own working names (IsOwnWorkingName, with the staging folder
// tmpDir), and one whose folder part leads out of productDir through a symbolic link. Raises
// EInOutError when the manifest can't be stored.
bool ParseManifest(TManifest& m, bool replaceBlankSizes, const std::string& productDir,
                   const TSayProc& say, const std::string& tmpDir = {});

// Writes every line, each ended by CR LF, as productDir + "versions.txt", replacing it
// atomically. Raises EInOutError when it can't be written.
void StoreManifest(const std::vector<std::string>& lines, const std::string& productDir);

// The name with its extension (from the last "." after the last "\", "/" or ":")
// replaced by ".cab", or ".cab" appended when there is none.
std::string CabinetName(const std::string& name);

// The byte sum of no bytes, where every sum starts.
constexpr uint32_t EmptySum = 0xFFFFFFFFu;

// One entry worked out as far as both engines go before they decide anything: cabinet
// name, converted size, whether ProductDir + name exists and, if it does, its FileSum.
struct TManifestEntry {
    std::string Name;     // verbatim, blanks included
    std::string Checksum; // the checksum field, not yet converted
    std::string CabName;
    int32_t Size = 0;
    std::string LocalFile; // productDir + Name
    bool Exists = false;
    uint32_t LocalSum = EmptySum; // FileSum(LocalFile) when Exists
};

// Entry i of a parsed manifest. The size field is converted here: one that is not a whole
// number raises EConvertError "'%s' is not a valid integer value".
TManifestEntry PrepareEntry(const TManifest& m, size_t i, const std::string& productDir);

enum class TEntryStatus { New, Changed, Unchanged };

// New when the local file does not exist; else the checksum field is converted (raising
// EConvertError when it is not a whole number) and compared with the local sum as 32-bit
// patterns. Writes nothing.
TEntryStatus ClassifyEntry(const TManifestEntry& entry);

// "Retrieving new file ", "Retrieving changed file " or "Ok - ", followed by the name.
std::string EntryStatusLine(TEntryStatus status, const std::string& name);

// The file's byte sum: EmptySum (FFFFFFFF) plus every byte (0..255), modulo 2^32; that is,
// (sum of bytes - 1) mod 2^32. A file that can't be opened gives EmptySum.
uint32_t FileSum(const std::string& path);
// The same sum over bytes in memory, continued from start.
uint32_t ByteSum(const void* data, size_t size, uint32_t start = EmptySum);

// Clears the read-only, system and hidden attributes of an existing file and keeps the
// others; does nothing for a missing file. Reports nothing. A name that is a symbolic link
// is the link's: what it points to keeps its attributes.
void ClearAttributes(const std::string& path);
