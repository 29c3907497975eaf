// The stand-in product programs on Windows: window_app.exe copied under the programs' names,
// started with CreateProcessA on the desktop of the prefix the tests run in.
#include <chrono>
#include <stdexcept>
#include <thread>
#include <utility>

#include "tests/support/programs.h"

namespace kvtest {
namespace {

// One argument as the C runtime splits a command line: quoted when it holds a blank or a
// quote, a quote inside written as \" (the arguments here hold no backslash before a quote).
std::string QuoteArgument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string quoted = "\"";
    for (char c : arg) {
        if (c == '"') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

} // namespace

// The desktop is the prefix's: no display of the tests' own.
class TXvfb {};

TDesktop::TDesktop() = default;
TDesktop::~TDesktop() = default;
bool TDesktop::Ok() const {
    return true;
}

TProgram::TProgram(const std::vector<std::string>& argv) {
    std::string commandLine;
    for (const std::string& arg : argv)
        commandLine += (commandLine.empty() ? "" : " ") + QuoteArgument(arg);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessA(argv.at(0).c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                          nullptr, nullptr, &startup, &info))
        throw std::runtime_error("cannot start " + argv.at(0) + ": error " +
                                 std::to_string(::GetLastError()));
    ::CloseHandle(info.hThread);
    FProcess = info.hProcess;
    FPid = info.dwProcessId;
}

TProgram::~TProgram() {
    Stop();
}

TProgram::TProgram(TProgram&& other) noexcept
    : FProcess(std::exchange(other.FProcess, nullptr)), FPid(std::exchange(other.FPid, 0)) {}

TProgram& TProgram::operator=(TProgram&& other) noexcept {
    if (this != &other) {
        Stop();
        FProcess = std::exchange(other.FProcess, nullptr);
        FPid = std::exchange(other.FPid, 0);
    }
    return *this;
}

bool TProgram::Running() const {
    return FProcess && ::WaitForSingleObject(FProcess, 0) == WAIT_TIMEOUT;
}

void TProgram::Stop() {
    if (!FProcess) return;
    ::TerminateProcess(FProcess, 1);
    ::WaitForSingleObject(FProcess, 30000);
    ::CloseHandle(FProcess);
    FProcess = nullptr;
}

std::string InstallProgram(const TTempDir& dir, const std::string& name) {
    const std::string target = dir.File(name);
    if (!::CopyFileA(WinePath(KV_WINDOW_APP).c_str(), target.c_str(), FALSE))
        throw std::runtime_error("cannot copy the stand-in to " + target);
    return target;
}

TProgram StartProgram(const TTempDir& dir, const std::string& name, std::vector<std::string> args,
                      bool waitReady) {
    const std::string program = dir.File(name);
    if (!dir.Exists(name)) InstallProgram(dir, name);
    static int serial = 0;
    const std::string ready = "ready-" + std::to_string(++serial);
    args.insert(args.begin(), program);
    args.push_back("--ready");
    args.push_back(dir.File(ready));
    TProgram started(args);
    if (waitReady) WaitUntil([&] { return dir.Exists(ready) || !started.Running(); });
    return started;
}

TPid OwnPid() {
    return ::GetCurrentProcessId();
}

bool ProcessExists(TPid pid) {
    const HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process) return false;
    const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    ::CloseHandle(process);
    return running;
}

bool ProcessEnded(TPid pid) {
    return WaitUntil([pid] { return !ProcessExists(pid); });
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs, int pollMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
    return true;
}

} // namespace kvtest
