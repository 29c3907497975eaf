#pragma once
// A private Xvfb display for the process tests and the window tests; the stand-in product
// programs (programs.h) open their windows on it.
#include <sys/types.h>

#include <string>

#include "tests/support/programs.h"

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

} // namespace kvtest
