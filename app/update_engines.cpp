// The two update engines, from the download site (DoItHTTP) and from a folder
// (DoItCopyFile): one loop over the manifest, fed by a source that knows where the manifest
// and the cabinets come from. Where the engines differ, the source's rules say so.
#include <exception>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/manifest.h"
#include "platform/exception.h"
#include "platform/files.h"
#include "platform/text.h"

// How an engine differs from the other. Each difference is behaviour that sites, logs and
// scripts in the field have always seen from that engine, so it is kept.
struct TEngineRules {
    // A download is news: "Checking versions..." follows it and the overall bar steps for it.
    // A folder's manifest is read at once, after the line.
    bool ManifestIsDownloaded;
    // Sites carry entries whose size their producer left blank; the download engine reads
    // them as 250000. A folder is held to the full form.
    bool ReplacesBlankSizes;
    // Only a site can be cloned: a clone run from it copies the manifest and every cabinet
    // and judges nothing. From a folder a clone run judges and unpacks but installs nothing.
    bool ClonesSite;
    // A site's cabinets are fetched into the staging folder and deleted once unpacked; a
    // folder's are read where they lie and belong to the folder.
    bool FetchesCabinets;
    // The download engine reports a failed attribute change and a failed deletion of the
    // unpacked file on their own lines; the folder engine has one guard for the whole step.
    bool GuardsEachInstallStep;
};

// Where the manifest and the cabinets come from.
class TUpdateSource {
public:
    virtual ~TUpdateSource() = default;
    virtual const TEngineRules& Rules() const = 0;
    // The url or folder the log names.
    virtual const std::string& Where() const = 0;
    // Brings the file to where SaveCopy and ManifestLines read it.
    virtual void Get(const std::string& name) = 0;
    // Writes the file last got to fileName (a clone run, a cabinet to unpack).
    virtual void SaveCopy(const std::string& fileName) = 0;
    // The manifest's lines, once it has been got.
    virtual std::vector<std::string> ManifestLines() = 0;
    // The cabinet of an entry as a file that can be unpacked, got and saved into tmp when
    // it has to be.
    virtual std::string Cabinet(const std::string& cabName, const std::string& tmp) = 0;
};

namespace {

// An entry name may carry folders ("data\sigs\main.dat"): they are made under base, and
// only there, before anything is written under that name. False with the reason in the
// last error when they can't be.
bool MakeFoldersFor(const std::string& base, const std::string& name) {
    const std::string folders = plat::ExtractFilePath(name);
    return folders.empty() || plat::ForceDirectoriesWithin(base, folders);
}

const TEngineRules SiteRules{true, true, true, true, true};
const TEngineRules FolderRules{false, false, false, false, false};

// The download site: every file is fetched with the main window's HTTP client.
class TSiteSource final : public TUpdateSource {
public:
    TSiteSource(TmsHTTPClient& client, const std::string& url) : FClient(client), FUrl(url) {}
    const TEngineRules& Rules() const override { return SiteRules; }
    const std::string& Where() const override { return FUrl; }
    void Get(const std::string& name) override {
        FClient.SetURL(FUrl + name);
        FClient.Get(); // the status is not looked at: an error page is content too
        FClient.ResponseStream().SetPosition(0);
    }
    void SaveCopy(const std::string& fileName) override {
        FClient.ResponseStream().SaveToFile(fileName);
    }
    std::vector<std::string> ManifestLines() override {
        return LoadManifestLines(FClient.ResponseStream().View());
    }
    std::string Cabinet(const std::string& cabName, const std::string& tmp) override {
        Get(cabName);
        MakeFoldersFor(tmp, cabName);
        SaveCopy(tmp + cabName);
        return tmp + cabName;
    }

private:
    TmsHTTPClient& FClient;
    std::string FUrl;
};

// A folder holding the site's files: nothing is fetched, everything is read in place.
class TFolderSource final : public TUpdateSource {
public:
    explicit TFolderSource(const std::string& path) : FPath(path) {}
    const TEngineRules& Rules() const override { return FolderRules; }
    const std::string& Where() const override { return FPath; }
    void Get(const std::string&) override {}
    void SaveCopy(const std::string&) override {}
    std::vector<std::string> ManifestLines() override {
        return LoadManifestFile(FPath + "versions.txt");
    }
    std::string Cabinet(const std::string& cabName, const std::string&) override {
        return FPath + cabName;
    }

private:
    std::string FPath;
};

} // namespace

bool TForm1::DoItHTTP(const std::string& url) {
    TSiteSource site(msHTTPClient1, url);
    return RunUpdate(site);
}

bool TForm1::DoItCopyFile(const std::string& path) {
    TFolderSource folder(path);
    return RunUpdate(folder);
}

bool TForm1::RunUpdate(TUpdateSource& source) {
    const TEngineRules& rules = source.Rules();
    const std::string tmp = Settings.TmpDir();
    const bool cloneSite = Settings.CloneSite && rules.ClonesSite;
    const TSayProc say = [this](const std::string& text) { Say(text); };
    FileErrors = false;
    if (!plat::DirectoryExists(tmp)) plat::ForceDirectories(tmp);
    Say("Contacting download site ...(" + source.Where() + ")");
    if (!rules.ManifestIsDownloaded) Say("Checking versions...");

    source.Get("versions.txt");
    if (rules.ManifestIsDownloaded) ProgressBar1.StepIt();
    TManifest m;
    if (cloneSite) source.SaveCopy(Settings.ClonePath + "versions.txt");
    m.ManifestLines = source.ManifestLines();
    if (rules.ManifestIsDownloaded) Say("Checking versions...");
    if (!ParseManifest(m, rules.ReplacesBlankSizes, Settings.ProductDir, say, tmp)) return false;

    for (size_t i = 0; i < m.Count(); ++i) {
        const TManifestEntry e = PrepareEntry(m, i, Settings.ProductDir);
        const std::string& name = e.Name;
        if (cloneSite) {
            Say("Retrieving file " + e.CabName);
            source.Get(e.CabName);
            MakeFoldersFor(Settings.ClonePath, e.CabName);
            source.SaveCopy(Settings.ClonePath + e.CabName);
            ProgressBar1.StepIt();
            continue;
        }
        const TEntryStatus status = ClassifyEntry(e);
        Say(EntryStatusLine(status, name));
        if (status != TEntryStatus::Unchanged) {
            std::string cab;
            try {
                cab = source.Cabinet(e.CabName, tmp);
            } catch (...) {
                // A cabinet cut short by a failed write (a full disk, a size limit) is no
                // cabinet: it goes before the failure ends the run.
                if (rules.FetchesCabinets) plat::DeleteFile(tmp + e.CabName);
                throw;
            }
            // A clone run from a folder installs nothing, so a file that does not come out
            // is no error of it.
            Extract(cab, name, !Settings.CloneSite);
            if (rules.FetchesCabinets && !plat::DeleteFile(cab) && status == TEntryStatus::Changed)
                Say("Error deleting " + cab + " " + SystemErrorText());
        }
        // Also for an unchanged entry: a file an earlier run left in TmpDir is installed.
        if (!Settings.CloneSite && plat::FileExists(tmp + name)) Install(name, rules);
        ProgressBar1.StepIt();
    }
    ProgressBar1.SetPosition(ProgressBar1.Max);
    return true;
}

void TForm1::Extract(const std::string& cab, const std::string& name, bool report) {
    CABFile1.CABFile = cab;
    CABFile1.TargetPath = Settings.TmpDir();
    CABFile1.ExtractFile(name);
    if (!report || CABFile1.ExtractFailure().empty()) return;
    // A file that did not come out stays old: that is an error of the run, never success.
    FileErrors = true;
    Say("Error extracting " + name + " " + CABFile1.ExtractFailure());
}

void TForm1::Install(const std::string& name, const TEngineRules& rules) {
    const std::string from = Settings.TmpDir() + name;
    const std::string to = Settings.ProductDir + name;
    try {
        // The running updater can't replace itself: its new program stays in TmpDir and the
        // self-update at the end of the run does it.
        if (plat::LowerCase(name) == "kvupdater.exe") {
            Settings.SelfUpdatePending = true;
            return;
        }
        // The folders come first: a folder level that leads out of the product folder
        // stops the step before the attribute step could act out there.
        bool placed = MakeFoldersFor(Settings.ProductDir, name);
        if (placed && rules.GuardsEachInstallStep) {
            try {
                ClearAttributes(to);
            } catch (const std::exception& e) {
                Say("Error clearing attributes " + to + " " + ExceptionMessage(e));
            }
        } else if (placed) {
            ClearAttributes(to);
        }
        // A move has the outcome of a copy and the deletion below, without copying.
        if (!placed || !plat::MoveFile(from, to)) {
            FileErrors = true;
            Say("Error copying " + from + " to " + to + " " + SystemErrorText());
        }
        if (rules.GuardsEachInstallStep) {
            try {
                plat::DeleteFile(from);
            } catch (const std::exception& e) {
                Say("Error deleting " + from + " " + ExceptionMessage(e));
            }
        } else {
            plat::DeleteFile(from);
        }
    } catch (const std::exception& e) {
        FileErrors = true;
        Say("Error copying " + from + " to " + to + " " + ExceptionMessage(e));
    }
}
