// The event loop on Qt: timers, posted handlers, socket waits that sleep, the loop's end,
// the window's close, errors out of handlers, silent mode and the presentation choice.
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/exception.h"
#include "platform/presentation_choice.h"
#include "platform/qt/qt_presentation.h"
#include "tests/support/socket_pair.h"

using namespace plat;
using kvtest::TSocketPair;

namespace {

int Argc = 1;
char Name[] = "qt_tests";
char* Argv[] = {Name, nullptr};

std::unique_ptr<TPresentation> Make() {
    return CreateQtPresentation(Argc, Argv);
}

// Pumps as the socket layer does (wait, then dispatch) until done() or a generous bound of
// rounds; returns the rounds it took, or -1.
template <class F> int PumpUntil(TPresentation& p, F done, int fd = -1, int bound = 100000) {
    for (int rounds = 0; rounds < bound; ++rounds) {
        if (done()) return rounds;
        p.WaitForSocket(fd, fd >= 0, false);
        p.ProcessMessages();
    }
    return -1;
}

// Answers the next modal message box from the loop: records its text and closes it.
void AnswerNextBox(TPresentation& p, std::vector<std::string>& texts) {
    p.StartTimer(20, false, [&p, &texts] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            AnswerNextBox(p, texts);
            return;
        }
        texts.push_back(box->text().toStdString());
        box->done(QMessageBox::Ok);
    });
}

struct TForm {
    TWindowSettings Window;
    TMemo Memo1;
    TProgressBar ProgressBar1, ProgressBar2;
};

} // namespace

TEST(QtTimers, OneShotFiresOncePeriodicRepeatsUntilStopped) {
    auto p = Make();
    std::vector<std::string> fired;
    int a = p->StartTimer(60, false, [&] { fired.push_back("a"); });
    int b = p->StartTimer(0, false, [&] { fired.push_back("b"); });
    int ticks = 0;
    int c = p->StartTimer(10, true, [&] { ++ticks; });
    for (int id : {a, b, c}) EXPECT_GT(id, 0);
    EXPECT_NE(a, b);
    EXPECT_NE(b, c);
    ASSERT_GE(PumpUntil(*p, [&] { return fired.size() == 2 && ticks >= 5; }), 0);
    EXPECT_EQ((std::vector<std::string>{"b", "a"}), fired);
    int before = ticks;
    ASSERT_GE(PumpUntil(*p, [&] { return ticks >= before + 3; }), 0);
    EXPECT_EQ(2u, fired.size());
    p->StopTimer(c);
    p->StopTimer(c); // twice, and an unknown id, are harmless
    p->StopTimer(4242);

    // A stopped timer never fires, even when it was already due.
    bool late = false;
    int d = p->StartTimer(0, false, [&] { late = true; });
    p->StopTimer(d);
    bool waited = false;
    p->StartTimer(30, false, [&] { waited = true; });
    ASSERT_GE(PumpUntil(*p, [&] { return waited; }), 0);
    EXPECT_FALSE(late);
}

TEST(QtTimers, HandlerStopsItsOwnTimerAndStartsAnother) {
    auto p = Make();
    int id = 0, calls = 0, chained = 0;
    id = p->StartTimer(5, true, [&] {
        ++calls;
        p->StopTimer(id);
        p->StartTimer(5, false, [&] { ++chained; });
    });
    ASSERT_GE(PumpUntil(*p, [&] { return chained == 1; }), 0);
    bool waited = false;
    p->StartTimer(40, false, [&] { waited = true; });
    ASSERT_GE(PumpUntil(*p, [&] { return waited; }), 0);
    EXPECT_EQ(1, calls);
    EXPECT_EQ(1, chained);
}

TEST(QtLoop, PostsRunInOrderFromTheLoopAndWakeItFromAnotherThread) {
    auto p = Make();
    std::vector<int> order;
    p->Post([&] {
        order.push_back(1);
        p->Post([&] { order.push_back(3); }); // not run inside this round's handler
        EXPECT_EQ(1u, order.size());
    });
    p->Post([&] { order.push_back(2); });
    EXPECT_TRUE(order.empty()); // nothing runs before the loop does
    ASSERT_GE(PumpUntil(*p, [&] { return order.size() == 3; }), 0);
    EXPECT_EQ((std::vector<int>{1, 2, 3}), order);

    // Run, with no window shown and nothing else to do, waits for the posted handler of a
    // thread and ends once it ran.
    auto q = Make();
    q->SetSilent();
    bool ran = false;
    int keep = q->StartTimer(60000, false, [] {});
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        q->Post([&] {
            ran = true;
            q->StopTimer(keep);
        });
    });
    q->Run();
    poster.join();
    EXPECT_TRUE(ran);
}

TEST(QtLoop, ProcessMessagesNeverWaits) {
    auto p = Make();
    bool fired = false;
    int id = p->StartTimer(600000, false, [&] { fired = true; });
    for (int i = 0; i < 100; ++i) p->ProcessMessages(); // would hang if it waited
    EXPECT_FALSE(fired);
    p->StopTimer(id);
}

TEST(QtLoop, SocketWaitSleepsUntilDataArrives) {
    auto p = Make();
    TSocketPair pair;
    // A one-second tick, as the HTTP client keeps during a transfer.
    int ticks = 0;
    int tick = p->StartTimer(1000, true, [&] { ++ticks; });
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        EXPECT_EQ(1, write(pair.Fd[1], "x", 1));
    });
    auto readable = [&] {
        char c;
        return recv(pair.Fd[0], &c, 1, MSG_DONTWAIT) == 1;
    };
    int rounds = PumpUntil(*p, readable, pair.Fd[0]);
    writer.join();
    p->StopTimer(tick);
    ASSERT_GE(rounds, 1);
    // A wait that spun would take thousands of rounds; a sleeping one wakes for the data and
    // the ticks and a few window-system events.
    EXPECT_LT(rounds, 30);
    EXPECT_GE(ticks, 1);
}

TEST(QtLoop, SocketWaitEndsForAnEventAndForADueTimer) {
    auto p = Make();
    TSocketPair pair; // never written: only other events can end the waits
    bool posted = false;
    p->Post([&] { posted = true; });
    p->WaitForSocket(pair.Fd[0], true, false); // returns at once: a handler waits
    p->ProcessMessages();
    EXPECT_TRUE(posted);

    bool fired = false;
    p->StartTimer(100, false, [&] { fired = true; });
    int rounds = PumpUntil(
        *p, [&] { return fired; }, pair.Fd[0]);
    EXPECT_GE(rounds, 1);
    EXPECT_LT(rounds, 30);

    // Writable: a connected socket is writable at once.
    p->WaitForSocket(pair.Fd[0], false, true);
    // No socket and no timer: nothing could end the wait, so it returns.
    p->WaitForSocket(-1, false, false);
}

TEST(QtLoop, QuitLetsTheHandlerFinishThenEndsTheLoop) {
    auto p = Make();
    TForm form;
    p->Attach(form.Window, form.ProgressBar1, form.ProgressBar2, form.Memo1);
    bool after = false, later = false;
    p->StartTimer(10, false, [&] {
        p->Quit();
        EXPECT_TRUE(p->Terminated());
        p->ProcessMessages(); // the handler still dispatches while it finishes
        after = true;
    });
    p->StartTimer(5000, false, [&] { later = true; });
    p->Run(); // the window is open: only Quit ends this
    EXPECT_TRUE(after);
    EXPECT_FALSE(later);
    EXPECT_TRUE(p->Terminated());
}

TEST(QtLoop, RunShowsTheWindowAndClosingItEndsTheRunAfterTheHandler) {
    auto p = Make();
    TForm form;
    p->Attach(form.Window, form.ProgressBar1, form.ProgressBar2, form.Memo1);
    QWidget* window = QtMainWindow(*p);
    int closes = 0;
    bool runEnded = false, shownDuringRun = false;
    p->OnClose = [&] { ++closes; };
    // The run: the user closes the window half way; the run goes on to its end.
    p->StartTimer(10, false, [&] {
        shownDuringRun = window->isVisible();
        form.Memo1.Append("Retrieving changed file a.dat");
        window->close();
        EXPECT_EQ(1, closes);
        int tick = 0;
        int id = p->StartTimer(5, true, [&] { ++tick; });
        PumpUntil(*p, [&] { return tick >= 3; });
        p->StopTimer(id);
        form.Memo1.Append("All done");
        runEnded = true;
    });
    p->Run();
    EXPECT_TRUE(shownDuringRun);
    EXPECT_TRUE(runEnded);
    EXPECT_EQ(1, closes);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(2u, form.Memo1.Lines.size());
}

TEST(QtLoop, IdleWindowStaysUntilTheUserClosesIt) {
    auto p = Make();
    TForm form;
    p->Attach(form.Window, form.ProgressBar1, form.ProgressBar2, form.Memo1);
    QWidget* window = QtMainWindow(*p);
    bool closed = false;
    p->OnClose = [&] { closed = true; };
    // From another thread, so no timer of ours keeps the loop alive.
    std::thread user([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        QMetaObject::invokeMethod(
            window, [window] { window->close(); }, Qt::QueuedConnection);
    });
    p->Run();
    user.join();
    EXPECT_TRUE(closed);
}

TEST(QtLoop, ErrorsOutOfHandlersShowInABoxAndTheLoopGoesOn) {
    auto p = Make();
    TForm form;
    p->Attach(form.Window, form.ProgressBar1, form.ProgressBar2, form.Memo1);
    std::vector<std::string> boxes;
    bool after = false;
    AnswerNextBox(*p, boxes);
    p->StartTimer(10, false, [&] { throw EInOutError("Cannot create file \"x\". Denied", 5); });
    p->StartTimer(200, false, [&] {
        AnswerNextBox(*p, boxes);
        p->Post([] { throw std::runtime_error("posted failure"); });
    });
    p->StartTimer(400, false, [&] {
        after = true;
        p->Quit();
    });
    p->Run();
    EXPECT_TRUE(after);
    EXPECT_EQ((std::vector<std::string>{"Cannot create file \"x\". Denied", "posted failure"}),
              boxes);
}

TEST(QtLoop, MessageBoxShowsCaptionAndText) {
    auto p = Make();
    std::string title;
    p->StartTimer(10, false, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box) {
            title = box->windowTitle().toStdString() + "|" + box->text().toStdString();
            box->done(QMessageBox::Ok);
        }
    });
    p->ShowMessage("Kestavorin Updater", "Update finished", TMessageKind::Information);
    EXPECT_EQ("Kestavorin Updater|Update finished", title);
}

TEST(QtSilent, NothingShownLoopEndsWhenNothingIsLeftErrorsOnStandardError) {
    auto p = Make();
    TForm form;
    p->Attach(form.Window, form.ProgressBar1, form.ProgressBar2, form.Memo1);
    p->SetSilent();
    EXPECT_TRUE(p->Silent());
    QWidget* window = QtMainWindow(*p);
    bool visibleDuringRun = true, ran = false;
    p->StartTimer(10, false, [&] {
        visibleDuringRun = window->isVisible() || QApplication::activeModalWidget() != nullptr;
        p->Show(); // silent wins over a later show
        p->ShowMessage("caption", "not shown", TMessageKind::Warning);
        visibleDuringRun =
            visibleDuringRun || window->isVisible() || QApplication::activeModalWidget() != nullptr;
        form.Memo1.Append("All done");
        ran = true;
    });
    testing::internal::CaptureStderr();
    p->Post([] { throw std::runtime_error("Not enough timers available"); });
    p->Run(); // no window, no AutoExit: ends when nothing is left
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(ran);
    EXPECT_FALSE(visibleDuringRun);
    EXPECT_FALSE(window->isVisible());
    EXPECT_NE(std::string::npos, errors.find("Not enough timers available"));
    EXPECT_EQ(1u, form.Memo1.Lines.size()); // the log is still kept
}

TEST(QtChoice, WindowOnlyWithADisplayAndNotSilent) {
    // The tests run with QT_QPA_PLATFORM=offscreen: a display for Qt's purposes.
    EXPECT_NE(nullptr, QtMainWindow(*CreateBestPresentation(Argc, Argv, false)));
    EXPECT_EQ(nullptr, QtMainWindow(*CreateBestPresentation(Argc, Argv, true)));

    std::string saved = std::getenv("QT_QPA_PLATFORM");
    const char* display = std::getenv("DISPLAY");
    std::string savedDisplay = display ? display : "";
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    std::string savedWayland = wayland ? wayland : "";
    ::unsetenv("QT_QPA_PLATFORM");
    ::unsetenv("WAYLAND_DISPLAY");
    ::unsetenv("DISPLAY");
    EXPECT_EQ(nullptr, QtMainWindow(*CreateBestPresentation(Argc, Argv, false)));
    // An X display that nothing serves: the console, not a dead program.
    ::setenv("DISPLAY", ":987", 1);
    EXPECT_EQ(nullptr, QtMainWindow(*CreateBestPresentation(Argc, Argv, false)));
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    EXPECT_EQ(nullptr, QtMainWindow(*CreateBestPresentation(Argc, Argv, false)));

    ::setenv("QT_QPA_PLATFORM", saved.c_str(), 1);
    if (savedDisplay.empty())
        ::unsetenv("DISPLAY");
    else
        ::setenv("DISPLAY", savedDisplay.c_str(), 1);
    if (!savedWayland.empty()) ::setenv("WAYLAND_DISPLAY", savedWayland.c_str(), 1);
}
