#pragma once
// A private Xvfb display for the process tests, and stand-in product programs on it.
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/support.h"

namespace kvtest {

// Starts Xvfb with one screen of the given size on a free display number and points DISPLAY
// at it; stops it at destruction and restores DISPLAY.
class TXvfb {
public:
    explicit TXvfb(const std::string& screen = "320x240x24");
    ~TXvfb();
    TXvfb(const TXvfb&) = delete;
    TXvfb& operator=(const TXvfb&) = delete;
    bool Ok() const { return FPid > 0; }
    const std::string& Display() const { return FDisplay; }
    void Stop(); // the display goes away

private:
    pid_t FPid = -1;
    std::string FDisplay, FSavedDisplay;
    bool FHadDisplay = false;
};

// A product folder holding the stand-in program under each given name.
std::string InstallProgram(const TTempDir& dir, const std::string& name);

// Starts dir's program name with args; with waitReady, returns once its windows exist.
TChild StartProgram(const TTempDir& dir, const std::string& name,
                    std::vector<std::string> args = {}, bool waitReady = true);

// Polls until the process has ended (or is a zombie), bounded generously.
bool ProcessEnded(pid_t pid);
// Polls done() every pollMs until it holds; false when timeoutMs went by first.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 20000, int pollMs = 10);

} // namespace kvtest
