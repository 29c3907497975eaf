// The run driver, the log file and the self-update copy.
#include <exception>
#include <string>

#include "app/main_window.h"
#include "app/manifest.h"
#include "app/site_signature.h"
#include "net/socket_api.h"
#include "platform/clock.h"
#include "platform/exception.h"
#include "platform/files.h"
#include "platform/shell.h"

namespace {
// How long the self-update copy keeps trying to replace the program file.
constexpr uint64_t SelfUpdateRetryMs = 10000;
} // namespace

void TForm1::Timer1Timer() {
    // Exactly one run per process.
    Timer1.SetEnabled(false);
    bool errors = false;
    ExitCode = ExitErrors;

    if (!Settings.CloneSite) GetActiveList();

    try {
        bool ok =
            Settings.FromPath ? DoItCopyFile(Settings.SourcePath) : DoItHTTP(Settings.DownloadUrl);
        if (!ok || FileErrors) errors = true;
    } catch (const std::exception& e) {
        errors = true;
        int32_t code = LastSocketError();
        bool noConnection = Settings.FromPath
                                ? (code == sockerr::HostNotFound || code == sockerr::NoData)
                                : (code == sockerr::HostNotFound ||
                                   code == sockerr::InvalidArgument || code == sockerr::NoData);
        if (noConnection)
            Say("No internet connection available");
        else
            Say("Unexpected error " + ExceptionMessage(e));
    }

    if (!Settings.CloneSite) RestartStuff();

    const std::string newProgram =
        Settings.UpdaterDir() + "tmp" + plat::PathDelim + "kvupdater.exe";
    // With trusted site keys the only program started is the one a vouched-for cabinet held.
    if (Settings.SelfUpdatePending && !Settings.SitePublicKeys.empty() &&
        FileSha256Field(newProgram) != VerifiedUpdaterSha256) {
        errors = true;
        Say("Can't update self " + newProgram + " does not match the signed manifest");
        Settings.SelfUpdatePending = false;
        plat::DeleteFile(newProgram);
    }

    Say(errors ? "There were errors" : "All done");
    const std::string logFile = Settings.LogDir() + plat::PathDelim + "KVUpdater.log";
    if (!plat::DirectoryExists(Settings.LogDir())) plat::ForceDirectories(Settings.LogDir());
    SaveLog(logFile);
    ExitCode = errors ? ExitErrors : ExitAllDone;

    if (Settings.SelfUpdatePending) {
        Say("Self-updating " + newProgram);
        SaveLog(logFile);
        if (plat::FileExists(newProgram)) {
            plat::ShellExecute(plat::ResolveName(newProgram), " /self");
            plat::Presentation().Quit();
            return;
        }
    }

    if (Settings.AutoExit) plat::Presentation().Quit();
}

void TForm1::SelfUpdateCopy() {
    ShowLog();
    // The updater that started this copy must have ended before its file is replaced.
    plat::Sleep(2000);
    Settings.ProductDir = Settings.UpdaterDir() + ".." + plat::PathDelim;
    const std::string target = Settings.ProductDir + "KVUpdater.exe";
    const std::string ownLog = Settings.UpdaterDir() + "kvupdater.log";
    try {
        if (Settings.Params.size() > 1 && Settings.Params[1] == "/debug")
            Say("Updating self from " + Settings.ExeName + " to " + target);
        ClearAttributes(target);
        Say("Updating self from " + Settings.ExeName + " to " + target);
        // The old updater may still be ending: its file can be locked for a moment.
        const uint64_t deadline = plat::MonotonicMs() + SelfUpdateRetryMs;
        while (!plat::CopyFile(Settings.ExeName, target, false)) {
            if (plat::MonotonicMs() >= deadline) {
                // Never report success with the old program still in place.
                Say("Can't update self " + SystemErrorText());
                SaveLog(ownLog);
                ExitCode = ExitErrors;
                plat::Presentation().Quit();
                return;
            }
            plat::Sleep(250);
        }
    } catch (const std::exception& e) {
        Say("Can't update self " + ExceptionMessage(e));
        SaveLog(ownLog);
        ExitCode = ExitErrors;
        plat::Presentation().Quit();
        return;
    }
    SaveLog(ownLog);
    ExitCode = ExitAllDone;
    plat::Presentation().Quit();
}
