#include "net/time_counter.h"

#include <algorithm>

#include "platform/clock.h"

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

void TTransferBounds::SetDeadline(int32_t seconds) {
    FDeadline = plat::MonotonicMs() + static_cast<uint64_t>(std::max(seconds, 1)) * 1000;
}

void TTransferBounds::SetRateFloor(int64_t bytes, int32_t seconds) {
    FStart = plat::MonotonicMs();
    FFloor = bytes;
    // A slot more than the window: the second under way fills while the whole ones before
    // it are judged.
    FWindow.assign(static_cast<size_t>(std::max(seconds, 1)) + 1, TSecond{});
}

void TTransferBounds::Clear() {
    FDeadline = 0;
    FFloor = 0;
    FWindow.clear();
}

int64_t TTransferBounds::Second() const {
    return static_cast<int64_t>((plat::MonotonicMs() - FStart) / 1000);
}

void TTransferBounds::Note(int64_t bytes) {
    if (FWindow.empty()) return;
    const int64_t second = Second();
    TSecond& slot = FWindow[static_cast<size_t>(second) % FWindow.size()];
    if (slot.Index != second) slot = TSecond{second, 0};
    slot.Bytes += bytes;
}

bool TTransferBounds::Exceeded() const {
    if (FDeadline != 0 && plat::MonotonicMs() >= FDeadline) return true;
    if (FWindow.empty()) return false;
    const int64_t second = Second();
    const auto window = static_cast<int64_t>(FWindow.size()) - 1;
    if (second < window) return false; // a whole window has not passed yet
    // The last window of whole seconds: a second just begun has had no time to bring any.
    int64_t bytes = 0;
    for (const TSecond& slot : FWindow)
        if (slot.Index >= second - window && slot.Index < second) bytes += slot.Bytes;
    return bytes < FFloor;
}
