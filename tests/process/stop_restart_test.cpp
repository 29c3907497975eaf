// The stop step and the restart step around an update, with stand-in product programs on the
// desktop (a private Xvfb display on Linux, the Wine prefix's desktop on Windows).
#include <gtest/gtest.h>

#include <cstdlib>

#include <memory>
#include <string>
#include <vector>

#include "app/brand_rules.h"
#include "platform/exception.h"
#include "process/process_viewer.h"
#include "process/stop_restart.h"
#include "tests/support/programs.h"

using namespace kvtest;

namespace {

const char* const ProductNames[] = {
    "Ferrowynd.exe", "KestavorinCL.exe", "KVMemCheck.exe", "Tessamund.exe",   "KVControl.exe",
    "KVServer.exe",  "Kestavorin.exe",   "Ostrivane.exe",  "OstrivaneCL.exe", "KVUpdater.exe"};

class StopRestart : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Desktop = std::make_unique<TDesktop>(); }
    static void TearDownTestSuite() { Desktop.reset(); }
    void SetUp() override { ASSERT_TRUE(Desktop && Desktop->Ok()) << "no desktop"; }
    void TearDown() override {
        // Programs the restart step started belong to no TProgram.
        for (const char* name : ProductNames) KillExe(name);
    }

    void Stop(const std::string& productDir = "") {
        StopProductPrograms(
            productDir.empty() ? Dir.Path() : productDir, Rebranded,
            [this](const std::string& text) { return BrandText(text, Rebranded); }, RestartList,
            [this](const std::string& s) { Lines.push_back(s); });
    }
    void Restart() {
        RestartProductPrograms(
            Dir.Path(), RestartList, [this](const std::string& s) { Lines.push_back(s); },
            [this](const std::string& s) { Nothing.push_back(s); });
    }
    bool MarkersPresent() {
        return Dir.Read("kvsa.dat") == "h58#^~-w\r\n" && Dir.Read("mem_ter") == "h58#^~-w\r\n";
    }
    bool MarkersGone() { return !Dir.Exists("kvsa.dat") && !Dir.Exists("mem_ter"); }

    static std::unique_ptr<TDesktop> Desktop;
    TTempDir Dir;
    bool Rebranded = false;
    std::string RestartList;
    std::vector<std::string> Lines, Nothing;
};
std::unique_ptr<TDesktop> StopRestart::Desktop;

} // namespace

TEST_F(StopRestart, ProgramsStopInTableOrderAndStartAgainFromTheProductFolder) {
    // Every program of the table at once, started in the reverse of the table's order.
    std::vector<TProgram> running;
    for (const char* name :
         {"KVUpdater.exe", "Kestavorin.exe", "KVServer.exe", "KVControl.exe", "Tessamund.exe",
          "KVMemCheck.exe", "KestavorinCL.exe", "Ferrowynd.exe"})
        running.push_back(StartProgram(Dir, name));
    Dir.Write("kvsa.dat", "left from an earlier run, longer than the token\r\n");

    Stop();
    EXPECT_EQ((std::vector<std::string>{"Stopping Ferrowynd.exe", "Stopping KestavorinCL.exe",
                                        "Stopping KVMemCheck.exe", "Stopping Tessamund.exe",
                                        "Stopping KVControl.exe", "Stopping KVServer.exe",
                                        "Stopping Kestavorin.exe"}),
              Lines);
    EXPECT_EQ("Ferrowynd.exe|KVMemCheck.exe|Tessamund.exe|KVControl.exe|KVServer.exe|"
              "Kestavorin.exe|",
              RestartList);
    EXPECT_TRUE(MarkersPresent());
    for (size_t i = 1; i < running.size(); ++i) EXPECT_TRUE(ProcessEnded(running[i].Pid()));
    // The updater's own program matches no key.
    EXPECT_TRUE(ProcessExists(running[0].Pid()));
    EXPECT_TRUE(IsExeRunning("KVUpdater.exe"));

    Lines.clear();
    Restart();
    EXPECT_EQ((std::vector<std::string>{"Restarting Ferrowynd.exe", "Restarting KVMemCheck.exe",
                                        "Restarting Tessamund.exe", "Restarting KVControl.exe",
                                        "Restarting KVServer.exe", "Restarting Kestavorin.exe"}),
              Lines);
    EXPECT_EQ("", RestartList);
    EXPECT_TRUE(MarkersGone());
    EXPECT_TRUE(Nothing.empty());
    for (const char* name : {"Ferrowynd.exe", "KVMemCheck.exe", "Tessamund.exe", "KVControl.exe",
                             "KVServer.exe", "Kestavorin.exe"})
        EXPECT_TRUE(WaitUntil([&] { return IsExeRunning(name); })) << name;
    // The command-line scanner is not started again.
    EXPECT_FALSE(IsExeRunning("KestavorinCL.exe"));
}

TEST_F(StopRestart, NothingRunningStillWritesAndDeletesMarkersAndStartsKVControl) {
    InstallProgram(Dir, "kvcontrol.exe");
    Stop();
    EXPECT_TRUE(Lines.empty());
    EXPECT_EQ("", RestartList);
    EXPECT_TRUE(MarkersPresent());
    Restart();
    EXPECT_TRUE(Lines.empty());
    EXPECT_TRUE(MarkersGone());
    EXPECT_TRUE(WaitUntil([] { return IsExeRunning("kvcontrol.exe"); }));
    // Markers already gone: the deletions pass in silence; KVControl is asked again.
    Restart();
    EXPECT_TRUE(Nothing.empty());
    EXPECT_TRUE(WaitUntil([] {
        int n = 0;
        for (const auto& info : RefreshProcessList())
            n += info.ExeName == "KVCONTROL.EXE" && info.WindowClass == "KVTestWindow";
        return n == 2;
    }));
}

TEST_F(StopRestart, FerrowyndStoppedAtTheFirstStepIsRememberedOnce) {
    TProgram program = StartProgram(Dir, "Ferrowynd.exe", {"--windows", "2"});
    Stop();
    EXPECT_EQ(std::vector<std::string>{"Stopping Ferrowynd.exe"}, Lines);
    EXPECT_EQ("Ferrowynd.exe|", RestartList);
}

TEST_F(StopRestart, RebrandedEditionStopsAndRestartsItsOwnMainProgram) {
    Rebranded = true;
    TProgram main = StartProgram(Dir, "Ostrivane.exe");
    TProgram scanner = StartProgram(Dir, "OstrivaneCL.exe");
    TProgram standard = StartProgram(Dir, "Kestavorin.exe");
    Stop();
    EXPECT_EQ((std::vector<std::string>{"Stopping Ostrivane.exe", "Stopping OstrivaneCL.exe"}),
              Lines);
    EXPECT_EQ("Ostrivane.exe|", RestartList);
    EXPECT_TRUE(ProcessEnded(main.Pid()));
    EXPECT_TRUE(ProcessEnded(scanner.Pid()));
    EXPECT_TRUE(ProcessExists(standard.Pid()));

    Lines.clear();
    Restart();
    EXPECT_EQ(std::vector<std::string>{"Restarting Ostrivane.exe"}, Lines);
    EXPECT_TRUE(WaitUntil([] { return IsExeRunning("Ostrivane.exe"); }));
    EXPECT_FALSE(IsExeRunning("OstrivaneCL.exe"));
}

TEST_F(StopRestart, StandardEditionSkipsTheRebrandedScanner) {
    TProgram scanner = StartProgram(Dir, "OstrivaneCL.exe");
    Stop();
    EXPECT_TRUE(Lines.empty());
    EXPECT_TRUE(ProcessExists(scanner.Pid()));
}

TEST_F(StopRestart, MissingRestartFilesPassInSilenceAndTheListIsConsumed) {
    RestartList = "KVMemCheck.exe|Tessamund.exe|tail without bar";
    Restart();
    EXPECT_EQ((std::vector<std::string>{"Restarting KVMemCheck.exe", "Restarting Tessamund.exe"}),
              Lines);
    EXPECT_EQ("tail without bar", RestartList);
    EXPECT_TRUE(Nothing.empty());
}

TEST_F(StopRestart, AMarkerThatCannotBeWrittenEndsTheStopAfterThePrograms) {
    TProgram program = StartProgram(Dir, "KVServer.exe");
    std::string missing = Dir.Path() + "no such folder/";
    EXPECT_THROW(Stop(missing), EInOutError);
    EXPECT_EQ(std::vector<std::string>{"Stopping KVServer.exe"}, Lines);
    EXPECT_TRUE(ProcessEnded(program.Pid()));
}

#ifndef _WIN32
// Windows always has a desktop.
TEST(StopRestartNoDisplay, StepsLogNothingButStillHandleTheMarkers) {
    TTempDir dir;
    const char* saved = getenv("DISPLAY");
    std::string keep = saved ? saved : "";
    unsetenv("DISPLAY");
    std::string list;
    std::vector<std::string> lines;
    auto say = [&](const std::string& s) { lines.push_back(s); };
    StopProductPrograms(
        dir.Path(), false, [](const std::string& text) { return text; }, list, say);
    EXPECT_EQ("h58#^~-w\r\n", dir.Read("kvsa.dat"));
    EXPECT_EQ("h58#^~-w\r\n", dir.Read("mem_ter"));
    RestartProductPrograms(dir.Path(), list, say, say);
    EXPECT_FALSE(dir.Exists("kvsa.dat"));
    EXPECT_FALSE(dir.Exists("mem_ter"));
    EXPECT_TRUE(lines.empty());
    if (saved) setenv("DISPLAY", keep.c_str(), 1);
}
#endif
