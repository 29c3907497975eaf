#pragma once
// The main window TForm1: its components, the settings of the run, start-up
// (startup.cpp), the run driver, log and self-update (run.cpp) and the two update engines
// (update_engines.cpp).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/settings.h"
#include "cab/cabfiles.h"
#include "fileinfo/file_info.h"
#include "net/http_client.h"
#include "platform/timer.h"
#include "platform/ui.h"

// The exit statuses of the program.
constexpr int ExitAllDone = 0;
constexpr int ExitErrors = 1;
constexpr int ExitStartupFailed = 2;

// The platform's text for the thread's last error, trailing blanks, control characters and
// full stops removed.
std::string SystemErrorText();
// Takes a message and records nothing.
void SayNothing(const std::string& text);
// " mmm dd yyyy " of the local date, as the window caption carries it.
std::string CaptionDate();
// The switches, one per line, as "/?" and "--help" print them.
std::string SwitchHelp();
// "/?" or "--help" among the arguments, other than as a switch's value.
bool WantsHelp(const std::vector<std::string>& args);

class TUpdateSource;
struct TEngineRules;
struct TManifest;
struct TManifestEntry;
enum class TEntryStatus;

class TForm1 {
public:
    TForm1();
    ~TForm1();
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    // The run's settings, filled by start-up.
    TSettings Settings;

    // Components, in creation order.
    plat::TWindowSettings Window;
    plat::TMemo Memo1;
    plat::TProgressBar ProgressBar1;
    plat::TProgressBar ProgressBar2;
    TmsHTTPClient msHTTPClient1;
    TCABFile CABFile1;
    plat::TTimer Timer1;
    TFileInfo FileInfo1;
    std::vector<std::string> ImageList1; // icon names; 0 is the rebranded edition's

    // The exit status the run leaves: ExitStartupFailed until a run or a self-update copy
    // has ended.
    int ExitCode = ExitStartupFailed;

    // Start-up: everything between the start of the program and the armed timer.
    void FormCreate();
    void ReadKestavorinIni();
    void ReadKVUpdaterIni();

    // The log: one time-stamped line.
    void Say(const std::string& text);
    // Writes every log line to the file, creating or replacing it.
    void SaveLog(const std::string& fileName);
    // The window appears with the log once start-up has decided whether the run is silent:
    // the lines so far are shown (unless silent) and later ones as they are written.
    void ShowLog();

    // The run driver, fired once by Timer1.
    void Timer1Timer();
    void FormClose();

    // The stop and restart steps around an update. RestartList holds "Name.exe|" for every
    // program the stop step found, to be started again by the restart step.
    std::string RestartList;
    void GetActiveList();
    void RestartStuff();

    // The update engines: true when the update went through, false for a corrupt manifest.
    // FileErrors tells whether a new or changed file of the last engine run was left
    // uninstalled; the run then ends with errors.
    bool DoItHTTP(const std::string& url);
    bool DoItCopyFile(const std::string& path);
    bool FileErrors = false;
    // With trusted site keys: the SHA-256 field of the updater program the last engine run
    // unpacked from a cabinet the signed manifest vouched for; empty when none.
    std::string VerifiedUpdaterSha256;

    // The HTTP client's progress handlers.
    void msHTTPClient1Connecting(TmsSocketBase* Sender);
    void msHTTPClient1TransferProgress(TmsSocketBase* Sender, int32_t Perc, int32_t ByteCount,
                                       int32_t LineCount);
    void msHTTPClient1Disconnected(TmsSocketBase* Sender);

private:
    bool FLogShown = false;
    void HandleSwitches();
    void ReadLanguageFile();
    void ProxySummary();
    void SelfUpdateCopy();
    // Sets Proxy through the client's setter, the text cut to 255 characters.
    void AssignProxy(const std::string& text);
    // A proxy port text from an initialisation file: an empty one changes nothing, one that
    // is not a number is logged.
    void AssignProxyPort(const std::string& port);
    // The one loop of both engines, and its steps.
    bool RunUpdate(TUpdateSource& source);
    // The signature's verdict on the manifest (a giving-up line, or null to go on); a clone
    // run saves the manifest and the signature it is taking.
    const char* CheckSite(TUpdateSource& source, const std::string& manifest, bool cloneSite);
    // A clone run's entry: its cabinet saved into ClonePath, unchanged.
    void CloneEntry(TUpdateSource& source, const TManifestEntry& e, const std::string& tail);
    // Gets a new or changed entry's cabinet and unpacks the entry into TmpDir: whether it
    // came out.
    bool Unpack(TUpdateSource& source, const TManifestEntry& e, const std::string& tail,
                TEntryStatus status);
    // Installs what came out, or a file an earlier run left in TmpDir when it matches.
    void InstallStep(const TManifestEntry& e, const TEngineRules& rules, bool cameOut);
    // A file the source could not get: an error of the run, with what came instead.
    void ReportFailedGet(const TUpdateSource& source, const std::string& name);
    // Says the giving-up line and stores the manifest as a corrupt one is stored; false.
    bool GiveUpOnSite(const TManifest& m, const std::string& line);
    // Without trusted keys, true. With them, whether the cabinet's SHA-256 is the one in
    // the entry's tail; a cabinet that is not is reported and counted in FileErrors.
    // image: the cabinet's bytes when they are in memory, else null and cab is read.
    bool CabinetTrusted(const std::string& cab, const std::string_view* image,
                        const std::string& tail, const std::string& name);
    // Unpacks name from the cabinet into TmpDir. With report, a file that does not come out
    // is logged and counted in FileErrors.
    // True when the file came out into TmpDir.
    bool Extract(const std::string& cab, const std::string_view* image, const std::string& name,
                 bool report);
    // Moves the unpacked file into the product folder (the updater's own stays for the
    // self-update); a failure is logged and counted in FileErrors.
    // onDisk: the file in TmpDir has been flushed to disk since it was written.
    void Install(const std::string& name, const TEngineRules& rules, bool onDisk);
};
