#pragma once
// The event loop of every Windows presentation, on the thread's messages: a message-only
// window takes the timers (SetTimer), the socket notifications (WSAAsyncSelect) and the
// wake-up of a post from another thread; a wait sleeps in MsgWaitForMultipleObjectsEx until a
// message arrives or the next timer is due, so a notification ends the wait for its socket.
// Messages of the program's other windows are dispatched by the same rounds. For platform/win32
// and the socket binding only.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>

#include "platform/event_queue.h"
#include "platform/ui.h"
#include "platform/win32/win32_api.h"

namespace plat::win32 {

class TMessageLoop {
public:
    virtual ~TMessageLoop() = default;
    // The message-only window that receives socket notifications and timer ticks.
    virtual HWND NotificationWindow() const = 0;
};

// The window of the process's presentation, or null when that presentation runs no loop of
// Windows messages (a socket then has no notifications, and its waits end at the next tick).
HWND SocketNotificationWindow();

// The loop's half of a presentation; the presentations add what they show.
class TLoopPresentation : public TPresentation, public TMessageLoop {
public:
    TLoopPresentation();
    ~TLoopPresentation() override;

    HWND NotificationWindow() const override { return FWindow; }

    int StartTimer(unsigned intervalMs, bool periodic, std::function<void()> handler) override;
    void StopTimer(int id) override;
    void Post(std::function<void()> handler) override;
    void ProcessMessages() override { Dispatch(false); }
    void WaitForSocket(TSocket socket, bool readable, bool writable) override;
    // Runs until Quit, or until nothing is left that could happen: no timer, no post, and
    // nothing else that keeps the loop (KeepsRunning).
    void Run() override;
    void Quit() override;
    bool Terminated() const override { return FTerminated; }

protected:
    // Something besides timers and posts that may still happen: an open window.
    virtual bool KeepsRunning() const { return false; }

private:
    struct TTimer {
        uint64_t Due;
        unsigned Interval;
        bool Periodic;
        std::function<void()> Handler;
    };

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    bool TakeNotification(TSocket socket, bool readable, bool writable);
    void Tick(int id);
    int MsToNextTimer() const;
    void Sleep(DWORD timeoutMs);
    void Wake();
    void Dispatch(bool stopOnQuit);

    HWND FWindow = nullptr;
    std::map<int, TTimer> FTimers;
    int FLastTimerId = 0;
    std::map<TSocket, uint32_t> FNotified; // events notified per socket since its last wait
    std::atomic<bool> FWakePending{false};
    bool FTerminated = false;
    TEventQueue FQueue; // the posts
};

} // namespace plat::win32
