#pragma once
// The one-second tick and the inactivity counter that ends every wait of the socket layer.
#include <cstdint>
#include <functional>

class TmsTimer;
using TmsTimerEvent = std::function<void(TmsTimer* Sender)>;

// A periodic timer delivered through the presentation's event loop. Each setting re-applies
// the platform timer; a refusal raises EOutOfResources "Not enough timers".
class TmsTimer {
public:
    TmsTimer();
    ~TmsTimer(); // disables first
    TmsTimer(const TmsTimer&) = delete;
    TmsTimer& operator=(const TmsTimer&) = delete;

    uint32_t Interval() const { return FInterval; }
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool enabled);
    void SetOnTimer(TmsTimerEvent handler);

private:
    void UpdateTimer();
    void Tick();
    uint32_t FInterval = 1000;
    bool FEnabled = true;
    TmsTimerEvent FOnTimer;
    int FTimerId = 0; // platform timer, 0 when none runs
};

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
