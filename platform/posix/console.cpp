// The console presentation: no window. Log lines go to standard output as they are
// written, progress to standard error when that is a terminal, errors to standard error.
// The event loop sleeps in poll() on the caller's socket and a wake-up eventfd, bounded by
// the next timer, so waiting never burns a core.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/exception.h"
#include "platform/ui.h"

namespace plat {
namespace {

uint64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Writes all of data to fd; a reader that went away or a full disk loses the output, never
// the run.
void WriteAll(int fd, const std::string& data) {
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
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
        FWake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        // A log reader that goes away (a closed pipe) must not kill an update half way.
        ::signal(SIGPIPE, SIG_IGN);
    }

    ~TConsolePresentation() override {
        if (FWake >= 0) ::close(FWake);
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
        if (!handler) return 0;
        // A periodic timer of no interval would keep the loop from ever sleeping.
        if (periodic && intervalMs < MinPeriodMs) intervalMs = MinPeriodMs;
        int id = NextTimerId();
        FTimers[id] = TTimer{NowMs() + intervalMs, intervalMs, periodic, std::move(handler)};
        return id;
    }

    void StopTimer(int id) override { FTimers.erase(id); }

    void Post(std::function<void()> handler) override {
        if (!handler) return;
        {
            std::lock_guard<std::mutex> lock(FPostLock);
            FPosts.emplace_back(++FPostSerial, std::move(handler));
        }
        Wake();
    }

    void ProcessMessages() override { Dispatch(false); }

    void WaitForSocket(int socket, bool readable, bool writable) override {
        if (PostsWaiting()) return;
        int timeout = -1;
        if (!FTimers.empty()) {
            uint64_t next = UINT64_MAX;
            for (const auto& [id, timer] : FTimers) next = std::min(next, timer.Due);
            uint64_t now = NowMs();
            timeout = next <= now ? 0 : static_cast<int>(std::min<uint64_t>(next - now, INT_MAX));
        } else if (socket < 0) {
            return; // nothing could ever wake us
        }
        if (timeout == 0) return;

        pollfd fds[2];
        nfds_t count = 0;
        if (FWake >= 0) fds[count++] = pollfd{FWake, POLLIN, 0};
        if (socket >= 0) {
            short events = 0;
            if (readable) events |= POLLIN;
            if (writable) events |= POLLOUT;
            fds[count++] = pollfd{socket, events, 0};
        }
        // An interrupted wait just returns; the caller's loop retries.
        ::poll(fds, count, timeout);
    }

    void Run() override {
        while (!FTerminated) {
            Dispatch(true);
            if (FTerminated) break;
            if (FTimers.empty() && !PostsWaiting()) break; // nothing left that could happen
            WaitForSocket(-1, false, false);
        }
    }

    void Quit() override {
        FTerminated = true;
        Wake();
    }

    bool Terminated() const override { return FTerminated; }

private:
    static constexpr unsigned MinPeriodMs = 10;

    struct TTimer {
        uint64_t Due;
        unsigned Interval;
        bool Periodic;
        std::function<void()> Handler;
    };

    int NextTimerId() {
        do {
            FLastTimerId = FLastTimerId == INT_MAX ? 1 : FLastTimerId + 1;
        } while (FTimers.count(FLastTimerId));
        return FLastTimerId;
    }

    void Wake() {
        if (FWake < 0) return;
        uint64_t one = 1;
        while (::write(FWake, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }

    void DrainWake() {
        if (FWake < 0) return;
        uint64_t value;
        while (::read(FWake, &value, sizeof value) < 0 && errno == EINTR) {
        }
    }

    bool PostsWaiting() {
        std::lock_guard<std::mutex> lock(FPostLock);
        return !FPosts.empty();
    }

    void Invoke(const std::function<void()>& handler) {
        try {
            handler();
        } catch (...) {
            HandleException();
        }
    }

    // Runs the posts waiting on entry, in order, then the timers due on entry, earliest
    // first. A handler may dispatch again from inside (nested); each event still runs once.
    // Events that arrive meanwhile wait for the next round, so a handler that posts or
    // starts a zero timer again can't hold the loop.
    void Dispatch(bool stopOnQuit) {
        DrainWake();
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
            if (stopOnQuit && FTerminated) return;
        }

        uint64_t now = NowMs();
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
            if (stopOnQuit && FTerminated) return;
        }
    }

    std::shared_ptr<TOutput> FOutput;
    TWindowSettings* FWindow = nullptr;
    std::string FCaption, FIcon;
    int FWake = -1;
    bool FTerminated = false;
    int FLastTimerId = 0;
    std::map<int, TTimer> FTimers;
    std::mutex FPostLock;
    uint64_t FPostSerial = 0;
    std::deque<std::pair<uint64_t, std::function<void()>>> FPosts;
};

} // namespace

std::unique_ptr<TPresentation> CreateConsolePresentation() {
    return std::make_unique<TConsolePresentation>();
}

} // namespace plat
