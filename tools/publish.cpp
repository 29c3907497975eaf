// kvpublish's work: walk the product folder and its folders, build the cabinets that
// changed, write the manifest last so that it never names a cabinet that is not there yet.
#include "tools/publish.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <vector>

#include "app/manifest.h"
#include "cab/cabinet_build.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"

namespace fs = std::filesystem;

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

// Why one level of an entry name can't stand in the manifest, or "" when it can.
std::string LevelProblem(const std::string& level) {
    for (char c : level) {
        if (static_cast<unsigned char>(c) < 32) return "it holds a control character";
        if (c == ',') return "a comma ends a manifest field";
        if (c == '\\' || c == ':') return "\"\\\" and \":\" are path separators for the updater";
        // The updater asks for the cabinet by this name in a URL.
        if (c == '%' || c == '?' || c == '#')
            return "\"%\", \"?\" and \"#\" can't stand in the URL the updater asks for";
    }
    return "";
}

// Why an entry name ("\" between folder levels) can't stand in the manifest as it is read
// back, or "" when it can.
std::string NameProblem(const std::string& name) {
    size_t start = 0;
    while (true) {
        size_t end = name.find('\\', start);
        std::string problem = LevelProblem(name.substr(start, end - start));
        if (!problem.empty()) return problem;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    if (IsHeaderManifestLine(name)) return "its entry would read as a header line";
    if (IsBlankManifestLine(name)) return "it is blank";
    if (!IsSafeManifestName(name)) return "the updater refuses it";
    return "";
}

// Spellings by their lower-cased form: the updater looks names up without regard to case,
// so two spellings of one name (or of one folder) would be one file to it.
class TCaseless {
public:
    // The earlier spelling that differs from name only in case, or "" when there is none.
    std::string Add(const std::string& name) {
        auto [it, fresh] = FSeen.emplace(plat::LowerCase(name), name);
        return !fresh && it->second != name ? it->second : "";
    }

private:
    std::map<std::string, std::string> FSeen;
};

// A file of the product: its entry name and where it is read.
struct TProductFile {
    std::string Name;
    std::string Path;
    uint64_t Size = 0;
};

// Lists the product's files, folder by folder in byte order of the names. What can't be a
// product file is reported through the skip callback and left out: FIFOs, sockets, devices,
// symbolic links that lead out of the product folder or to nothing, links to a folder that
// holds them (they would never end), and the site folder when it lies inside the product.
class TProductWalk {
public:
    TProductWalk(const std::string& product, const std::string& site, const TPublishOptions& o)
        : FOptions(o), FRoot(fs::canonical(product)), FSite(Canonical(site)) {}

    std::vector<TProductFile> Files() {
        Walk(FRoot, "");
        return std::move(FFiles);
    }

private:
    // The path with every link resolved and no trailing separator, existing or not.
    static fs::path Canonical(const fs::path& p) {
        fs::path c = fs::weakly_canonical(p);
        return c.has_filename() ? c : c.parent_path();
    }
    void Skip(const std::string& name, const std::string& reason) {
        if (FOptions.OnSkip) FOptions.OnSkip(name, reason);
    }
    bool Inside(const fs::path& p) const {
        auto [r, q] = std::mismatch(FRoot.begin(), FRoot.end(), p.begin(), p.end());
        return r == FRoot.end();
    }

    void Walk(const fs::path& dir, const std::string& prefix) {
        std::vector<std::string> names;
        std::error_code ec;
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
            names.push_back(it->path().filename().string());
        if (ec) throw EPublishError("cannot read folder '" + dir.string() + "': " + ec.message());
        std::sort(names.begin(), names.end());
        FOpen.push_back(fs::canonical(dir));
        for (const std::string& leaf : names) Visit(dir / leaf, prefix + leaf);
        FOpen.pop_back();
    }

    void Visit(const fs::path& path, const std::string& name) {
        std::error_code ec;
        fs::file_status st = fs::symlink_status(path, ec);
        if (fs::is_symlink(st)) {
            fs::path target = fs::canonical(path, ec);
            if (ec) return Skip(name, "a symbolic link to nothing");
            if (!Inside(target))
                return Skip(name, "a symbolic link that leads out of the product folder");
            if (std::find(FOpen.begin(), FOpen.end(), target) != FOpen.end())
                return Skip(name, "a symbolic link to a folder that holds it");
            st = fs::status(path, ec);
        }
        if (fs::is_directory(st)) {
            if (Canonical(path) == FSite) return Skip(name, "the site folder");
            return Walk(path, name + "\\");
        }
        if (fs::is_regular_file(st))
            return FFiles.push_back({name, path.string(), fs::file_size(path, ec)});
        Skip(name, fs::is_fifo(st)             ? "a FIFO"
                   : fs::is_socket(st)         ? "a socket"
                   : fs::is_block_file(st)     ? "a block device"
                   : fs::is_character_file(st) ? "a character device"
                                               : "no regular file");
    }

    const TPublishOptions& FOptions;
    fs::path FRoot, FSite;
    std::vector<fs::path> FOpen; // the folders being walked, outermost first
    std::vector<TProductFile> FFiles;
};

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

// The levels of an entry name: "a\\b\\c.txt" gives "a", "a\\b" and "a\\b\\c.txt".
std::vector<std::string> Levels(const std::string& name) {
    std::vector<std::string> levels;
    for (size_t end = name.find('\\'); end != std::string::npos; end = name.find('\\', end + 1))
        levels.push_back(name.substr(0, end));
    levels.push_back(name);
    return levels;
}

// The site folders that held only a removed cabinet go with it, innermost first.
void RemoveEmptyFolders(const std::string& site, std::string folders) {
    while (!folders.empty()) {
        folders.pop_back(); // the trailing separator
        if (!plat::RemoveDir(site + folders)) return;
        folders = plat::ExtractFilePath(folders);
    }
}

} // namespace

TPublishResult Publish(const std::string& productDir, const std::string& siteDir,
                       const TPublishOptions& options) {
    if (options.Compression == typLZX)
        throw EPublishError("LZX compression is not available; use mszip or none");
    if (!plat::DirectoryExists(productDir))
        throw EPublishError("product folder '" + productDir + "' does not exist");
    std::string product = plat::IncludeTrailingPathDelimiter(productDir);
    std::string site = plat::IncludeTrailingPathDelimiter(siteDir);
    if (plat::ExpandFileName(product) == plat::ExpandFileName(site))
        throw EPublishError("the site folder must not be the product folder");

    std::vector<TProductFile> files = TProductWalk(product, site, options).Files();

    // Every name is checked before anything is written.
    TCaseless names, cabinets;
    std::map<std::string, std::string> byCabinet; // lower-cased cabinet name -> file name
    uint64_t total = 0;
    for (const TProductFile& f : files) {
        std::string problem = NameProblem(f.Name);
        if (!problem.empty()) throw EPublishError("cannot publish '" + f.Name + "': " + problem);
        if (f.Size > 0x7FFFFFFF)
            throw EPublishError("cannot publish '" + f.Name + "': larger than 2 GiB");
        for (const std::string& level : Levels(f.Name)) {
            std::string other = names.Add(level);
            if (!other.empty())
                throw EPublishError("'" + other + "' and '" + level +
                                    "' differ only in letter case: the updater could not "
                                    "tell them apart");
        }
        const std::string cabName = CabinetName(f.Name);
        auto [it, fresh] = byCabinet.emplace(plat::LowerCase(cabName), f.Name);
        if (!fresh)
            throw EPublishError("'" + it->second + "' and '" + f.Name +
                                "' would share the cabinet '" + cabName + "'");
        total += f.Size + PerFileWork;
    }
    // A site folder may not be named like a cabinet or the manifest: "data.txt" and a
    // folder "data.cab" would both want "data.cab" on the site.
    for (const auto& [cabKey, name] : byCabinet) {
        std::vector<std::string> levels = Levels(cabKey);
        for (size_t i = 0; i + 1 < levels.size(); ++i)
            if (byCabinet.count(levels[i]) || levels[i] == "versions.txt")
                throw EPublishError("cannot publish '" + name +
                                    "': the site folder of its cabinet, '" + levels[i] +
                                    "', would be named like a site file");
    }

    if (!plat::DirectoryExists(site) && !plat::ForceDirectories(site))
        throw EPublishError("cannot create site folder '" + siteDir +
                            "': " + plat::SysErrorMessage(plat::GetLastError()));
    std::string probe = site + ".kvpublish-probe";
    if (!plat::TFile(plat::FileCreate(probe)).Valid())
        throw EPublishError("cannot write to site folder '" + siteDir +
                            "': " + plat::SysErrorMessage(plat::GetLastError()));
    plat::DeleteFile(probe);

    std::map<std::string, TOldEntry> old = ReadOldManifest(site + "versions.txt");
    TPublishResult result;
    std::string manifest = "File Name,Checksum,Size,\r\n";
    TCABFile builder;
    builder.CompressionType = options.Compression;
    uint64_t done = 0;
    if (options.OnProgress) options.OnProgress(0, total, "");
    builder.OnCompressProgress = [&](TCABFile*, int pos, int) {
        if (options.OnProgress && pos > 0) options.OnProgress(done + pos, total, "");
    };
    for (const TProductFile& f : files) {
        if (options.OnProgress) options.OnProgress(done, total, f.Name);
        plat::TDirEntry now;
        if (!plat::FindEntry(f.Path, now))
            throw EPublishError("cannot read '" + f.Path +
                                "': " + plat::SysErrorMessage(plat::GetLastError()));
        std::string sum = std::to_string(static_cast<int32_t>(FileSum(f.Path)));
        std::string size = std::to_string(now.Size);
        const std::string cabName = CabinetName(f.Name);
        std::string cabinet = site + cabName;

        auto was = old.find(f.Name);
        bool unchanged = !options.Force && was != old.end() && was->second.Checksum == sum &&
                         was->second.Size == size &&
                         SamePublished(cabinet, f.Name, static_cast<uint32_t>(now.Size),
                                       now.LastWrite, options.Compression);
        if (unchanged) {
            ++result.Unchanged;
        } else {
            const std::string folders = plat::ExtractFilePath(cabName);
            if (!folders.empty() && !plat::ForceDirectoriesWithin(site, folders))
                throw EPublishError("cannot create the site folder of '" + cabinet +
                                    "': " + plat::SysErrorMessage(plat::GetLastError()));
            builder.CABFile = cabinet;
            try {
                builder.CompressFile(f.Path, f.Name);
            } catch (const ECABFileError& err) {
                throw EPublishError(err.Message());
            }
            ++result.Written;
        }
        done += f.Size + PerFileWork;
        manifest += f.Name + "," + sum + "," + size + ",\r\n";
    }
    if (options.OnProgress) options.OnProgress(total, total, "");

    // An unchanged manifest keeps its file, and so its date: mirrors see nothing new.
    std::string oldManifest;
    if ((!plat::ReadFileText(site + "versions.txt", oldManifest) || oldManifest != manifest) &&
        !plat::WriteFileAtomic(site + "versions.txt", manifest))
        throw EPublishError("cannot write '" + site +
                            "versions.txt': " + plat::SysErrorMessage(plat::GetLastError()));
    result.Files = files.size();
    for (const TProductFile& f : files) result.Bytes += f.Size;

    // Cabinets of files that left the product folder; only ones an earlier manifest named.
    for (const auto& [name, entry] : old) {
        if (!NameProblem(name).empty()) continue;
        std::string cabName = CabinetName(name);
        if (byCabinet.count(plat::LowerCase(cabName))) continue;
        if (plat::FileExists(site + cabName) && plat::DeleteFile(site + cabName)) {
            ++result.Removed;
            RemoveEmptyFolders(site, plat::ExtractFilePath(cabName));
        }
    }
    return result;
}
