#include "net/time_counter.h"

#include "net/messages.h"
#include "platform/exception.h"
#include "platform/ui.h"

TmsTimer::TmsTimer() = default;

TmsTimer::~TmsTimer() {
    // Disabled first, so no tick can reach a destroyed object.
    if (FTimerId) plat::Presentation().StopTimer(FTimerId);
    FTimerId = 0;
}

void TmsTimer::SetEnabled(bool enabled) {
    if (enabled == FEnabled) return;
    FEnabled = enabled;
    UpdateTimer();
}

void TmsTimer::SetOnTimer(TmsTimerEvent handler) {
    FOnTimer = std::move(handler);
    UpdateTimer();
}

void TmsTimer::UpdateTimer() {
    // The presentation is only asked for when there is a timer to stop or start, so creating
    // a component never creates a presentation of its own.
    if (FTimerId) plat::Presentation().StopTimer(FTimerId);
    FTimerId = 0;
    if (FInterval != 0 && FEnabled && FOnTimer) {
        FTimerId = plat::Presentation().StartTimer(FInterval, true, [this] { Tick(); });
        if (FTimerId == 0) throw EOutOfResources(sNotEnoughTimers);
    }
}

void TmsTimer::Tick() {
    // The presentation hands an exception out of a timer handler to its error handler.
    if (FOnTimer) FOnTimer(this);
}

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
