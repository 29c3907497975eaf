// Windows and processes on Windows come with the program's own window (EnumWindows, the
// Toolhelp snapshot, TerminateProcess). Until then this side sees no window and no process:
// nothing is stopped before an update and nothing started again after it.
#include "platform/processes.h"

#include "platform/errors.h"

namespace plat {

void EnumWindows(const std::function<bool(TWindowHandle)>&) {}

std::string WindowText(TWindowHandle, size_t) {
    return {};
}

std::string WindowClassName(TWindowHandle, size_t) {
    return {};
}

bool WindowVisible(TWindowHandle) {
    return false;
}

uint32_t WindowThreadProcessId(TWindowHandle, uint32_t* processId) {
    if (processId) *processId = 0;
    return 0;
}

bool ProcessSnapshot(std::vector<TProcessEntry>& entries) {
    entries.clear();
    return true;
}

bool TerminateProcess(uint32_t) {
    SetLastError(syserr::CallNotImplemented);
    return false;
}

bool WaitForProcessEnd(uint32_t, unsigned) {
    return true;
}

} // namespace plat
