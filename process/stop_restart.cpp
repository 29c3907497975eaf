#include "process/stop_restart.h"

#include <cstring>

#include "platform/exception.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "process/process_viewer.h"

namespace {

// The order matters: the short keys find programs whose names lost their last letter, and
// the command-line scanners (no restart name) are never started again.
constexpr TStopStep Steps[StopStepCount] = {
    {"ferrowynd.ex", "Stopping Ferrowynd.exe", "Ferrowynd.exe", false, false, false},
    {"kestavorincl.ex", "Stopping KestavorinCL.exe", nullptr, false, false, false},
    {"kvmemcheck.exe", "Stopping KVMemCheck.exe", "KVMemCheck.exe", false, true, false},
    {"ferrowynd.exe", "Stopping Ferrowynd.exe", "Ferrowynd.exe", false, true, false},
    {"tessamund.exe", "Stopping Tessamund.exe", "Tessamund.exe", false, true, false},
    {"kvcontrol.exe", "Stopping KVControl.exe", "KVControl.exe", false, true, false},
    {"kvserver.exe", "Stopping KVServer.exe", "KVServer.exe", false, true, false},
    {"kestavorin.exe", "Stopping Kestavorin.exe", "Kestavorin.exe", true, true, false},
    // The rebranded scanner: its key is fixed, only its log text passes the brand rules.
    {"ostrivanecl.ex", "Stopping KestavorinCL.exe", nullptr, false, false, true},
};

void WriteMarker(const std::string& name) {
    plat::TFile file(plat::FileCreate(name));
    bool ok = file.Valid();
    size_t length = strlen(MarkerLine);
    if (ok) ok = plat::FileWrite(file.Get(), MarkerLine, length) == static_cast<int64_t>(length);
    int code = ok ? 0 : plat::GetLastError();
    if (ok) ok = plat::FileFlush(file.Get());
    if (!ok && !code) code = plat::GetLastError();
    if (!file.Close() && ok) {
        ok = false;
        code = plat::GetLastError();
    }
    if (!ok) throw EInOutError("I/O error " + std::to_string(code), code);
}

void RunStep(const TStopStep& step, const TBrandProc& brand, std::string& restartList,
             const TSayProc& say) {
    std::string key = step.Branded ? brand(step.Key) : step.Key;
    if (!IsExeRunning(key)) return;
    if (step.Caught) {
        try {
            say(step.Branded || step.RebrandedOnly ? brand(step.LogText) : step.LogText);
            if (step.RestartName)
                restartList +=
                    (step.Branded ? brand(step.RestartName) : step.RestartName) + std::string("|");
            KillExe(key);
        } catch (...) {
            // Dropped without a word: one program that can't be handled must not keep
            // the others running.
        }
        return;
    }
    say(step.RebrandedOnly ? brand(step.LogText) : step.LogText);
    if (step.RestartName) restartList += step.RestartName + std::string("|");
    KillExe(key);
}

} // namespace

const TStopStep* StopSteps() {
    return Steps;
}

void StopProductPrograms(const std::string& productDir, bool rebranded, const TBrandProc& brand,
                         std::string& restartList, const TSayProc& say) {
    for (const TStopStep& step : Steps) {
        if (step.RebrandedOnly && !rebranded) continue;
        RunStep(step, brand, restartList, say);
    }
    for (const char* marker : MarkerFileNames) WriteMarker(productDir + marker);
}

void RestartProductPrograms(const std::string& productDir, std::string& restartList,
                            const TSayProc& say, const TSayProc& sayNothing) {
    for (const char* marker : MarkerFileNames) {
        try {
            plat::DeleteFile(productDir + marker);
        } catch (...) {
            sayNothing(std::string("Error deleting ") + marker);
        }
    }
    size_t bar;
    while ((bar = restartList.find('|')) != std::string::npos) {
        std::string name = restartList.substr(0, bar);
        say("Restarting " + name);
        try {
            plat::ShellExecute(name, "", productDir);
        } catch (...) {
            // A refused start is not reported beyond its "Restarting " line.
        }
        restartList.erase(0, bar + 1);
    }
    // Started whether or not it ran before: the product's control program must be up.
    if (plat::FileExists(productDir + "kvcontrol.exe"))
        plat::ShellExecute("kvcontrol.exe", "", productDir);
}
