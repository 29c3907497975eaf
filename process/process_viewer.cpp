#include "process/process_viewer.h"

#include <chrono>
#include <thread>

#include "platform/text.h"
#include "platform/ui.h"

std::vector<TProcessInfo> ProcessList;
std::vector<std::string> ExeNames, Titles, VisibleFlags, Handles, WindowClasses, ThreadIds,
    ProcessIds;

namespace {

// The names and windows here are read through texts of 255 characters with the terminator.
constexpr size_t MaxWindowText = 254;
// How long a stop waits, beyond the event pumping, for the process to end and the display to
// drop its windows: the server removes them a moment after the kill.
constexpr unsigned StopGraceMs = 2000;
constexpr int MaxStopsPerName = 64;

// The process snapshot of the refresh under way; one per refresh is enough.
const std::vector<plat::TProcessEntry>* RefreshSnapshot = nullptr;
bool RefreshSnapshotValid = false;

uint32_t ToUInt32(const std::string& text) {
    // Written by us as unsigned decimal; kept to 32 bits.
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = (value * 10 + static_cast<unsigned>(c - '0')) & 0xFFFFFFFFull;
    }
    return static_cast<uint32_t>(value);
}

std::string ExeNameFromSnapshot(const std::vector<plat::TProcessEntry>& snapshot, uint32_t pid) {
    if (pid == 0) return {};
    for (const auto& entry : snapshot)
        if (entry.ProcessId == pid) return entry.ExeFile.substr(0, 260);
    return {};
}

bool ContainsKey(const std::string& key) {
    for (const auto& info : ProcessList)
        if (info.ExeName.find(key) != std::string::npos) return true;
    return false;
}

bool WindowOfProcessLeft(uint32_t processId) {
    std::string id = std::to_string(processId);
    for (const auto& text : ProcessIds)
        if (text == id) return true;
    return false;
}

} // namespace

std::string ExeKey(const std::string& name) {
    // "/" separates folders here as "\\" does.
    size_t cut = name.find_last_of("\\/:");
    return plat::UpperCase(cut == std::string::npos ? name : name.substr(cut + 1));
}

std::string GetExeNameOfWindow(plat::TWindowHandle window) {
    uint32_t pid = 0;
    plat::WindowThreadProcessId(window, &pid);
    if (RefreshSnapshot)
        return RefreshSnapshotValid ? ExeNameFromSnapshot(*RefreshSnapshot, pid) : "";
    std::vector<plat::TProcessEntry> snapshot;
    if (!plat::ProcessSnapshot(snapshot)) return {};
    return ExeNameFromSnapshot(snapshot, pid);
}

bool EnumWindowsProc(plat::TWindowHandle window, intptr_t) {
    std::string text = plat::WindowText(window, MaxWindowText);
    std::string windowClass = plat::WindowClassName(window, MaxWindowText);
    uint32_t pid = 0;
    uint32_t thread = plat::WindowThreadProcessId(window, &pid);
    ThreadIds.push_back(std::to_string(thread));
    ExeNames.push_back(GetExeNameOfWindow(window));
    Handles.push_back(std::to_string(window));
    VisibleFlags.push_back(plat::WindowVisible(window) ? "1" : "0");
    WindowClasses.push_back(windowClass);
    Titles.push_back(text);
    ProcessIds.push_back(std::to_string(pid));
    return true;
}

void RefreshProcessList() {
    for (auto* list :
         {&ExeNames, &Titles, &VisibleFlags, &Handles, &WindowClasses, &ThreadIds, &ProcessIds})
        list->clear();

    std::vector<plat::TProcessEntry> snapshot;
    RefreshSnapshotValid = plat::ProcessSnapshot(snapshot);
    RefreshSnapshot = &snapshot;
    struct TReset {
        ~TReset() { RefreshSnapshot = nullptr; }
    } reset;
    plat::EnumWindows([](plat::TWindowHandle w) { return EnumWindowsProc(w, 0); });

    ProcessList.assign(ExeNames.size(), TProcessInfo{});
    for (size_t i = 0; i < ProcessList.size(); ++i) {
        ExeNames[i] = plat::UpperCase(ExeNames[i]);
        TProcessInfo& info = ProcessList[i];
        info.ExeName = ExeNames[i];
        info.Title = Titles[i];
        info.Visible = VisibleFlags[i] == "1";
        info.Handle = ToUInt32(Handles[i]);
        info.WindowClass = WindowClasses[i];
        info.ThreadId = ToUInt32(ThreadIds[i]);
        info.ProcessId = ToUInt32(ProcessIds[i]);
    }
}

bool IsExeRunning(const std::string& name) {
    std::string key = ExeKey(name);
    // A name that is only a folder leaves no key, and an empty key would match every window.
    if (key.empty()) return false;
    RefreshProcessList();
    return ContainsKey(key);
}

bool KillExe(const std::string& name) {
    std::string key = ExeKey(name);
    // An empty key would stop every program that has a window.
    if (key.empty()) return false;
    // A program that something starts again as fast as it is stopped would hold the update
    // here for ever; past this many stops it counts as one that resists.
    for (int stops = 0; stops < MaxStopsPerName; ++stops) {
        RefreshProcessList();
        const TProcessInfo* match = nullptr;
        for (const auto& info : ProcessList)
            if (info.ExeName.find(key) != std::string::npos) {
                match = &info;
                break;
            }
        if (!match) return true;
        if (!KillProcessById(match->ProcessId)) return false;
    }
    RefreshProcessList();
    return !ContainsKey(key);
}

bool KillProcessById(uint32_t processId) {
    bool terminated = plat::TerminateProcess(processId);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(StopGraceMs);
    for (int i = 0; i < 5001; ++i) plat::Presentation().ProcessMessages();
    if (terminated) plat::WaitForProcessEnd(processId, StopGraceMs);
    RefreshProcessList();
    // The display drops a dead client's windows a moment after it noticed the end.
    while (terminated && WindowOfProcessLeft(processId) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        RefreshProcessList();
    }
    return !WindowOfProcessLeft(processId);
}
