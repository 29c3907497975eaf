// The Windows presentations' event loop on the thread's messages (message_loop.h).
#include "platform/win32/message_loop.h"

#include <algorithm>
#include <utility>

#include "platform/clock.h"

namespace plat::win32 {
namespace {

// The message that carries a socket notification, as the socket binding registers it.
constexpr UINT SocketMessage = 0x862;
// A post from another thread waits in the queue.
constexpr UINT WakeMessage = WM_APP + 1;

const char* const WindowClass = "KVUpdaterMessageWindow";

constexpr uint32_t ReadEvents = 1 | 4 | 8 | 32; // read, out-of-band, accept, close
constexpr uint32_t WriteEvents = 2 | 16;        // write, connect
constexpr uint32_t AnyEvent = 0x10000;

} // namespace

TLoopPresentation::TLoopPresentation() {
    FQueue.OnHandlerException = [this] { HandleException(); };
    const HINSTANCE instance = ::GetModuleHandleA(nullptr);
    WNDCLASSA wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = WindowClass;
    ::RegisterClassA(&wc); // a second presentation finds the class there already
    FWindow = ::CreateWindowExA(0, WindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                                nullptr);
    if (FWindow) ::SetWindowLongPtrA(FWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

TLoopPresentation::~TLoopPresentation() {
    if (!FWindow) return;
    ::SetWindowLongPtrA(FWindow, GWLP_USERDATA, 0);
    ::DestroyWindow(FWindow); // its timers go with it
}

int TLoopPresentation::StartTimer(unsigned intervalMs, bool periodic,
                                  std::function<void()> handler) {
    if (!handler || !FWindow) return 0;
    int id = FLastTimerId;
    do id = id == 0x7FFF ? 1 : id + 1;
    while (FTimers.count(id));
    // The system's shortest interval stands in for a shorter one.
    const unsigned interval = std::max<unsigned>(intervalMs, USER_TIMER_MINIMUM);
    if (!::SetTimer(FWindow, static_cast<UINT_PTR>(id), interval, nullptr)) return 0;
    FLastTimerId = id;
    FTimers[id] = TTimer{MonotonicMs() + interval, interval, periodic, std::move(handler)};
    return id;
}

void TLoopPresentation::StopTimer(int id) {
    if (FTimers.erase(id) && FWindow) ::KillTimer(FWindow, static_cast<UINT_PTR>(id));
}

void TLoopPresentation::Post(std::function<void()> handler) {
    if (!handler) return;
    FQueue.Post(std::move(handler));
    Wake();
}

void TLoopPresentation::WaitForSocket(TSocket socket, bool readable, bool writable) {
    if (FQueue.PostsWaiting()) return;
    if (socket != NoSocket && TakeNotification(socket, readable, writable)) return;
    const int next = MsToNextTimer();
    if (next < 0 && socket == NoSocket) return; // nothing could ever wake us
    // A tick wakes the wait itself; the bound only keeps a late one from holding it.
    Sleep(next < 0 ? INFINITE : static_cast<DWORD>(next) + USER_TIMER_MINIMUM);
}

void TLoopPresentation::Run() {
    while (!FTerminated) {
        Dispatch(true);
        if (FTerminated) break;
        const bool more = !FTimers.empty() || FQueue.PostsWaiting();
        if (!more && !KeepsRunning()) break; // nothing left to happen
        if (more)
            WaitForSocket(NoSocket, false, false);
        else
            Sleep(INFINITE); // until the window has something to say
    }
}

void TLoopPresentation::Quit() {
    FTerminated = true;
    Wake();
}

LRESULT CALLBACK TLoopPresentation::WindowProc(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
    auto* self = reinterpret_cast<TLoopPresentation*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!self) return ::DefWindowProcA(window, message, wParam, lParam);
    // No exception may unwind through the system's frames that called us.
    try {
        switch (message) {
        case WM_TIMER:
            self->Tick(static_cast<int>(wParam));
            return 0;
        case SocketMessage:
            self->FNotified[static_cast<TSocket>(wParam)] |= static_cast<uint32_t>(lParam) & 0xFFFF;
            // An error comes with the event it ends: any wait on the socket is over.
            if (static_cast<uint32_t>(lParam) >> 16) self->FNotified[wParam] |= AnyEvent;
            return 0;
        case WakeMessage:
            self->FWakePending.store(false);
            return 0;
        default:
            break;
        }
    } catch (...) {
        try {
            self->HandleException();
        } catch (...) {
        }
        return 0;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

// Whether a notification that ends a wait for the socket has come since the last wait.
bool TLoopPresentation::TakeNotification(TSocket socket, bool readable, bool writable) {
    auto it = FNotified.find(socket);
    if (it == FNotified.end()) return false;
    const uint32_t events = it->second;
    const uint32_t wanted = AnyEvent | (readable ? ReadEvents : 0u) | (writable ? WriteEvents : 0u);
    if (!(events & wanted)) return false;
    FNotified.erase(it);
    return true;
}

void TLoopPresentation::Tick(int id) {
    auto it = FTimers.find(id);
    if (it == FTimers.end()) {
        ::KillTimer(FWindow, static_cast<UINT_PTR>(id)); // stopped: a late tick
        return;
    }
    // A copy: the handler may stop its own timer while it runs.
    std::function<void()> handler = it->second.Handler;
    if (it->second.Periodic) {
        it->second.Due = MonotonicMs() + it->second.Interval;
    } else {
        ::KillTimer(FWindow, static_cast<UINT_PTR>(id));
        FTimers.erase(it);
    }
    handler();
}

int TLoopPresentation::MsToNextTimer() const {
    if (FTimers.empty()) return -1;
    uint64_t next = UINT64_MAX;
    for (const auto& [id, timer] : FTimers) next = std::min(next, timer.Due);
    const uint64_t now = MonotonicMs();
    return next <= now ? 0 : static_cast<int>(std::min<uint64_t>(next - now, 0x7FFFFFFF));
}

void TLoopPresentation::Sleep(DWORD timeoutMs) {
    ::MsgWaitForMultipleObjectsEx(0, nullptr, timeoutMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

// One message stands for every post until the loop takes it from the queue: a post while one
// waits needs none, and the loop sleeps only when none is pending.
void TLoopPresentation::Wake() {
    if (!FWindow || FWakePending.exchange(true)) return;
    if (!::PostMessageA(FWindow, WakeMessage, 0, 0)) FWakePending.store(false);
}

// The posts waiting on entry, then the messages: timer ticks, socket notifications, the
// windows' input and painting. Only messages posted before the round began are taken, so a
// handler that keeps a timer due can't hold the round.
void TLoopPresentation::Dispatch(bool stopOnQuit) {
    FQueue.Dispatch([this, stopOnQuit] { return stopOnQuit && FTerminated; });
    if (stopOnQuit && FTerminated) return;
    const DWORD began = ::GetTickCount();
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            FTerminated = true;
            break;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
        if (stopOnQuit && FTerminated) break;
        if (static_cast<LONG>(msg.time - began) > 0) break;
    }
}

HWND SocketNotificationWindow() {
    auto* loop = dynamic_cast<TMessageLoop*>(&Presentation());
    return loop ? loop->NotificationWindow() : nullptr;
}

} // namespace plat::win32
