// The Qt presentation. Everything runs on the main thread in Qt's dispatcher: our timers
// are QObject timers of one host object, posted handlers are queued calls to it, and a
// socket wait is a socket notifier plus one blocking round of the dispatcher, so waiting
// never spins. No exception ever leaves one of our handlers into Qt's dispatch.
#include "platform/qt/qt_presentation.h"

#include <poll.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QSocketNotifier>
#include <QTimerEvent>
#include <atomic>
#include <climits>
#include <cstdio>
#include <map>
#include <utility>

#include "platform/qt/qt_window.h"

namespace plat {
namespace {

using qt::TMainWindow;

// Receives the timer events and the queued calls of the presentation.
class THost final : public QObject {
public:
    std::function<void(int)> OnTimer;

protected:
    void timerEvent(QTimerEvent* event) override {
        if (OnTimer) OnTimer(event->timerId());
    }
};

class TQtPresentation final : public TPresentation {
public:
    TQtPresentation(int& argc, char** argv) {
        if (!QApplication::instance()) {
            FOwnApp = std::make_unique<QApplication>(argc, argv);
            QApplication::setApplicationName("KVUpdater");
        }
        // The program decides when it ends, not the last closed window.
        QApplication::setQuitOnLastWindowClosed(false);
        FHost = std::make_unique<THost>();
        FHost->OnTimer = [this](int qtId) { TimerFired(qtId); };
        FWindow = std::make_unique<TMainWindow>();
        FWindow->OnCloseRequest = [this] { WindowClosed(); };
        FWindow->OnLogEdited = [this] { LogEdited(); };
        SetIcon("kestavorin");
    }

    ~TQtPresentation() override {
        for (const auto& [id, timer] : FTimers) FHost->killTimer(timer.QtId);
        FTimers.clear();
        FWindow.reset();
        FHost.reset();
        FOwnApp.reset();
    }

    QWidget* Window() const { return FWindow.get(); }

    void Attach(TWindowSettings& window, TProgressBar& bar1, TProgressBar& bar2,
                TMemo& log) override {
        if (!FCaption.empty() && window.Caption.empty()) window.Caption = FCaption;
        FSettings = &window;
        FLog = &log;
        FWindow->ApplySettings(window);
        QPointer<TMainWindow> widget(FWindow.get());
        TProgressBar* bars[2] = {&bar1, &bar2};
        for (int i = 0; i < 2; ++i) {
            FWindow->ApplyBar(i, *bars[i]);
            // The widget may be gone before the model; the pointer then reads null.
            bars[i]->OnChange = [widget, i](const TProgressBar& bar) {
                if (widget) widget->SetBarPosition(i, bar.Position);
            };
        }
        FWindow->SetLines(log.Lines);
        log.OnAppend = [widget](const std::string& line) {
            if (widget) widget->AppendLine(line);
        };
    }

    void SetCaption(const std::string& caption) override {
        FCaption = caption;
        if (FSettings) FSettings->Caption = caption;
        FWindow->setWindowTitle(qt::ToQString(caption));
    }

    std::string Caption() const override { return FSettings ? FSettings->Caption : FCaption; }

    void Show() override {
        if (FSilent || FClosed) return;
        FWindow->show();
        FShown = true;
    }

    // Silent: the window is never shown, so it has no taskbar entry either.
    void SetSilent() override {
        FSilent = true;
        FWindow->hide();
    }

    bool Silent() const override { return FSilent; }

    void SetIcon(const std::string& name) override {
        QIcon icon = qt::AppIcon(name);
        if (icon.isNull()) return;
        FIcon = name;
        QApplication::setWindowIcon(icon);
        FWindow->setWindowIcon(icon);
    }

    void Beep() override {
        if (!FSilent) QApplication::beep();
    }

    void ShowError(const std::string& message) override {
        // Nothing is shown in silent mode; the message still reaches standard error, so a
        // script that runs the program silently learns why it failed.
        if (FSilent) {
            std::fprintf(stderr, "%s\n", message.c_str());
            std::fflush(stderr);
            return;
        }
        Box(QMessageBox::Critical, "KVUpdater", message);
    }

    void ShowMessage(const std::string& caption, const std::string& text,
                     TMessageKind kind) override {
        if (FSilent) return;
        QMessageBox::Icon icon = kind == TMessageKind::Error     ? QMessageBox::Critical
                                 : kind == TMessageKind::Warning ? QMessageBox::Warning
                                                                 : QMessageBox::Information;
        Box(icon, caption, text);
    }

    int StartTimer(unsigned intervalMs, bool periodic, std::function<void()> handler) override {
        if (!handler) return 0;
        // A periodic timer of no interval would keep the loop from ever sleeping.
        if (periodic && intervalMs < MinPeriodMs) intervalMs = MinPeriodMs;
        if (intervalMs > INT_MAX) intervalMs = INT_MAX;
        int qtId = FHost->startTimer(static_cast<int>(intervalMs), Qt::PreciseTimer);
        if (qtId <= 0) return 0;
        int id = NextTimerId();
        FTimers[id] = TTimer{qtId, periodic, std::move(handler)};
        FByQtId[qtId] = id;
        return id;
    }

    void StopTimer(int id) override {
        auto it = FTimers.find(id);
        if (it == FTimers.end()) return;
        FHost->killTimer(it->second.QtId);
        FByQtId.erase(it->second.QtId);
        FTimers.erase(it);
    }

    void Post(std::function<void()> handler) override {
        if (!handler) return;
        ++FPending;
        QMetaObject::invokeMethod(
            FHost.get(),
            [this, handler = std::move(handler)] {
                --FPending;
                Invoke(handler);
            },
            Qt::QueuedConnection);
    }

    void ProcessMessages() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }

    void WaitForSocket(TSocket socket, bool readable, bool writable) override {
        if (FPending > 0) return;
        // With no socket and no timer nothing but the user could wake us; the caller's
        // loop decides instead.
        if (socket < 0 && FTimers.empty()) return;
        // A socket that is ready already needs no trip through the dispatcher: during a
        // transfer it mostly is.
        if (socket >= 0 && (readable || writable)) {
            pollfd ready{static_cast<int>(socket),
                         static_cast<short>((readable ? POLLIN : 0) | (writable ? POLLOUT : 0)), 0};
            if (::poll(&ready, 1, 0) > 0) return;
        }
        std::unique_ptr<QSocketNotifier> notifiers[2];
        if (socket >= 0) {
            if (readable) notifiers[0] = Notifier(socket, QSocketNotifier::Read);
            if (writable) notifiers[1] = Notifier(socket, QSocketNotifier::Write);
        }
        // One blocking round: returns once the socket is ready, a timer is due or any
        // other event arrived, and handles what came.
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }

    void Run() override {
        // A run that already asked to quit (the self-update copy) never shows its window.
        if (!FShown && !FTerminated) Show();
        while (!FTerminated) {
            // Nothing left that could happen: no window open, no timer, no posted handler.
            if (!WindowOpen() && FTimers.empty() && FPending == 0) break;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }

    void Quit() override {
        FTerminated = true;
        if (auto* dispatcher = QAbstractEventDispatcher::instance()) dispatcher->wakeUp();
    }

    bool Terminated() const override { return FTerminated; }

private:
    static constexpr unsigned MinPeriodMs = 10;

    struct TTimer {
        int QtId;
        bool Periodic;
        std::function<void()> Handler;
    };

    bool WindowOpen() const { return FWindow && FWindow->isVisible(); }

    int NextTimerId() {
        do {
            FLastTimerId = FLastTimerId == INT_MAX ? 1 : FLastTimerId + 1;
        } while (FTimers.count(FLastTimerId));
        return FLastTimerId;
    }

    std::unique_ptr<QSocketNotifier> Notifier(TSocket socket, QSocketNotifier::Type type) {
        auto notifier = std::make_unique<QSocketNotifier>(static_cast<qintptr>(socket), type);
        QSocketNotifier* raw = notifier.get();
        // Ready once is enough: the caller tries the socket next.
        QObject::connect(raw, &QSocketNotifier::activated, raw, [raw] { raw->setEnabled(false); });
        return notifier;
    }

    void TimerFired(int qtId) {
        auto byQt = FByQtId.find(qtId);
        if (byQt == FByQtId.end()) return;
        auto it = FTimers.find(byQt->second);
        if (it == FTimers.end()) return;
        // A copy: the handler may stop its own timer while it runs.
        std::function<void()> handler = it->second.Handler;
        if (!it->second.Periodic) {
            FHost->killTimer(qtId);
            FByQtId.erase(byQt);
            FTimers.erase(it);
        }
        Invoke(handler);
    }

    void WindowClosed() {
        FClosed = true;
        // The close handler runs; the running handler (the run) goes on to its end, and
        // then the loop ends.
        if (OnClose) Invoke(OnClose);
        Quit();
    }

    void LogEdited() {
        if (!FLog) return;
        // What the window shows is what the log file will hold.
        try {
            FLog->Lines = FWindow->EditedLines(FLog->Lines);
        } catch (...) {
            HandleException();
        }
    }

    void Box(QMessageBox::Icon icon, const std::string& caption, const std::string& text) {
        QWidget* parent = WindowOpen() ? FWindow.get() : nullptr;
        QMessageBox box(icon, qt::ToQString(caption), qt::ToQString(text), QMessageBox::Ok, parent);
        box.exec();
    }

    std::unique_ptr<QApplication> FOwnApp;
    std::unique_ptr<THost> FHost;
    std::unique_ptr<TMainWindow> FWindow;
    TWindowSettings* FSettings = nullptr;
    TMemo* FLog = nullptr;
    std::string FCaption, FIcon;
    bool FSilent = false, FShown = false, FClosed = false, FTerminated = false;
    int FLastTimerId = 0;
    std::map<int, TTimer> FTimers;
    std::map<int, int> FByQtId;
    std::atomic<int> FPending{0};
};

} // namespace

std::unique_ptr<TPresentation> CreateQtPresentation(int& argc, char** argv) {
    return std::make_unique<TQtPresentation>(argc, argv);
}

QWidget* QtMainWindow(TPresentation& presentation) {
    auto* qt = dynamic_cast<TQtPresentation*>(&presentation);
    return qt ? qt->Window() : nullptr;
}

} // namespace plat
