// The console presentation: no window. Log lines go to standard output as they are
// written, progress to standard error when that is a terminal, errors to standard error.
// The event loop keeps its timers and posts in a TEventQueue and sleeps in poll() on the
// caller's socket and a wake-up eventfd, bounded by the next timer, so waiting never burns a
// core.
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "platform/console_output.h"
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

// The terminal's escape "erase to the end of the line" takes a progress line back.
std::shared_ptr<TConsoleOutput> TerminalOutput() {
    auto output = std::make_shared<TConsoleOutput>();
    output->Write = [](TConsoleOutput::TStream stream, const std::string& text) {
        WriteAll(stream == TConsoleOutput::Out ? STDOUT_FILENO : STDERR_FILENO, text);
    };
    output->ClearText = output->DrawPrefix = "\r\033[K";
    output->ErrIsTerminal = ::isatty(STDERR_FILENO) == 1;
    return output;
}

class TConsolePresentation final : public TConsoleFace<TPresentation> {
public:
    TConsolePresentation() : TConsoleFace(TerminalOutput()) {
        FWake.Reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
        FQueue.OnHandlerException = [this] { HandleException(); };
        // A log reader that goes away (a closed pipe) must not kill an update half way.
        ::signal(SIGPIPE, SIG_IGN);
    }

    void Beep() override {
        if (!FOutput->Silent && FOutput->ErrIsTerminal) WriteAll(STDERR_FILENO, "\a");
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
