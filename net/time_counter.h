#pragma once
// The one-second tick and the inactivity counter that ends every wait of the socket layer.
#include <cstdint>
#include <functional>

#include "platform/timer.h"

// The socket layer's tick source is the program's one timer type.
using TmsTimer = plat::TTimer;
using TmsTimerEvent = plat::TTimer::TEvent;

// Counts ticks down from TimeOut; TimedOut is set when none are left.
class TmsTimeCounter {
public:
    TmsTimeCounter();
    void Start(); // Remaining := TimeOut, timer on; TimedOut unchanged
    void Stop();  // timer off
    void Reset(); // Remaining := TimeOut, TimedOut cleared, timer on unless already running

    bool TimedOut() const { return FTimedOut; }
    int32_t TimeOut() const { return FTimeOut; }
    void SetTimeOut(int32_t seconds) { FTimeOut = seconds; }
    int32_t Remaining() const { return FRemaining; }
    bool Running() const { return FTimer.Enabled(); }

private:
    void TimerTick(TmsTimer* Sender);
    TmsTimer FTimer;
    int32_t FRemaining = 0;
    int32_t FTimeOut = 60;
    bool FTimedOut = false;
};
