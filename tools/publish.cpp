// kvpublish's work: list the product folder, build the cabinets that changed, write the
// manifest last so that it never names a cabinet that is not there yet.
#include "tools/publish.h"

#include <map>
#include <set>
#include <vector>

#include "app/manifest.h"
#include "cab/cabinet_build.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"

namespace {

struct TOldEntry {
    std::string Checksum;
    std::string Size;
};

// The entries of an earlier manifest, by name. Lines it can't read are left out: their
// files are simply rebuilt.
std::map<std::string, TOldEntry> ReadOldManifest(const std::string& file) {
    std::map<std::string, TOldEntry> entries;
    std::string text;
    if (!plat::ReadFileText(file, text)) return entries;
    for (const std::string& line : plat::SplitLines(text)) {
        if (IsBlankManifestLine(line) || IsHeaderManifestLine(line)) continue;
        size_t c1 = line.find(',');
        size_t c2 = c1 == std::string::npos ? c1 : line.find(',', c1 + 1);
        size_t c3 = c2 == std::string::npos ? c2 : line.find(',', c2 + 1);
        if (c3 == std::string::npos) continue;
        entries[line.substr(0, c1)] =
            TOldEntry{line.substr(c1 + 1, c2 - c1 - 1), line.substr(c2 + 1, c3 - c2 - 1)};
    }
    return entries;
}

// Why a file name can't stand in the manifest as it is read back, or "" when it can.
std::string NameProblem(const std::string& name) {
    for (char c : name) {
        if (static_cast<unsigned char>(c) < 32) return "it holds a control character";
        if (c == ',') return "a comma ends a manifest field";
        if (c == '\\' || c == ':') return "\"\\\" and \":\" are path separators for the updater";
    }
    if (IsHeaderManifestLine(name)) return "its entry would read as a header line";
    if (IsBlankManifestLine(name)) return "it is blank";
    if (!IsSafeManifestName(name)) return "the updater refuses it";
    return "";
}

bool SamePublished(const std::string& cabinet, const std::string& name, uint32_t size,
                   const plat::TUnixTime& mtime, TCompressionType compression) {
    cab::TCabinetSummary s;
    if (!cab::ReadCabinetSummary(cabinet, s)) return false;
    // The date the cabinet would be built with, not the raw one: a cabinet can't hold
    // every date a file can have.
    const plat::TSystemTime local = cab::StoredDateOf(mtime);
    int wanted = compression == typNone ? 0 : 1;
    return s.Compression == wanted && s.StoredName == name && s.Size == size &&
           s.Date == cab::PackDate(local) && s.Time == cab::PackTime(local);
}

std::string WithDelimiter(const std::string& dir) {
    return !dir.empty() && plat::IsPathDelimiter(dir.back()) ? dir : dir + plat::PathDelim;
}

} // namespace

TPublishResult Publish(const std::string& productDir, const std::string& siteDir,
                       const TPublishOptions& options) {
    if (options.Compression == typLZX)
        throw EPublishError("LZX compression is not available; use mszip or none");
    if (!plat::DirectoryExists(productDir))
        throw EPublishError("product folder '" + productDir + "' does not exist");
    std::string product = WithDelimiter(productDir);
    std::string site = WithDelimiter(siteDir);
    if (plat::ExpandFileName(product) == plat::ExpandFileName(site))
        throw EPublishError("the site folder must not be the product folder");

    std::vector<plat::TDirEntry> listing;
    if (!plat::ListDirectory(product, listing))
        throw EPublishError("cannot read product folder '" + productDir +
                            "': " + plat::SysErrorMessage(plat::GetLastError()));

    // Every name is checked before anything is written.
    std::vector<plat::TDirEntry> files;
    std::map<std::string, std::string> byCabinet; // lower-cased cabinet name -> file name
    for (plat::TDirEntry& e : listing) {
        if (e.IsDirectory) continue;
        std::string problem = NameProblem(e.Name);
        if (!problem.empty()) throw EPublishError("cannot publish '" + e.Name + "': " + problem);
        if (e.Size > 0x7FFFFFFF)
            throw EPublishError("cannot publish '" + e.Name + "': larger than 2 GiB");
        std::string key = plat::LowerCase(CabinetName(e.Name));
        auto [it, fresh] = byCabinet.emplace(key, e.Name);
        if (!fresh)
            throw EPublishError("'" + it->second + "' and '" + e.Name +
                                "' would share the cabinet '" + CabinetName(e.Name) + "'");
        files.push_back(std::move(e));
    }

    if (!plat::DirectoryExists(site) && !plat::ForceDirectories(site))
        throw EPublishError("cannot create site folder '" + siteDir +
                            "': " + plat::SysErrorMessage(plat::GetLastError()));
    std::string probe = site + ".kvpublish-probe";
    if (!plat::TFile(plat::FileCreate(probe)).IsOpen())
        throw EPublishError("cannot write to site folder '" + siteDir +
                            "': " + plat::SysErrorMessage(plat::GetLastError()));
    plat::DeleteFile(probe);

    std::map<std::string, TOldEntry> old = ReadOldManifest(site + "versions.txt");
    TPublishResult result;
    std::string manifest = "File Name,Checksum,Size,\r\n";
    TCABFile builder;
    builder.CompressionType = options.Compression;
    for (size_t i = 0; i < files.size(); ++i) {
        const plat::TDirEntry& e = files[i];
        if (options.OnFile) options.OnFile(i, files.size(), e.Name);
        std::string path = product + e.Name;
        plat::TDirEntry now;
        if (!plat::FindEntry(path, now))
            throw EPublishError("cannot read '" + path +
                                "': " + plat::SysErrorMessage(plat::GetLastError()));
        std::string sum = std::to_string(static_cast<int32_t>(FileSum(path)));
        std::string size = std::to_string(now.Size);
        std::string cabinet = site + CabinetName(e.Name);

        auto was = old.find(e.Name);
        bool unchanged = !options.Force && was != old.end() && was->second.Checksum == sum &&
                         was->second.Size == size &&
                         SamePublished(cabinet, e.Name, static_cast<uint32_t>(now.Size),
                                       now.LastWrite, options.Compression);
        if (unchanged) {
            ++result.Unchanged;
        } else {
            builder.CABFile = cabinet;
            try {
                builder.CompressFile(path, e.Name);
            } catch (const ECABFileError& err) {
                throw EPublishError(err.Message());
            }
            ++result.Written;
        }
        manifest += e.Name + "," + sum + "," + size + ",\r\n";
    }

    if (!plat::WriteFileAtomic(site + "versions.txt", manifest))
        throw EPublishError("cannot write '" + site +
                            "versions.txt': " + plat::SysErrorMessage(plat::GetLastError()));
    result.Files = files.size();

    // Cabinets of files that left the product folder; only ones an earlier manifest named.
    for (const auto& [name, entry] : old) {
        if (!NameProblem(name).empty()) continue;
        std::string cabName = CabinetName(name);
        if (byCabinet.count(plat::LowerCase(cabName))) continue;
        if (plat::FileExists(site + cabName) && plat::DeleteFile(site + cabName)) ++result.Removed;
    }
    return result;
}
