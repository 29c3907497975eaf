// Windows and processes on Windows: the desktop's top-level windows through EnumWindows, the
// running processes through the Toolhelp snapshot functions, looked up in kernel32.dll by name
// at first use as the system does, and TerminateProcess.
#include "platform/processes.h"

#include <exception>
#include <vector>

#include "platform/errors.h"
#include "platform/ui.h"
#include "platform/win32/win32_api.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_handles.h"

// After windows.h, which it needs.
#include <tlhelp32.h>

namespace plat {
namespace {

// The single-byte process entry: 296 bytes in a 32-bit process, with a file name field of 260.
static_assert(sizeof(void*) != 4 || sizeof(PROCESSENTRY32) == 296);
static_assert(sizeof(PROCESSENTRY32::szExeFile) == MAX_PATH);

// Window handles are 32-bit values on either width; a 64-bit process sign-extends them.
HWND ToHwnd(TWindowHandle window) {
    return reinterpret_cast<HWND>(static_cast<intptr_t>(static_cast<int32_t>(window)));
}

TWindowHandle FromHwnd(HWND window) {
    return static_cast<TWindowHandle>(reinterpret_cast<uintptr_t>(window));
}

struct TToolhelp {
    using TCreateSnapshot = HANDLE(WINAPI*)(DWORD, DWORD);
    using TWalk = BOOL(WINAPI*)(HANDLE, PROCESSENTRY32*);
    TCreateSnapshot CreateSnapshot = nullptr;
    TWalk First = nullptr, Next = nullptr;
    bool Ok() const { return CreateSnapshot && First && Next; }
};

// Looked up once; the answer, found or not, serves for the rest of the process.
const TToolhelp& Toolhelp() {
    static const TToolhelp functions = [] {
        TToolhelp t;
        const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
        if (!kernel) return t;
        t.CreateSnapshot =
            win32::ProcAddress<TToolhelp::TCreateSnapshot>(kernel, "CreateToolhelp32Snapshot");
        t.First = win32::ProcAddress<TToolhelp::TWalk>(kernel, "Process32First");
        t.Next = win32::ProcAddress<TToolhelp::TWalk>(kernel, "Process32Next");
        return t;
    }();
    return functions;
}

struct TEnumState {
    const std::function<bool(TWindowHandle)>* Visit;
    std::exception_ptr Error;
};

BOOL CALLBACK EnumProc(HWND window, LPARAM userValue) {
    auto* state = reinterpret_cast<TEnumState*>(userValue);
    // No exception may unwind through the system's frames: it is raised again afterwards.
    try {
        return (*state->Visit)(FromHwnd(window)) ? TRUE : FALSE;
    } catch (...) {
        state->Error = std::current_exception();
        return FALSE;
    }
}

// A window's text of at most maxChars characters, read by GetWindowTextA or GetClassNameA.
template <class TRead> std::string Text(TRead read, TWindowHandle window, size_t maxChars) {
    // A gone window has no text (Wine answers one of stray bytes).
    if (!::IsWindow(ToHwnd(window))) return {};
    std::vector<char> buffer(maxChars + 1);
    const int length = read(ToHwnd(window), buffer.data(), static_cast<int>(buffer.size()));
    return length > 0 ? std::string(buffer.data(), static_cast<size_t>(length)) : std::string();
}

} // namespace

void EnumWindows(const std::function<bool(TWindowHandle)>& visit) {
    TEnumState state{&visit, nullptr};
    ::EnumWindows(EnumProc, reinterpret_cast<LPARAM>(&state));
    if (state.Error) std::rethrow_exception(state.Error);
}

std::string WindowText(TWindowHandle window, size_t maxChars) {
    return Text(::GetWindowTextA, window, maxChars);
}

std::string WindowClassName(TWindowHandle window, size_t maxChars) {
    return Text(::GetClassNameA, window, maxChars);
}

bool WindowVisible(TWindowHandle window) {
    return ::IsWindowVisible(ToHwnd(window)) != 0;
}

uint32_t WindowThreadProcessId(TWindowHandle window, uint32_t* processId) {
    DWORD pid = 0;
    const DWORD thread = ::GetWindowThreadProcessId(ToHwnd(window), &pid);
    if (processId) *processId = thread ? pid : 0;
    return thread;
}

bool ProcessSnapshot(std::vector<TProcessEntry>& entries) {
    entries.clear();
    const TToolhelp& toolhelp = Toolhelp();
    if (!toolhelp.Ok()) return false;
    win32::TKernelHandle snapshot(toolhelp.CreateSnapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.Valid()) return false;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = toolhelp.First(snapshot.Get(), &entry); more;
         more = toolhelp.Next(snapshot.Get(), &entry)) {
        size_t length = 0;
        while (length < MAX_PATH && entry.szExeFile[length]) ++length;
        entries.push_back(TProcessEntry{entry.th32ProcessID, std::string(entry.szExeFile, length)});
    }
    return true;
}

bool TerminateProcess(uint32_t processId) {
    // Never this process: a stray id must not end the updater itself.
    if (processId == ::GetCurrentProcessId()) return win32::FailWith(ERROR_ACCESS_DENIED);
    const HANDLE opened = ::OpenProcess(PROCESS_TERMINATE, FALSE, processId);
    if (!opened) return false; // refused, or no such process
    win32::TKernelHandle process(opened);
    return ::TerminateProcess(process.Get(), 0) != 0;
}

bool WaitForProcessEnd(uint32_t processId, unsigned timeoutMs) {
    const HANDLE opened = ::OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (!opened) return true; // gone already
    win32::TKernelHandle process(opened);
    const DWORD began = ::GetTickCount();
    // The window goes on painting while it waits.
    for (;;) {
        const DWORD waited = ::GetTickCount() - began;
        if (waited >= timeoutMs) return false;
        const HANDLE handles[1] = {process.Get()};
        const DWORD result = ::MsgWaitForMultipleObjectsEx(1, handles, timeoutMs - waited,
                                                           QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (result == WAIT_OBJECT_0) return true;
        if (result != WAIT_OBJECT_0 + 1) return false;
        Presentation().ProcessMessages();
    }
}

} // namespace plat
