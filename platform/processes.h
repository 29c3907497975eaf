#pragma once
// The desktop's top-level windows and the running processes, for finding and stopping the
// product's programs. Windows come from the display named by the environment; without a
// display there are none. All calls on the main thread. Each side implements it.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace plat {

using TWindowHandle = uint32_t;

// Calls visit for every top-level window, mapped or not, in the platform's order; stops
// early when visit answers false. Without a display (or when it went away) visits nothing.
// A window inside a window manager's frame is visited in the frame's place.
void EnumWindows(const std::function<bool(TWindowHandle)>& visit);

// What a window tells about itself. A window that has gone answers empty, false or 0.
std::string WindowText(TWindowHandle window, size_t maxChars);      // its title
std::string WindowClassName(TWindowHandle window, size_t maxChars); // its class
bool WindowVisible(TWindowHandle window);
// The creating thread's id (the process id where threads own no windows) and, through
// processId when given, the owning process's id; 0 when unknown.
uint32_t WindowThreadProcessId(TWindowHandle window, uint32_t* processId);

// One process of a snapshot: its id and its program's file name as the system reports it
// (no folder here; some Windows versions report the full path).
struct TProcessEntry {
    uint32_t ProcessId = 0;
    std::string ExeFile;
};
// Every running process. False when no snapshot can be taken.
bool ProcessSnapshot(std::vector<TProcessEntry>& entries);

// Ends a process at once. False when it is refused (another user's process) or gone.
bool TerminateProcess(uint32_t processId);
// Waits, at most timeoutMs, until the process has ended. True when it has.
bool WaitForProcessEnd(uint32_t processId, unsigned timeoutMs);

} // namespace plat
