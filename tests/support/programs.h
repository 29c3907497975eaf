#pragma once
// Stand-ins for the product's programs: one small program that opens top-level windows and
// stays running until it is ended, copied into a product folder under the programs' names. On
// Linux it is xwindow_app on the test's Xvfb display, on Windows window_app.exe on the desktop
// of the Wine prefix the tests run in.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/support.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kvtest {

class TXvfb;

// The desktop the stand-ins open their windows on: on Linux a private Xvfb display for the
// object's life; on Windows the desktop of the Wine prefix the tests run in, always there.
class TDesktop {
public:
    TDesktop();
    ~TDesktop();
    TDesktop(const TDesktop&) = delete;
    TDesktop& operator=(const TDesktop&) = delete;
    bool Ok() const;

private:
    std::unique_ptr<TXvfb> FDisplay;
};

#ifdef _WIN32
using TPid = uint32_t;

// A Windows program started in the background, ended (TerminateProcess) at destruction.
class TProgram {
public:
    TProgram() = default;
    explicit TProgram(const std::vector<std::string>& argv);
    ~TProgram();
    TProgram(TProgram&& other) noexcept;
    TProgram& operator=(TProgram&& other) noexcept;
    TPid Pid() const { return FPid; }
    bool Running() const;
    void Stop();

private:
    HANDLE FProcess = nullptr;
    TPid FPid = 0;
};
#else
using TPid = pid_t;
using TProgram = TChild;
#endif

// Copies the stand-in into dir under name; returns its full name.
std::string InstallProgram(const TTempDir& dir, const std::string& name);

// Starts dir's program name (installed first when missing) with args; with waitReady,
// returns once its windows exist.
TProgram StartProgram(const TTempDir& dir, const std::string& name,
                      std::vector<std::string> args = {}, bool waitReady = true);

// This process's id.
TPid OwnPid();
// Whether the process exists (on Linux, a zombie still does).
bool ProcessExists(TPid pid);
// Polls until the process has ended (or is a zombie), bounded generously.
bool ProcessEnded(TPid pid);
// How long a wait for a program or a window may take at most: a Windows program under an
// emulated processor takes seconds to start.
#ifdef _WIN32
inline constexpr int DefaultWaitMs = 120000;
#else
inline constexpr int DefaultWaitMs = 20000;
#endif
// Polls done() every pollMs until it holds; false when timeoutMs went by first.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = DefaultWaitMs, int pollMs = 10);

} // namespace kvtest
