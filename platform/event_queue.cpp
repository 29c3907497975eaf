#include "platform/event_queue.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "platform/clock.h"

namespace plat {

namespace {
// A periodic timer of no interval would keep the loop from ever sleeping.
constexpr unsigned MinPeriodMs = 10;
} // namespace

int TEventQueue::StartTimer(unsigned intervalMs, bool periodic, std::function<void()> handler) {
    if (!handler) return 0;
    if (periodic && intervalMs < MinPeriodMs) intervalMs = MinPeriodMs;
    int id = NextTimerId();
    FTimers[id] = TTimer{MonotonicMs() + intervalMs, intervalMs, periodic, std::move(handler)};
    return id;
}

void TEventQueue::StopTimer(int id) {
    FTimers.erase(id);
}

int TEventQueue::MsToNextTimer() const {
    if (FTimers.empty()) return -1;
    uint64_t next = UINT64_MAX;
    for (const auto& [id, timer] : FTimers) next = std::min(next, timer.Due);
    uint64_t now = MonotonicMs();
    return next <= now ? 0 : static_cast<int>(std::min<uint64_t>(next - now, INT_MAX));
}

void TEventQueue::Post(std::function<void()> handler) {
    if (!handler) return;
    std::lock_guard<std::mutex> lock(FPostLock);
    FPosts.emplace_back(++FPostSerial, std::move(handler));
}

bool TEventQueue::PostsWaiting() {
    std::lock_guard<std::mutex> lock(FPostLock);
    return !FPosts.empty();
}

bool TEventQueue::Empty() {
    return FTimers.empty() && !PostsWaiting();
}

int TEventQueue::NextTimerId() {
    do {
        FLastTimerId = FLastTimerId == INT_MAX ? 1 : FLastTimerId + 1;
    } while (FTimers.count(FLastTimerId));
    return FLastTimerId;
}

void TEventQueue::Invoke(const std::function<void()>& handler) {
    try {
        handler();
    } catch (...) {
        if (OnHandlerException) OnHandlerException();
    }
}

// A handler may dispatch again from inside (nested); each event still runs once. Events
// that arrive meanwhile wait for the next round, so a handler that posts or starts a zero
// timer again can't hold the loop.
void TEventQueue::Dispatch(const std::function<bool()>& stop) {
    uint64_t last; // the newest post waiting on entry
    {
        std::lock_guard<std::mutex> lock(FPostLock);
        last = FPostSerial;
    }
    for (;;) {
        std::function<void()> handler;
        {
            std::lock_guard<std::mutex> lock(FPostLock);
            // Empty when a nested dispatch took the rest.
            if (FPosts.empty() || FPosts.front().first > last) break;
            handler = std::move(FPosts.front().second);
            FPosts.pop_front();
        }
        Invoke(handler);
        if (stop()) return;
    }

    uint64_t now = MonotonicMs();
    std::vector<std::pair<uint64_t, int>> due;
    for (const auto& [id, timer] : FTimers)
        if (timer.Due <= now) due.emplace_back(timer.Due, id);
    std::sort(due.begin(), due.end());
    for (const auto& [when, id] : due) {
        auto it = FTimers.find(id);
        // Stopped, or already fired by a nested dispatch.
        if (it == FTimers.end() || it->second.Due > now) continue;
        // A copy: the handler may stop its own timer while it runs.
        std::function<void()> handler = it->second.Handler;
        if (it->second.Periodic) {
            TTimer& timer = it->second;
            timer.Due += timer.Interval;
            // Ticks missed while the loop was busy are dropped, not fired in a burst.
            if (timer.Due <= now) timer.Due = now + timer.Interval;
        } else {
            FTimers.erase(it);
        }
        Invoke(handler);
        if (stop()) return;
    }
}

} // namespace plat
