#include "process/process_viewer.h"

#include <chrono>
#include <thread>

#include "platform/text.h"
#include "platform/ui.h"

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

std::string ExeNameFromSnapshot(const std::vector<plat::TProcessEntry>& snapshot, uint32_t pid) {
    if (pid == 0) return {};
    for (const auto& entry : snapshot)
        if (entry.ProcessId == pid) return entry.ExeFile.substr(0, 260);
    return {};
}

// The first window, in enumeration order, of a program whose name contains the key.
const TProcessInfo* FindKey(const TProcessList& list, const std::string& key) {
    for (const auto& info : list)
        if (info.ExeName.find(key) != std::string::npos) return &info;
    return nullptr;
}

bool WindowOfProcessLeft(uint32_t processId) {
    for (const auto& info : RefreshProcessList())
        if (info.ProcessId == processId) return true;
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

bool EnumWindowsProc(plat::TWindowHandle window, intptr_t userValue) {
    TProcessInfo info;
    info.Title = plat::WindowText(window, MaxWindowText);
    info.WindowClass = plat::WindowClassName(window, MaxWindowText);
    info.ThreadId = plat::WindowThreadProcessId(window, &info.ProcessId);
    info.ExeName = plat::UpperCase(GetExeNameOfWindow(window));
    info.Handle = window;
    info.Visible = plat::WindowVisible(window);
    reinterpret_cast<TProcessList*>(userValue)->push_back(std::move(info));
    return true;
}

TProcessList RefreshProcessList() {
    std::vector<plat::TProcessEntry> snapshot;
    RefreshSnapshotValid = plat::ProcessSnapshot(snapshot);
    RefreshSnapshot = &snapshot;
    struct TReset {
        ~TReset() { RefreshSnapshot = nullptr; }
    } reset;
    TProcessList list;
    plat::EnumWindows([&list](plat::TWindowHandle w) {
        return EnumWindowsProc(w, reinterpret_cast<intptr_t>(&list));
    });
    return list;
}

bool IsExeRunning(const std::string& name) {
    std::string key = ExeKey(name);
    // A name that is only a folder leaves no key, and an empty key would match every window.
    if (key.empty()) return false;
    return FindKey(RefreshProcessList(), key) != nullptr;
}

bool KillExe(const std::string& name) {
    std::string key = ExeKey(name);
    // An empty key would stop every program that has a window.
    if (key.empty()) return false;
    // A program that something starts again as fast as it is stopped would hold the update
    // here for ever; past this many stops it counts as one that resists.
    for (int stops = 0; stops < MaxStopsPerName; ++stops) {
        const TProcessList list = RefreshProcessList();
        const TProcessInfo* match = FindKey(list, key);
        if (!match) return true;
        if (!KillProcessById(match->ProcessId)) return false;
    }
    return FindKey(RefreshProcessList(), key) == nullptr;
}

bool KillProcessById(uint32_t processId) {
    bool terminated = plat::TerminateProcess(processId);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(StopGraceMs);
    for (int i = 0; i < 5001; ++i) plat::Presentation().ProcessMessages();
    if (terminated) plat::WaitForProcessEnd(processId, StopGraceMs);
    // The display drops a dead client's windows a moment after it noticed the end.
    bool left = WindowOfProcessLeft(processId);
    while (terminated && left && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        left = WindowOfProcessLeft(processId);
    }
    return !left;
}
