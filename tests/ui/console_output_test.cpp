// What the console presentation writes: log lines on standard output, errors and messages
// on standard error, progress only on a terminal, nothing (but errors) when silent.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/exception.h"
#include "platform/ui.h"

using namespace plat;

namespace {

std::string ReadAllFd(int fd) {
    std::string data;
    char buf[4096];
    lseek(fd, 0, SEEK_SET);
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) data.append(buf, n);
    return data;
}

// Points standard output and standard error at temporary files for its lifetime.
class TCapture {
public:
    TCapture() {
        for (int i = 0; i < 2; ++i) {
            char name[] = "/tmp/kvui-XXXXXX";
            FFile[i] = mkstemp(name);
            unlink(name);
            FSaved[i] = dup(i + 1);
            dup2(FFile[i], i + 1);
        }
    }
    ~TCapture() { Restore(); }
    void Restore() {
        for (int i = 0; i < 2; ++i) {
            if (FSaved[i] < 0) continue;
            dup2(FSaved[i], i + 1);
            close(FSaved[i]);
            FSaved[i] = -1;
        }
    }
    std::string Out() { return ReadAllFd(FFile[0]); }
    std::string Err() { return ReadAllFd(FFile[1]); }

private:
    int FFile[2] = {-1, -1}, FSaved[2] = {-1, -1};
};

struct TWindow {
    TWindowSettings Settings;
    TProgressBar Bar1, Bar2;
    TMemo Log;
};

} // namespace

TEST(ConsoleOutput, LogErrorsAndMessagesGoToTheirStreams) {
    TCapture capture;
    TWindow w;
    auto p = CreateConsolePresentation();
    p->Attach(w.Settings, w.Bar1, w.Bar2, w.Log);
    p->Show();
    w.Log.Append("Dec 08 2026 17:00:00 first");
    w.Log.Append("");
    w.Log.Append("second");
    w.Bar1.SetPosition(50); // stderr is no terminal: no progress
    w.Bar2.StepIt();
    p->ShowError("Something failed");
    p->ShowMessage("Error", "Disk full", TMessageKind::Warning);
    // A handler's exception reaches the error handler; the loop goes on.
    int after = 0;
    p->Post([] { throw EConvertError("'x' is not a valid integer value"); });
    p->Post([] { throw std::runtime_error("plain"); });
    p->Post([] { throw 42; });
    p->StartTimer(0, false, [] { throw Exception("from a timer"); });
    p->Post([&] { ++after; });
    p->Run();
    p->Beep(); // no terminal: nothing
    capture.Restore();

    EXPECT_EQ(1, after);
    EXPECT_EQ("Dec 08 2026 17:00:00 first\n\nsecond\n", capture.Out());
    EXPECT_EQ("Something failed\nError: Disk full\n'x' is not a valid integer value\nplain\n"
              "Unknown error\nfrom a timer\n",
              capture.Err());
    EXPECT_EQ(3u, w.Log.Lines.size()); // the log keeps its lines as well
}

TEST(ConsoleOutput, SilentPrintsOnlyErrors) {
    TCapture capture;
    TWindow w;
    auto p = CreateConsolePresentation();
    p->Attach(w.Settings, w.Bar1, w.Bar2, w.Log);
    p->SetSilent();
    EXPECT_TRUE(p->Silent());
    w.Log.Append("quiet line");
    w.Bar1.SetPosition(100);
    p->ShowMessage("Info", "not shown", TMessageKind::Information);
    p->Beep();
    p->ShowError("still reported");
    capture.Restore();
    EXPECT_EQ("", capture.Out());
    EXPECT_EQ("still reported\n", capture.Err());
    EXPECT_EQ(1u, w.Log.Lines.size());
}

TEST(ConsoleOutput, CaptionAndWidgetsOutliveThePresentation) {
    TWindow w;
    {
        auto p = CreateConsolePresentation();
        p->SetCaption("Kestavorin Updater 4.5");
        p->Attach(w.Settings, w.Bar1, w.Bar2, w.Log);
        EXPECT_EQ("Kestavorin Updater 4.5", w.Settings.Caption);
        p->SetCaption("Ostri Vane Updater");
        EXPECT_EQ("Ostri Vane Updater", p->Caption());
        EXPECT_EQ("Ostri Vane Updater", w.Settings.Caption);
        p->SetSilent();
    }
    // The hooks stay safe after the presentation is gone (asan checks this).
    w.Log.Append("after");
    w.Bar1.StepIt();
}

TEST(ConsoleOutput, ProgressShowsOnATerminalAndMakesWayForLogLines) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(0, grantpt(master));
    ASSERT_EQ(0, unlockpt(master));
    int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);

    TCapture capture;
    dup2(slave, 2);
    std::string err;
    {
        TWindow w;
        auto p = CreateConsolePresentation();
        p->Attach(w.Settings, w.Bar1, w.Bar2, w.Log);
        w.Bar1.SetPosition(50);
        w.Bar2.Max = 200;
        w.Bar2.SetPosition(50);
        w.Log.Append("a log line");
        p->Beep();
        p->SetSilent();
        w.Bar1.SetPosition(100); // silent: no more progress
        capture.Restore();
    }
    fcntl(master, F_SETFL, O_NONBLOCK);
    char buf[4096];
    ssize_t n;
    while ((n = read(master, buf, sizeof buf)) > 0) err.append(buf, n);
    close(slave);
    close(master);

    EXPECT_NE(std::string::npos, err.find("[ 50%] [  0%]"));
    EXPECT_NE(std::string::npos, err.find("[ 50%] [ 25%]"));
    EXPECT_NE(std::string::npos, err.find("\a"));
    EXPECT_EQ(std::string::npos, err.find("100%"));
    // The log line itself went to standard output, after the progress line was cleared.
    EXPECT_EQ("a log line\n", capture.Out());
    EXPECT_NE(std::string::npos, err.find("\r\033[K"));
}

// Steps as the common control takes them: past either end the bar wraps round by what is
// left over; a bar without a range stays at its minimum.
TEST(ProgressBarModel, StepsWrapAsTheCommonControlDoes) {
    struct TCase {
        int Min, Max, Step, From, Want;
    } cases[] = {
        {0, 100, 2, 98, 100},  {0, 100, 2, 100, 2}, {0, 100, 5, 98, 3},
        {3, 15, 5, 13, 6},     {3, 15, 50, 3, 5},   {3, 15, -5, 5, 12},
        {-15, 15, 5, 15, -10}, {5, 5, 1, 5, 5},     {0, 0, -1, 0, 0},
    };
    for (const TCase& c : cases) {
        TProgressBar bar;
        bar.Min = c.Min;
        bar.Max = c.Max;
        bar.Step = c.Step;
        bar.Position = c.From;
        bar.StepIt();
        EXPECT_EQ(bar.Position, c.Want)
            << c.Min << ".." << c.Max << " step " << c.Step << " from " << c.From;
    }
}
