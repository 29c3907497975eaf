#include "app/manifest.h"

#include <cstring>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define KV_HAVE_AVX2_SUM 1
#endif

#include "platform/exception.h"
#include "platform/files.h"
#include "platform/text.h"

namespace {

// Gives up on a line: the message with the working copy, then the manifest is stored.
bool GiveUp(const TManifest& m, const std::string& message, const std::string& rest,
            const std::string& productDir, const TSayProc& say) {
    if (say) say(message + rest);
    StoreManifest(m.ManifestLines, productDir);
    return false;
}

} // namespace

std::vector<std::string> LoadManifestLines(std::string_view text) {
    return plat::SplitLines(text);
}

std::string ReadManifestFile(const std::string& fileName) {
    std::string text;
    if (!plat::ReadFileText(fileName, text)) plat::RaiseFileError("Cannot open file ", fileName);
    return text;
}

std::vector<std::string> LoadManifestFile(const std::string& fileName) {
    return LoadManifestLines(ReadManifestFile(fileName));
}

bool IsBlankManifestLine(const std::string& line) {
    return plat::Trim(line).empty();
}

bool IsHeaderManifestLine(const std::string& line) {
    return line.size() >= 9 && plat::LowerCase(std::string_view(line).substr(0, 9)) == "file name";
}

bool IsSafeManifestName(const std::string& name) {
    return plat::IsSafeRelativeName(name);
}

namespace {

// The levels of a name as the file system would take them: no empty or "." levels, and
// none of the blanks and full stops that Windows drops from the end of a level.
std::vector<std::string> NameLevels(const std::string& name) {
    std::vector<std::string> levels;
    size_t pos = 0;
    while (pos <= name.size()) {
        size_t end = name.find_first_of("\\/", pos);
        if (end == std::string::npos) end = name.size();
        std::string level = name.substr(pos, end - pos);
        while (!level.empty() && (level.back() == ' ' || level.back() == '.')) level.pop_back();
        if (!level.empty()) levels.push_back(std::move(level));
        pos = end + 1;
    }
    return levels;
}

// Whether the levels of name begin with those of folder.
bool StartsWithLevels(const std::vector<std::string>& name,
                      const std::vector<std::string>& folder) {
    if (folder.empty() || name.size() < folder.size()) return false;
    for (size_t i = 0; i < folder.size(); ++i)
        if (!plat::SameText(name[i], folder[i])) return false;
    return true;
}

} // namespace

bool IsOwnWorkingName(const std::string& name, const std::string& productDir,
                      const std::string& tmpDir) {
    const std::vector<std::string> levels = NameLevels(name);
    if (StartsWithLevels(levels, {"logs"})) return true;
    if (tmpDir.empty()) return false;
    const std::string product =
        plat::IncludeTrailingPathDelimiter(plat::ExpandFileName(productDir));
    const std::string tmp = plat::ExpandFileName(tmpDir);
    if (tmp.size() <= product.size() || !plat::SameText(tmp.substr(0, product.size()), product))
        return false;
    return StartsWithLevels(levels, NameLevels(tmp.substr(product.size())));
}

bool ParseManifest(TManifest& m, bool replaceBlankSizes, const std::string& productDir,
                   const TSayProc& say, const std::string& tmpDir) {
    m.FileNames.clear();
    m.FileChecksums.clear();
    m.FileSizes.clear();
    m.FileTails.clear();
    // Every line is parsed before any entry is processed: one bad line stops the whole run
    // before a file is touched.
    for (const std::string& line : m.ManifestLines) {
        if (IsBlankManifestLine(line) || IsHeaderManifestLine(line)) continue;
        std::string rest = line;
        size_t comma = rest.find(',');
        if (comma == std::string::npos)
            return GiveUp(m, "Giving up - line corrupt - ", rest, productDir, say);
        std::string name = rest.substr(0, comma);
        rest.erase(0, comma + 1);
        comma = rest.find(',');
        if (comma == std::string::npos)
            return GiveUp(m, "Giving up - line corrupt for crc - ", rest, productDir, say);
        std::string checksum = rest.substr(0, comma);
        rest.erase(0, comma + 1);
        comma = rest.find(',');
        if (comma == std::string::npos)
            return GiveUp(m, "Giving up - line corrupt for size - ", rest, productDir, say);
        std::string size = rest.substr(0, comma);
        if (replaceBlankSizes && plat::Trim(size).empty()) size = BlankSizeReplacement;
        // A name that leads out of the product folder would have the update write there;
        // one of the updater's own folders would break its later runs.
        if (!IsSafeManifestName(name) || IsOwnWorkingName(name, productDir, tmpDir) ||
            !plat::FoldersStayWithin(productDir, plat::ExtractFilePath(name)))
            return GiveUp(m, "Giving up - unsafe file name - ", line, productDir, say);
        m.FileNames.push_back(std::move(name));
        m.FileChecksums.push_back(std::move(checksum));
        m.FileSizes.push_back(std::move(size));
        m.FileTails.push_back(rest.substr(comma + 1));
    }
    return true;
}

void StoreManifest(const std::vector<std::string>& lines, const std::string& productDir) {
    std::string data;
    for (const std::string& line : lines) {
        data += line;
        data += "\r\n";
    }
    const std::string fileName = productDir + "versions.txt";
    if (!plat::WriteFileAtomic(fileName, data))
        plat::RaiseFileError("Cannot create file ", fileName);
}

std::string CabinetName(const std::string& name) {
    size_t last = name.find_last_of("\\/:");
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && (last == std::string::npos || dot > last))
        return name.substr(0, dot) + ".cab";
    return name + ".cab";
}

TManifestEntry PrepareEntry(const TManifest& m, size_t i, const std::string& productDir) {
    TManifestEntry e;
    e.Name = m.FileNames.at(i);
    e.Checksum = m.FileChecksums.at(i);
    e.CabName = CabinetName(e.Name);
    e.Size = plat::StrToInt(m.FileSizes.at(i));
    e.LocalFile = productDir + e.Name;
    e.Exists = plat::FileExists(e.LocalFile);
    if (e.Exists) e.LocalSum = FileSum(e.LocalFile);
    return e;
}

TEntryStatus ClassifyEntry(const TManifestEntry& entry) {
    if (!entry.Exists) return TEntryStatus::New;
    const uint32_t expected = static_cast<uint32_t>(plat::StrToInt(entry.Checksum));
    return expected == entry.LocalSum ? TEntryStatus::Unchanged : TEntryStatus::Changed;
}

std::string EntryStatusLine(TEntryStatus status, const std::string& name) {
    switch (status) {
    case TEntryStatus::New:
        return "Retrieving new file " + name;
    case TEntryStatus::Changed:
        return "Retrieving changed file " + name;
    case TEntryStatus::Unchanged:
        break;
    }
    return "Ok - " + name;
}

#if KV_HAVE_AVX2_SUM
namespace {
// 32 bytes at a time where the processor has AVX2; returns the bytes it summed.
__attribute__((target("avx2"))) size_t SumAvx2(const uint8_t* p, size_t size, uint64_t& total) {
    __m256i acc = _mm256_setzero_si256();
    const __m256i zero = _mm256_setzero_si256();
    size_t i = 0;
    for (; i + 128 <= size; i += 128) {
        __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
        __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 32));
        __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 64));
        __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 96));
        acc = _mm256_add_epi64(acc, _mm256_sad_epu8(a, zero));
        acc = _mm256_add_epi64(acc, _mm256_sad_epu8(b, zero));
        acc = _mm256_add_epi64(acc, _mm256_sad_epu8(c, zero));
        acc = _mm256_add_epi64(acc, _mm256_sad_epu8(d, zero));
    }
    uint64_t lanes[4];
    std::memcpy(lanes, &acc, sizeof lanes);
    total += lanes[0] + lanes[1] + lanes[2] + lanes[3];
    return i;
}

bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
} // namespace
#endif

uint32_t ByteSum(const void* data, size_t size, uint32_t start) {
    const auto* p = static_cast<const uint8_t*>(data);
    uint64_t total = 0;
    size_t i = 0;
#if KV_HAVE_AVX2_SUM
    if (HasAvx2()) i = SumAvx2(p, size, total);
#endif
#if defined(__SSE2__)
    // Sums of absolute differences against zero add up 16 bytes at a time into two 64-bit
    // lanes; nothing can overflow them.
    __m128i acc = _mm_setzero_si128();
    const __m128i zero = _mm_setzero_si128();
    for (; i + 64 <= size; i += 64) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 16));
        __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 32));
        __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 48));
        acc = _mm_add_epi64(acc, _mm_sad_epu8(a, zero));
        acc = _mm_add_epi64(acc, _mm_sad_epu8(b, zero));
        acc = _mm_add_epi64(acc, _mm_sad_epu8(c, zero));
        acc = _mm_add_epi64(acc, _mm_sad_epu8(d, zero));
    }
    uint64_t lanes[2];
    std::memcpy(lanes, &acc, sizeof lanes);
    total += lanes[0] + lanes[1];
#endif
    for (; i < size; ++i) total += p[i];
    return static_cast<uint32_t>(start + total);
}

uint32_t FileSum(const std::string& path) {
    constexpr size_t BlockSize = 1 << 20;
    uint32_t sum = EmptySum;
    plat::TFile file(plat::FileOpen(path, plat::TOpenMode::Read));
    if (!file.Valid()) return sum;
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[BlockSize]);
    // The sum is the same whatever the block size; a large block keeps the calls few.
    for (bool first = true;; first = false) {
        int64_t got = plat::FileRead(file.Get(), buffer.get(), BlockSize);
        if (got <= 0) break;
        sum = ByteSum(buffer.get(), static_cast<size_t>(got), sum);
        if (static_cast<size_t>(got) < BlockSize) break; // the end: a short read says so
        // Read ahead for the rest of a file longer than a block; a short one needs no advice.
        if (first) plat::FileAdviseSequential(file.Get());
    }
    return sum;
}

void ClearAttributes(const std::string& path) {
    const uint32_t attributes = plat::GetFileAttributes(path);
    const uint32_t cleared = plat::faReadOnly | plat::faSysFile | plat::faHidden;
    if (attributes == plat::InvalidFileAttributes || (attributes & cleared) == 0) return;
    // Only a file's attributes are cleared, never a folder's or a device's.
    if (!plat::FileExists(path)) return;
    plat::SetFileAttributes(path, attributes & ~cleared);
}
