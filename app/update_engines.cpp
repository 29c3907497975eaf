// The two update engines: from the download site (DoItHTTP) and from a folder
// (DoItCopyFile).
#include <exception>
#include <string>

#include "app/main_window.h"
#include "app/manifest.h"
#include "platform/exception.h"
#include "platform/files.h"
#include "platform/text.h"

namespace {

// The running updater can't replace itself: its new program stays in TmpDir and the
// self-update at the end of the run does it.
bool LeftForSelfUpdate(const std::string& name) {
    if (plat::LowerCase(name) != "kvupdater.exe") return false;
    SelfUpdatePending = true;
    return true;
}

void MakeTmpDir() {
    const std::string tmp = TmpDir();
    if (!plat::DirectoryExists(tmp)) plat::ForceDirectories(tmp);
}

// An entry name may carry folders ("data\sigs\main.dat"): they are made under base, and
// only there, before anything is written under that name. False with the reason in the
// last error when they can't be.
bool MakeFoldersFor(const std::string& base, const std::string& name) {
    const std::string folders = plat::ExtractFilePath(name);
    return folders.empty() || plat::ForceDirectoriesWithin(base, folders);
}

} // namespace

void TForm1::Fetch(const std::string& base, const std::string& name) {
    msHTTPClient1.SetURL(base + name);
    msHTTPClient1.Get(); // the status is not looked at: an error page is content too
    msHTTPClient1.ResponseStream().SetPosition(0);
}

void TForm1::Extract(const std::string& cab, const std::string& name) {
    CABFile1.CABFile = cab;
    CABFile1.TargetPath = TmpDir();
    CABFile1.ExtractFile(name);
    if (CABFile1.ExtractFailure().empty()) return;
    // A file that did not come out stays old: that is an error of the run, never success.
    FileErrors = true;
    Say("Error extracting " + name + " " + CABFile1.ExtractFailure());
}

bool TForm1::DoItHTTP(const std::string& url) {
    const std::string tmp = TmpDir();
    const TSayProc say = [this](const std::string& text) { Say(text); };
    FileErrors = false;
    MakeTmpDir();
    Say("Contacting download site ...(" + url + ")");

    Fetch(url, "versions.txt");
    ProgressBar1.StepIt();
    TMemoryStream& response = msHTTPClient1.ResponseStream();
    TManifest m;
    if (CloneSite) response.SaveToFile(ClonePath + "versions.txt");
    m.ManifestLines = LoadManifestLines(response.View());
    Say("Checking versions...");
    if (!ParseManifest(m, true, ProductDir, say)) return false;

    for (size_t i = 0; i < m.Count(); ++i) {
        const TManifestEntry e = PrepareEntry(m, i, ProductDir);
        const std::string& name = e.Name;
        const std::string cab = tmp + e.CabName;
        if (CloneSite) {
            Say("Retrieving file " + e.CabName);
            Fetch(url, e.CabName);
            MakeFoldersFor(ClonePath, e.CabName);
            response.SaveToFile(ClonePath + e.CabName);
            ProgressBar1.StepIt();
            continue;
        }
        const TEntryStatus status = ClassifyEntry(e);
        Say(EntryStatusLine(status, name));
        if (status != TEntryStatus::Unchanged) {
            Fetch(url, e.CabName);
            MakeFoldersFor(tmp, e.CabName);
            response.SaveToFile(cab);
            Extract(cab, name);
            const bool deleted = plat::DeleteFile(cab);
            if (status == TEntryStatus::Changed && !deleted)
                Say("Error deleting " + cab + " " + SystemErrorText());
        }
        // Also for an unchanged entry: a file an earlier run left in TmpDir is installed.
        if (plat::FileExists(tmp + name)) InstallFromUrl(name);
        ProgressBar1.StepIt();
    }
    ProgressBar1.SetPosition(ProgressBar1.Max);
    return true;
}

void TForm1::InstallFromUrl(const std::string& name) {
    const std::string from = TmpDir() + name;
    const std::string to = ProductDir + name;
    try {
        if (LeftForSelfUpdate(name)) return;
        try {
            ClearAttributes(to);
        } catch (const std::exception& e) {
            Say("Error clearing attributes " + to + " " + ExceptionMessage(e));
        }
        // A move has the outcome of the copy and the deletion below, without copying.
        if (!MakeFoldersFor(ProductDir, name) || !plat::MoveFile(from, to)) {
            FileErrors = true;
            Say("Error copying " + from + " to " + to + " " + SystemErrorText());
        }
        try {
            plat::DeleteFile(from);
        } catch (const std::exception& e) {
            Say("Error deleting " + from + " " + ExceptionMessage(e));
        }
    } catch (const std::exception& e) {
        FileErrors = true;
        Say("Error copying " + from + " to " + to + " " + ExceptionMessage(e));
    }
}

bool TForm1::DoItCopyFile(const std::string& path) {
    const std::string tmp = TmpDir();
    const TSayProc say = [this](const std::string& text) { Say(text); };
    FileErrors = false;
    MakeTmpDir();
    Say("Contacting download site ...(" + path + ")");
    Say("Checking versions...");

    TManifest m;
    m.ManifestLines = LoadManifestFile(path + "versions.txt");
    if (!ParseManifest(m, false, ProductDir, say)) return false;

    for (size_t i = 0; i < m.Count(); ++i) {
        const TManifestEntry e = PrepareEntry(m, i, ProductDir);
        const std::string& name = e.Name;
        const TEntryStatus status = ClassifyEntry(e);
        Say(EntryStatusLine(status, name));
        if (status != TEntryStatus::Unchanged) {
            // The cabinet is read where it lies. A clone run installs nothing, so a file that
            // does not come out is no error of it.
            if (CloneSite) {
                CABFile1.CABFile = path + e.CabName;
                CABFile1.TargetPath = tmp;
                CABFile1.ExtractFile(name);
            } else {
                Extract(path + e.CabName, name);
            }
        }
        if (!CloneSite && plat::FileExists(tmp + name)) InstallFromPath(name);
        ProgressBar1.StepIt();
    }
    ProgressBar1.SetPosition(ProgressBar1.Max);
    return true;
}

void TForm1::InstallFromPath(const std::string& name) {
    const std::string from = TmpDir() + name;
    const std::string to = ProductDir + name;
    try {
        if (LeftForSelfUpdate(name)) return;
        ClearAttributes(to);
        if (!MakeFoldersFor(ProductDir, name) || !plat::MoveFile(from, to)) {
            FileErrors = true;
            Say("Error copying " + from + " to " + to + " " + SystemErrorText());
        }
        plat::DeleteFile(from);
    } catch (const std::exception& e) {
        FileErrors = true;
        Say("Error copying " + from + " to " + to + " " + ExceptionMessage(e));
    }
}
