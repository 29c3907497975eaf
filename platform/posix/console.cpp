// The console presentation: no window. Log lines go to standard output as they are
// written, progress to standard error when that is a terminal, errors to standard error.
// The event loop keeps its timers and posts in a TEventQueue and sleeps in poll() on the
// caller's socket and a wake-up eventfd, bounded by the next timer, so waiting never burns a
// core.
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "platform/event_queue.h"
#include "platform/posix/eintr.h"
#include "platform/posix/files_posix.h"
#include "platform/ui.h"

namespace plat {
namespace {

// Writes all of data to fd; a reader that went away or a full disk loses the output, never
// the run.
void WriteAll(int fd, const std::string& data) {
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        const ssize_t n = plat::posix::RetryInterrupted([&] { return ::write(fd, p, left); });
        if (n < 0) return;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

// What the log and progress hooks need. Shared with the hooks, so a widget that outlives
// the presentation never calls into freed memory.
struct TOutput {
    bool Silent = false;
    bool ErrTerminal = false;
    bool ProgressShown = false; // a progress line stands on the terminal
    int Percent[2] = {0, 0};

    void ClearProgress() {
        if (!ProgressShown) return;
        WriteAll(STDERR_FILENO, "\r\033[K");
        ProgressShown = false;
    }

    void DrawProgress() {
        if (Silent || !ErrTerminal) return;
        char text[64];
        snprintf(text, sizeof text, "\r\033[K[%3d%%] [%3d%%]", Percent[0], Percent[1]);
        WriteAll(STDERR_FILENO, text);
        ProgressShown = true;
    }

    void Line(int fd, const std::string& text) {
        // The progress line shares the terminal; take it away so the text starts clean.
        ClearProgress();
        WriteAll(fd, text + "\n");
    }
};

int PercentOf(const TProgressBar& bar) {
    long range = static_cast<long>(bar.Max) - bar.Min;
    if (range <= 0) return 0;
    long done = static_cast<long>(bar.Position) - bar.Min;
    return static_cast<int>(std::clamp(done * 100 / range, 0L, 100L));
}

class TConsolePresentation final : public TPresentation {
public:
    TConsolePresentation() : FOutput(std::make_shared<TOutput>()) {
        FOutput->ErrTerminal = ::isatty(STDERR_FILENO) == 1;
        FWake.Reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
        FQueue.OnHandlerException = [this] { HandleException(); };
        // A log reader that goes away (a closed pipe) must not kill an update half way.
        ::signal(SIGPIPE, SIG_IGN);
    }

    void Attach(TWindowSettings& window, TProgressBar& bar1, TProgressBar& bar2,
                TMemo& log) override {
        if (!FCaption.empty() && window.Caption.empty()) window.Caption = FCaption;
        FWindow = &window;
        auto output = FOutput;
        log.OnAppend = [output](const std::string& line) {
            if (!output->Silent) output->Line(STDOUT_FILENO, line);
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
        if (FWindow) FWindow->Caption = caption;
    }
    std::string Caption() const override { return FWindow ? FWindow->Caption : FCaption; }
    void Show() override {} // no window to show
    void SetSilent() override {
        FOutput->ClearProgress();
        FOutput->Silent = true;
    }
    bool Silent() const override { return FOutput->Silent; }
    void SetIcon(const std::string& name) override { FIcon = name; }
    void Beep() override {
        if (!FOutput->Silent && FOutput->ErrTerminal) WriteAll(STDERR_FILENO, "\a");
    }

    // Errors reach standard error even in silent mode: a script that runs the program
    // silently still needs to learn why it failed.
    void ShowError(const std::string& message) override { FOutput->Line(STDERR_FILENO, message); }

    void ShowMessage(const std::string& caption, const std::string& text, TMessageKind) override {
        if (FOutput->Silent) return;
        FOutput->Line(STDERR_FILENO, caption.empty() ? text : caption + ": " + text);
    }

    int StartTimer(unsigned intervalMs, bool periodic, std::function<void()> handler) override {
        return FQueue.StartTimer(intervalMs, periodic, std::move(handler));
    }

    void StopTimer(int id) override { FQueue.StopTimer(id); }

    void Post(std::function<void()> handler) override {
        FQueue.Post(std::move(handler));
        Wake();
    }

    void ProcessMessages() override { Dispatch(false); }

    void WaitForSocket(TSocket socket, bool readable, bool writable) override {
        if (FQueue.PostsWaiting()) return;
        const int timeout = FQueue.MsToNextTimer();
        if (timeout == 0) return;
        if (timeout < 0 && socket < 0) return; // nothing could ever wake us

        pollfd fds[2];
        nfds_t count = 0;
        if (FWake.Valid()) fds[count++] = pollfd{FWake.Get(), POLLIN, 0};
        if (socket >= 0) {
            short events = 0;
            if (readable) events |= POLLIN;
            if (writable) events |= POLLOUT;
            fds[count++] = pollfd{static_cast<int>(socket), events, 0};
        }
        // An interrupted wait just returns; the caller's loop retries.
        if (::poll(fds, count, timeout) > 0 && FWake.Valid() && (fds[0].revents & POLLIN))
            FWakeSeen = true;
    }

    void Run() override {
        while (!FTerminated) {
            Dispatch(true);
            if (FTerminated) break;
            if (FQueue.Empty()) break; // nothing left that could happen
            WaitForSocket(-1, false, false);
        }
    }

    void Quit() override {
        FTerminated = true;
        Wake();
    }

    bool Terminated() const override { return FTerminated; }

private:
    // One signal stands for every post until the loop drains it: a post while one is
    // pending needs no write, and a drain with none pending needs no read.
    void Wake() {
        if (!FWake.Valid() || FWakePending.exchange(true)) return;
        uint64_t one = 1;
        plat::posix::RetryInterrupted([&] { return ::write(FWake.Get(), &one, sizeof one); });
    }

    void DrainWake() {
        // Read before the flag is cleared: a post in between finds it set and writes
        // nothing, but its handler is queued already and the round that follows runs it.
        // A write that lands after the read stays readable and the next poll drains it.
        bool seen = std::exchange(FWakeSeen, false);
        if (!FWake.Valid() || !(seen || FWakePending.load())) return;
        uint64_t value;
        plat::posix::RetryInterrupted([&] { return ::read(FWake.Get(), &value, sizeof value); });
        FWakePending.store(false);
    }

    void Dispatch(bool stopOnQuit) {
        DrainWake();
        FQueue.Dispatch([this, stopOnQuit] { return stopOnQuit && FTerminated; });
    }

    std::shared_ptr<TOutput> FOutput;
    TWindowSettings* FWindow = nullptr;
    std::string FCaption, FIcon;
    posix::TFd FWake;
    std::atomic<bool> FWakePending{false}; // a wake-up was written and not yet drained
    bool FWakeSeen = false;                // the last poll found the wake-up readable
    bool FTerminated = false;
    TEventQueue FQueue;
};

} // namespace

std::unique_ptr<TPresentation> CreateConsolePresentation() {
    return std::make_unique<TConsolePresentation>();
}

} // namespace plat
