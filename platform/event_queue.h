#pragma once
// The timers and posted handlers of an event loop, apart from how the loop sleeps: timers
// with due times, one-shot or periodic, handlers posted from any thread, and the rules of
// one round of dispatch. A loop that waits by its own means (poll on POSIX) asks it how long
// it may sleep and lets it dispatch; it wakes itself after a post. Portable
// (event_queue.cpp).
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <utility>

namespace plat {

class TEventQueue {
public:
    // Called inside the catch block when a handler raises, so it may rethrow to learn what;
    // the round goes on with the next handler.
    std::function<void()> OnHandlerException;

    // The timer's id, or 0 for an empty handler. Every call on the loop's thread.
    int StartTimer(unsigned intervalMs, bool periodic, std::function<void()> handler);
    void StopTimer(int id);
    // Milliseconds until the next timer is due: 0 when one is due, -1 when there is none.
    int MsToNextTimer() const;

    // Any thread may post; an empty handler is dropped.
    void Post(std::function<void()> handler);
    bool PostsWaiting();
    // No timer and no post: nothing is left that could happen.
    bool Empty();

    // Runs the posts waiting on entry, in order, then the timers due on entry, earliest
    // first; stop is asked after every handler and ends the round when it answers true.
    void Dispatch(const std::function<bool()>& stop);

private:
    struct TTimer {
        uint64_t Due;
        unsigned Interval;
        bool Periodic;
        std::function<void()> Handler;
    };

    int NextTimerId();
    void Invoke(const std::function<void()>& handler);

    int FLastTimerId = 0;
    std::map<int, TTimer> FTimers;
    std::mutex FPostLock;
    uint64_t FPostSerial = 0;
    std::deque<std::pair<uint64_t, std::function<void()>>> FPosts;
};

} // namespace plat
