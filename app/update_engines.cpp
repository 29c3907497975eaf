// The two update engines, from the download site (DoItHTTP) and from a folder
// (DoItCopyFile): one loop over the manifest, fed by a source that knows where the manifest
// and the cabinets come from. Where the engines differ, the source's rules say so.
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/manifest.h"
#include "app/site_signature.h"
#include "net/stream.h"
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
    // Brings the file to where SaveCopy and ManifestLines read it. False when what came
    // is no content (an error or redirect answer): Failure() then says what came instead.
    virtual bool Get(const std::string& name) = 0;
    virtual std::string Failure() const { return {}; }
    // Writes the file last got to fileName (a clone run, a cabinet to unpack).
    virtual void SaveCopy(const std::string& fileName) = 0;
    // The manifest's bytes, once it has been got.
    virtual std::string ManifestText() = 0;
    // The site's signature text; nothing when the site has none.
    virtual std::optional<std::string> Signature() = 0;
    // The cabinet of an entry as a file that can be unpacked, got and saved into tmp when
    // it has to be, or when ownCopy asks for a copy there; empty when it could not be got.
    virtual std::string Cabinet(const std::string& cabName, const std::string& tmp,
                                bool ownCopy) = 0;
    // The bytes of the cabinet Cabinet() gave last when it kept them in memory instead of
    // saving them (the name it gave is then never written); null when it is a file.
    virtual const std::string_view* CabinetImage() const { return nullptr; }
};

namespace {

// An entry name may carry folders ("data\sigs\main.dat"): they are made under base, and
// only there, before anything is written under that name. False with the reason in the
// last error when they can't be.
bool MakeFoldersFor(const std::string& base, const std::string& name) {
    const std::string folders = plat::ExtractFilePath(name);
    return folders.empty() || plat::ForceDirectoriesWithin(base, folders);
}

// The updater's own program, which the self-update installs.
bool IsUpdaterProgram(const std::string& name) {
    return plat::LowerCase(name) == "kvupdater.exe";
}

// Whether a file left in the staging folder is the one the entry names: its size and byte
// sum those of the manifest.
bool LeftoverMatches(const std::string& file, const TManifestEntry& e) {
    plat::TDirEntry found;
    const std::optional<int32_t> sum = plat::TryStrToInt(e.Checksum);
    return sum && e.Size >= 0 && plat::FindEntry(file, found) && !found.IsDirectory &&
           found.Size == static_cast<uint64_t>(e.Size) &&
           FileSum(file) == static_cast<uint32_t>(*sum);
}

// Writes bytes to a file as a fetched file is saved, with the same errors.
void SaveText(const std::string& fileName, const std::string& text) {
    TMemoryStream stream;
    stream.Write(text.data(), static_cast<int64_t>(text.size()));
    stream.SaveToFile(fileName);
}

const TEngineRules SiteRules{true, true, true, true, true};
const TEngineRules FolderRules{false, false, false, false, false};

// The download site: every file is fetched with the main window's HTTP client.
class TSiteSource final : public TUpdateSource {
public:
    TSiteSource(TmsHTTPClient& client, const std::string& url) : FClient(client), FUrl(url) {}
    const TEngineRules& Rules() const override { return SiteRules; }
    const std::string& Where() const override { return FUrl; }
    bool Get(const std::string& name) override {
        FClient.SetURL(FUrl + name);
        FStatus = FClient.Get();
        FClient.ResponseStream().SetPosition(0);
        // Only a success answer is the file: an error page, a redirect or an answer without
        // a status line is never installed, cloned or taken for an empty manifest.
        return FStatus >= 200 && FStatus <= 299;
    }
    std::string Failure() const override {
        const TmsHeaders& head = FClient.Headers();
        return FStatus == -1 || head.empty() || head[0].empty() ? "no status line" : head[0];
    }
    void SaveCopy(const std::string& fileName) override {
        FClient.ResponseStream().SaveToFile(fileName);
    }
    std::string ManifestText() override { return FClient.ResponseStream().DataString(); }
    std::optional<std::string> Signature() override {
        FClient.SetURL(FUrl + SiteSignatureName);
        // Here an error page is no content: the site has no signature.
        if (FClient.Get() != 200) return std::nullopt;
        return FClient.ResponseStream().DataString();
    }
    std::string Cabinet(const std::string& cabName, const std::string& tmp, bool) override {
        FImage.reset();
        if (!Get(cabName)) return {};
        // A body held in memory is unpacked from there: a copy the run alone holds, with no
        // file to write, read back and delete.
        if (!FClient.ResponseStream().Spilled()) {
            FImage = FClient.ResponseStream().View();
            return tmp + cabName;
        }
        MakeFoldersFor(tmp, cabName);
        SaveCopy(tmp + cabName);
        return tmp + cabName;
    }
    const std::string_view* CabinetImage() const override { return FImage ? &*FImage : nullptr; }

private:
    TmsHTTPClient& FClient;
    std::string FUrl;
    int32_t FStatus = -1;
    std::optional<std::string_view> FImage;
};

// A folder holding the site's files: nothing is fetched, everything is read in place.
class TFolderSource final : public TUpdateSource {
public:
    explicit TFolderSource(const std::string& path) : FPath(path) {}
    const TEngineRules& Rules() const override { return FolderRules; }
    const std::string& Where() const override { return FPath; }
    bool Get(const std::string&) override { return true; }
    void SaveCopy(const std::string&) override {}
    std::string ManifestText() override { return ReadManifestFile(FPath + "versions.txt"); }
    std::optional<std::string> Signature() override {
        std::string text;
        if (!plat::ReadFileText(FPath + SiteSignatureName, text)) return std::nullopt;
        return text;
    }
    std::string Cabinet(const std::string& cabName, const std::string& tmp, bool ownCopy) override {
        if (!ownCopy) return FPath + cabName;
        // A copy the run alone holds: it can't change between its check and its unpacking.
        MakeFoldersFor(tmp, cabName);
        plat::CopyFile(FPath + cabName, tmp + cabName, false);
        return tmp + cabName;
    }

private:
    std::string FPath;
};

} // namespace

bool TForm1::DoItHTTP(const std::string& url) {
    // A body too long for memory continues in the updater's own working folder.
    msHTTPClient1.ResponseStream().SpillFolder = Settings.TmpDir();
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
    VerifiedUpdaterSha256.clear();
    if (!plat::DirectoryExists(tmp)) plat::ForceDirectories(tmp);
    Say("Contacting download site ...(" + source.Where() + ")");
    if (!rules.ManifestIsDownloaded) Say("Checking versions...");

    const bool manifestCame = source.Get("versions.txt");
    if (rules.ManifestIsDownloaded) ProgressBar1.StepIt();
    // An error or redirect page is no manifest: nothing of it is read or stored.
    if (!manifestCame) {
        ReportFailedGet(source, "versions.txt");
        return false;
    }
    TManifest m;
    const std::string manifest = source.ManifestText();
    const char* refusal = CheckSite(source, manifest, cloneSite);
    m.ManifestLines = LoadManifestLines(manifest);
    if (rules.ManifestIsDownloaded) Say("Checking versions...");
    if (refusal) return GiveUpOnSite(m, refusal);
    if (!ParseManifest(m, rules.ReplacesBlankSizes, Settings.ProductDir, say, tmp)) return false;
    const bool keyed = !Settings.SitePublicKeys.empty();
    for (size_t i = 0; keyed && i < m.Count(); ++i)
        if (Sha256Field(m.FileTails[i]).empty())
            return GiveUpOnSite(m, "Giving up - line corrupt for SHA-256 - " + m.FileTails[i]);

    for (size_t i = 0; i < m.Count(); ++i) {
        const TManifestEntry e = PrepareEntry(m, i, Settings.ProductDir);
        if (cloneSite) {
            CloneEntry(source, e, m.FileTails[i]);
        } else {
            const TEntryStatus status = ClassifyEntry(e);
            Say(EntryStatusLine(status, e.Name));
            const bool cameOut =
                status != TEntryStatus::Unchanged && Unpack(source, e, m.FileTails[i], status);
            if (!Settings.CloneSite) InstallStep(e, rules, cameOut);
        }
        ProgressBar1.StepIt();
    }
    ProgressBar1.SetPosition(ProgressBar1.Max);
    return true;
}

const char* TForm1::CheckSite(TUpdateSource& source, const std::string& manifest, bool cloneSite) {
    // With a trusted key nothing unsigned is taken; a clone of a signed site is signed too.
    const bool keyed = !Settings.SitePublicKeys.empty();
    std::optional<std::string> signature;
    if (keyed || cloneSite) signature = source.Signature();
    const char* refusal = nullptr;
    if (keyed && !signature)
        refusal = "Giving up - site signature missing";
    else if (keyed && !SiteSignatureValid(Settings.SitePublicKeys, manifest, *signature))
        refusal = "Giving up - site signature invalid";
    if (cloneSite && !refusal) {
        SaveText(Settings.ClonePath + "versions.txt", manifest);
        if (signature)
            SaveText(Settings.ClonePath + SiteSignatureName, *signature);
        else if (plat::FileExists(Settings.ClonePath + SiteSignatureName))
            plat::DeleteFile(Settings.ClonePath + SiteSignatureName);
    }
    return refusal;
}

void TForm1::CloneEntry(TUpdateSource& source, const TManifestEntry& e, const std::string& tail) {
    Say("Retrieving file " + e.CabName);
    if (!source.Get(e.CabName)) {
        ReportFailedGet(source, e.CabName);
        return;
    }
    MakeFoldersFor(Settings.ClonePath, e.CabName);
    source.SaveCopy(Settings.ClonePath + e.CabName);
    if (!CabinetTrusted(Settings.ClonePath + e.CabName, nullptr, tail, e.Name))
        plat::DeleteFile(Settings.ClonePath + e.CabName);
}

bool TForm1::Unpack(TUpdateSource& source, const TManifestEntry& e, const std::string& tail,
                    TEntryStatus status) {
    const TEngineRules& rules = source.Rules();
    const std::string tmp = Settings.TmpDir();
    const bool keyed = !Settings.SitePublicKeys.empty();
    const bool ownCopy = rules.FetchesCabinets || keyed;
    std::string cab;
    try {
        cab = source.Cabinet(e.CabName, tmp, ownCopy);
    } catch (...) {
        // A cabinet cut short by a failed write (a full disk, a size limit) is no cabinet: it
        // goes before the failure ends the run.
        if (ownCopy) plat::DeleteFile(tmp + e.CabName);
        throw;
    }
    if (cab.empty()) {
        ReportFailedGet(source, e.CabName);
        return false;
    }
    bool cameOut = false;
    const std::string_view* image = source.CabinetImage();
    if (CabinetTrusted(cab, image, tail, e.Name)) {
        // A clone run from a folder installs nothing, so a file that does not come out is
        // no error of it.
        cameOut = Extract(cab, image, e.Name, !Settings.CloneSite);
        if (keyed && IsUpdaterProgram(e.Name))
            VerifiedUpdaterSha256 = FileSha256Field(tmp + e.Name);
    }
    if (ownCopy && !image && !plat::DeleteFile(cab) && status == TEntryStatus::Changed &&
        rules.FetchesCabinets)
        Say("Error deleting " + cab + " " + SystemErrorText());
    return cameOut;
}

void TForm1::InstallStep(const TManifestEntry& e, const TEngineRules& rules, bool cameOut) {
    const std::string left = Settings.TmpDir() + e.Name;
    // Also for an unchanged entry: a file an earlier run left in TmpDir is installed, when it
    // is the file the manifest names. A power cut can leave one torn, and an older run an
    // older version: such a one goes.
    if (!cameOut && !plat::FileExists(left)) return;
    if (cameOut || IsUpdaterProgram(e.Name) || LeftoverMatches(left, e)) {
        Install(e.Name, rules, cameOut && CABFile1.OnDisk());
        return;
    }
    Say("Deleting " + left + " - left by an earlier run, it does not match versions.txt");
    plat::DeleteFile(left);
}

void TForm1::ReportFailedGet(const TUpdateSource& source, const std::string& name) {
    FileErrors = true;
    Say("Error retrieving " + name + " " + source.Failure());
}

bool TForm1::GiveUpOnSite(const TManifest& m, const std::string& line) {
    Say(line);
    StoreManifest(m.ManifestLines, Settings.ProductDir);
    return false;
}

bool TForm1::CabinetTrusted(const std::string& cab, const std::string_view* image,
                            const std::string& tail, const std::string& name) {
    if (Settings.SitePublicKeys.empty()) return true;
    const std::string actual = image ? Sha256FieldOf(*image) : FileSha256Field(cab);
    if (!actual.empty() && actual == Sha256Field(tail)) return true;
    FileErrors = true;
    Say("Error extracting " + name + " " +
        (actual.empty() ? SystemErrorText() : "cabinet does not match the signed manifest"));
    return false;
}

bool TForm1::Extract(const std::string& cab, const std::string_view* image, const std::string& name,
                     bool report) {
    CABFile1.CABFile = cab;
    CABFile1.Image = image;
    CABFile1.TargetPath = Settings.TmpDir();
    {
        // The image lives only as long as this call; a raising progress handler must not
        // leave the component pointing at it.
        struct TForget {
            TCABFile& Component;
            ~TForget() { Component.Image = nullptr; }
        } forget{CABFile1};
        CABFile1.ExtractFile(name);
    }
    if (CABFile1.ExtractFailure().empty()) return true;
    // A file that did not come out stays old: that is an error of the run, never success.
    if (report) {
        FileErrors = true;
        Say("Error extracting " + name + " " + CABFile1.ExtractFailure());
    }
    return false;
}

void TForm1::Install(const std::string& name, const TEngineRules& rules, bool onDisk) {
    const std::string from = Settings.TmpDir() + name;
    const std::string to = Settings.ProductDir + name;
    try {
        // The running updater can't replace itself: its new program stays in TmpDir and the
        // self-update at the end of the run does it.
        if (IsUpdaterProgram(name)) {
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
        // A move has the outcome of a copy and the deletion below, without copying: once it
        // is done there is nothing left to delete.
        if (placed && plat::MoveFile(from, to, onDisk)) return;
        FileErrors = true;
        Say("Error copying " + from + " to " + to + " " + SystemErrorText());
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
