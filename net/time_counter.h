#pragma once
// The one-second tick and the inactivity counter that ends every wait of the socket layer.
#include <cstdint>
#include <functional>
#include <vector>

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

// Bounds on a transfer beyond the inactivity time-out, which any byte restarts: a moment by
// which a phase must be over, and a floor of bytes that every window of seconds must bring.
// Without them a server that sends a byte now and then holds a run for days.
class TTransferBounds {
public:
    void SetDeadline(int32_t seconds);                 // from now
    void SetRateFloor(int64_t bytes, int32_t seconds); // over every window from now on
    void Clear();
    void Note(int64_t bytes); // bytes arrived now
    bool Exceeded() const;

private:
    struct TSecond {
        int64_t Index = -1, Bytes = 0;
    };
    int64_t Second() const; // whole seconds since the floor was set
    uint64_t FDeadline = 0, FStart = 0;
    int64_t FFloor = 0;
    std::vector<TSecond> FWindow; // a slot per second of the window and the one under way
};
