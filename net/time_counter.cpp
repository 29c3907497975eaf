#include "net/time_counter.h"

TmsTimeCounter::TmsTimeCounter() {
    FTimer.SetEnabled(false);
    FTimer.SetOnTimer([this](TmsTimer* sender) { TimerTick(sender); });
}

void TmsTimeCounter::TimerTick(TmsTimer*) {
    --FRemaining;
    if (FRemaining <= 0) FTimedOut = true;
}

void TmsTimeCounter::Start() {
    FRemaining = FTimeOut;
    FTimer.SetEnabled(true);
}

void TmsTimeCounter::Stop() {
    FTimer.SetEnabled(false);
}

void TmsTimeCounter::Reset() {
    FRemaining = FTimeOut;
    FTimedOut = false;
    // A running timer is not restarted, so the next tick may come sooner than a second.
    if (!FTimer.Enabled()) FTimer.SetEnabled(true);
}
