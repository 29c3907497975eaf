// The console presentation on Windows: no window on the screen. Log lines go to standard
// output as they are written, progress to standard error when that is a console, errors to
// standard error; nothing is ever shown in a box that would hold an unattended run.
// The event loop runs on the thread's messages: a message-only window takes the timers
// (SetTimer), the socket notifications (WSAAsyncSelect) and the wake-up of a post from another
// thread, and a wait sleeps in MsgWaitForMultipleObjectsEx until a message arrives or the
// next timer is due.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "platform/clock.h"
#include "platform/event_queue.h"
#include "platform/ui.h"
#include "platform/win32/message_loop.h"
#include "platform/win32/win32_api.h"

namespace plat {
namespace {

// The message that carries a socket notification, as the socket binding registers it.
constexpr UINT SocketMessage = 0x862;
// A post from another thread waits in the queue.
constexpr UINT WakeMessage = WM_APP + 1;

const char* const WindowClass = "KVUpdaterMessageWindow";

// Writes all of data to a standard stream; a reader that went away or a missing stream loses
// the output, never the run.
void WriteAll(DWORD stream, const std::string& data) {
    const HANDLE h = ::GetStdHandle(stream);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        DWORD done = 0;
        if (!::WriteFile(h, p, static_cast<DWORD>(left), &done, nullptr) || done == 0) return;
        p += done;
        left -= done;
    }
}

bool IsConsole(DWORD stream) {
    DWORD mode;
    const HANDLE h = ::GetStdHandle(stream);
    return h && h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode);
}

// What the log and progress hooks need. Shared with the hooks, so a widget that outlives the
// presentation never calls into freed memory.
struct TOutput {
    bool Silent = false;
    bool ErrConsole = false;
    bool ProgressShown = false; // a progress line stands on the console
    int Percent[2] = {0, 0};

    void ClearProgress() {
        if (!ProgressShown) return;
        WriteAll(STD_ERROR_HANDLE, "\r               \r");
        ProgressShown = false;
    }

    void DrawProgress() {
        if (Silent || !ErrConsole) return;
        char text[64];
        std::snprintf(text, sizeof text, "\r[%3d%%] [%3d%%]", Percent[0], Percent[1]);
        WriteAll(STD_ERROR_HANDLE, text);
        ProgressShown = true;
    }

    // Lines end as Windows text lines do.
    void Line(DWORD stream, const std::string& text) {
        ClearProgress();
        WriteAll(stream, text + "\r\n");
    }
};

int PercentOf(const TProgressBar& bar) {
    long range = static_cast<long>(bar.Max) - bar.Min;
    if (range <= 0) return 0;
    long done = static_cast<long>(bar.Position) - bar.Min;
    return static_cast<int>(std::clamp(done * 100 / range, 0L, 100L));
}

class TWin32ConsolePresentation final : public TPresentation, public win32::TMessageLoop {
public:
    TWin32ConsolePresentation() : FOutput(std::make_shared<TOutput>()) {
        FOutput->ErrConsole = IsConsole(STD_ERROR_HANDLE);
        FQueue.OnHandlerException = [this] { HandleException(); };
        const HINSTANCE instance = ::GetModuleHandleA(nullptr);
        WNDCLASSA wc{};
        wc.lpfnWndProc = WindowProc;
        wc.hInstance = instance;
        wc.lpszClassName = WindowClass;
        ::RegisterClassA(&wc); // a second presentation finds the class there already
        FWindow = ::CreateWindowExA(0, WindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    instance, nullptr);
        if (FWindow) ::SetWindowLongPtrA(FWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }

    ~TWin32ConsolePresentation() override {
        if (!FWindow) return;
        ::SetWindowLongPtrA(FWindow, GWLP_USERDATA, 0);
        ::DestroyWindow(FWindow); // its timers go with it
    }

    HWND NotificationWindow() const override { return FWindow; }

    void Attach(TWindowSettings& window, TProgressBar& bar1, TProgressBar& bar2,
                TMemo& log) override {
        if (!FCaption.empty() && window.Caption.empty()) window.Caption = FCaption;
        FWindowSettings = &window;
        auto output = FOutput;
        log.OnAppend = [output](const std::string& line) {
            if (!output->Silent) output->Line(STD_OUTPUT_HANDLE, line);
        };
        TProgressBar* bars[2] = {&bar1, &bar2};
        for (int i = 0; i < 2; ++i) {
            output->Percent[i] = PercentOf(*bars[i]);
            bars[i]->OnChange = [output, i](const TProgressBar& bar) {
                int percent = PercentOf(bar);
                if (percent == output->Percent[i] && output->ProgressShown) return;
                output->Percent[i] = percent;
                output->DrawProgress();
            };
        }
    }

    void SetCaption(const std::string& caption) override {
        FCaption = caption;
        if (FWindowSettings) FWindowSettings->Caption = caption;
    }
    std::string Caption() const override {
        return FWindowSettings ? FWindowSettings->Caption : FCaption;
    }
    void Show() override {} // no window to show
    void SetSilent() override {
        FOutput->ClearProgress();
        FOutput->Silent = true;
    }
    bool Silent() const override { return FOutput->Silent; }
    void SetIcon(const std::string& name) override { FIcon = name; }
    void Beep() override {
        if (!FOutput->Silent) ::MessageBeep(0);
    }

    // Errors reach standard error even in silent mode: a script that runs the program
    // silently still needs to learn why it failed.
    void ShowError(const std::string& message) override {
        FOutput->Line(STD_ERROR_HANDLE, message);
    }

    void ShowMessage(const std::string& caption, const std::string& text, TMessageKind) override {
        if (FOutput->Silent) return;
        FOutput->Line(STD_ERROR_HANDLE, caption.empty() ? text : caption + ": " + text);
    }

    int StartTimer(unsigned intervalMs, bool periodic, std::function<void()> handler) override {
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

    void StopTimer(int id) override {
        if (FTimers.erase(id) && FWindow) ::KillTimer(FWindow, static_cast<UINT_PTR>(id));
    }

    void Post(std::function<void()> handler) override {
        if (!handler) return;
        FQueue.Post(std::move(handler));
        Wake();
    }

    void ProcessMessages() override { Dispatch(false); }

    void WaitForSocket(TSocket socket, bool readable, bool writable) override {
        if (FQueue.PostsWaiting()) return;
        if (socket != NoSocket && TakeNotification(socket, readable, writable)) return;
        const int next = MsToNextTimer();
        if (next < 0 && socket == NoSocket) return; // nothing could ever wake us
        // A tick wakes the wait itself; the bound only keeps a late one from holding it.
        const DWORD timeout = next < 0 ? INFINITE : static_cast<DWORD>(next) + USER_TIMER_MINIMUM;
        ::MsgWaitForMultipleObjectsEx(0, nullptr, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }

    void Run() override {
        while (!FTerminated) {
            Dispatch(true);
            if (FTerminated) break;
            if (FTimers.empty() && !FQueue.PostsWaiting()) break; // nothing left to happen
            WaitForSocket(NoSocket, false, false);
        }
    }

    void Quit() override {
        FTerminated = true;
        Wake();
    }

    bool Terminated() const override { return FTerminated; }

private:
    struct TTimer {
        uint64_t Due;
        unsigned Interval;
        bool Periodic;
        std::function<void()> Handler;
    };

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<TWin32ConsolePresentation*>(
            ::GetWindowLongPtrA(window, GWLP_USERDATA));
        if (!self) return ::DefWindowProcA(window, message, wParam, lParam);
        // No exception may unwind through the system's frames that called us.
        try {
            switch (message) {
            case WM_TIMER:
                self->Tick(static_cast<int>(wParam));
                return 0;
            case SocketMessage:
                self->FNotified[static_cast<TSocket>(wParam)] |=
                    static_cast<uint32_t>(lParam) & 0xFFFF;
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

    static constexpr uint32_t ReadEvents = 1 | 4 | 8 | 32; // read, out-of-band, accept, close
    static constexpr uint32_t WriteEvents = 2 | 16;        // write, connect
    static constexpr uint32_t AnyEvent = 0x10000;

    // Whether a notification that ends a wait for the socket has come since the last wait.
    bool TakeNotification(TSocket socket, bool readable, bool writable) {
        auto it = FNotified.find(socket);
        if (it == FNotified.end()) return false;
        const uint32_t events = it->second;
        const uint32_t wanted =
            AnyEvent | (readable ? ReadEvents : 0u) | (writable ? WriteEvents : 0u);
        if (!(events & wanted)) return false;
        FNotified.erase(it);
        return true;
    }

    void Tick(int id) {
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

    int MsToNextTimer() const {
        if (FTimers.empty()) return -1;
        uint64_t next = UINT64_MAX;
        for (const auto& [id, timer] : FTimers) next = std::min(next, timer.Due);
        const uint64_t now = MonotonicMs();
        return next <= now ? 0 : static_cast<int>(std::min<uint64_t>(next - now, 0x7FFFFFFF));
    }

    // One message stands for every post until the loop takes it from the queue: a post while
    // one waits needs none, and the loop sleeps only when none is pending.
    void Wake() {
        if (!FWindow || FWakePending.exchange(true)) return;
        if (!::PostMessageA(FWindow, WakeMessage, 0, 0)) FWakePending.store(false);
    }

    // The posts waiting on entry, then the messages: timer ticks, socket notifications. Only
    // messages posted before the round began are taken, so a handler that keeps a timer due
    // can't hold the round.
    void Dispatch(bool stopOnQuit) {
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

    std::shared_ptr<TOutput> FOutput;
    TWindowSettings* FWindowSettings = nullptr;
    std::string FCaption, FIcon;
    HWND FWindow = nullptr;
    std::map<int, TTimer> FTimers;
    int FLastTimerId = 0;
    std::map<TSocket, uint32_t> FNotified; // events notified per socket since its last wait
    std::atomic<bool> FWakePending{false};
    bool FTerminated = false;
    TEventQueue FQueue; // the posts
};

} // namespace

std::unique_ptr<TPresentation> CreateConsolePresentation() {
    return std::make_unique<TWin32ConsolePresentation>();
}

namespace win32 {

HWND SocketNotificationWindow() {
    auto* loop = dynamic_cast<TMessageLoop*>(&Presentation());
    return loop ? loop->NotificationWindow() : nullptr;
}

} // namespace win32

} // namespace plat
