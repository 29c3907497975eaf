// Finding and stopping programs through their windows: stand-in programs on the desktop (a
// private Xvfb display on Linux, the Wine prefix's desktop on Windows).
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "platform/processes.h"
#include "process/process_viewer.h"
#include "tests/support/programs.h"

using namespace kvtest;

namespace {

class ProcessViewer : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Desktop = std::make_unique<TDesktop>(); }
    static void TearDownTestSuite() { Desktop.reset(); }
    void SetUp() override { ASSERT_TRUE(Desktop && Desktop->Ok()) << "no desktop"; }

    static std::unique_ptr<TDesktop> Desktop;
    TTempDir Dir;
};
std::unique_ptr<TDesktop> ProcessViewer::Desktop;

// The stand-in's own windows of the process (Windows adds an input method window to every
// program that has a window).
size_t WindowsOf(TPid pid) {
    size_t n = 0;
    for (const auto& info : RefreshProcessList())
        n += info.ProcessId == static_cast<uint32_t>(pid) && info.WindowClass == "KVTestWindow";
    return n;
}

} // namespace

TEST_F(ProcessViewer, TableDescribesEveryTopLevelWindowMappedOrNot) {
    TProgram shown = StartProgram(Dir, "Ferrowynd.exe", {"--windows", "2", "--title", "Main"});
    TProgram hidden = StartProgram(Dir, "KVServer.exe", {"--unmapped", "--no-pid"});
    int ferro = 0, server = 0;
    for (const TProcessInfo& info : RefreshProcessList()) {
        if (info.WindowClass != "KVTestWindow") continue;
        if (info.ProcessId == static_cast<uint32_t>(shown.Pid())) {
            ++ferro;
            EXPECT_EQ("FERROWYND.EXE", info.ExeName);
            EXPECT_EQ("Main", info.Title);
            EXPECT_TRUE(info.Visible);
            uint32_t owner = 0;
            EXPECT_EQ(info.ThreadId, plat::WindowThreadProcessId(info.Handle, &owner));
            EXPECT_EQ(info.ProcessId, owner);
#ifndef _WIN32
            EXPECT_EQ(info.ProcessId, info.ThreadId); // threads own no windows on X
#endif
        }
        if (info.ProcessId == static_cast<uint32_t>(hidden.Pid())) {
            // On X found through the display's client ids, without _NET_WM_PID.
            ++server;
            EXPECT_EQ("KVSERVER.EXE", info.ExeName);
            EXPECT_FALSE(info.Visible);
        }
    }
    EXPECT_EQ(2, ferro); // once per window
    EXPECT_EQ(1, server);
}

TEST_F(ProcessViewer, KeysAreFileNamePartsMatchedByContainment) {
    TProgram a = StartProgram(Dir, "Ferrowynd.exe");
    TProgram b = StartProgram(Dir, "ferrowynd.ex");
    TProgram c = StartProgram(Dir, "OldKVServer.exe");
    TProgram quiet = StartProgram(Dir, "KVMemCheck.exe", {"--windows", "0"});

    EXPECT_TRUE(IsExeRunning("ferrowynd.exe"));
    EXPECT_TRUE(IsExeRunning("FERROWYND.EX"));
    EXPECT_TRUE(IsExeRunning("c:\\Program Files\\Kestavorin\\Ferrowynd.exe"));
    EXPECT_TRUE(IsExeRunning("d:Ferrowynd.exe"));
    EXPECT_TRUE(IsExeRunning("/opt/kestavorin/Ferrowynd.exe"));
    EXPECT_TRUE(IsExeRunning("c:\\Program Files/Kestavorin\\Ferrowynd.exe"));
    EXPECT_TRUE(IsExeRunning("kvserver.exe")); // a longer name that ends in it
    EXPECT_FALSE(IsExeRunning("Ferrowynd.exe.old"));
    EXPECT_FALSE(IsExeRunning("Tessamund.exe"));
    // Running, but without a window: not found.
    EXPECT_FALSE(IsExeRunning("kvmemcheck.exe"));
    EXPECT_TRUE(ProcessExists(quiet.Pid()));
    // No name, or a name that is only a folder, finds nothing and stops nothing.
    EXPECT_FALSE(IsExeRunning(""));
    EXPECT_FALSE(IsExeRunning("c:\\Program Files\\"));
    EXPECT_FALSE(IsExeRunning("/opt/kestavorin/"));
    EXPECT_FALSE(KillExe("/opt/kestavorin/"));
    EXPECT_FALSE(KillExe(""));
    EXPECT_FALSE(KillExe("c:\\Program Files\\"));
    EXPECT_TRUE(ProcessExists(a.Pid()));
    EXPECT_TRUE(ProcessExists(c.Pid()));
}

TEST_F(ProcessViewer, KillExeStopsEveryInstanceAndLeavesOthersAlone) {
    TProgram one = StartProgram(Dir, "KVServer.exe", {"--windows", "3"});
    TProgram two = StartProgram(Dir, "KVServer.exe", {"--unmapped"});
    TProgram other = StartProgram(Dir, "KVControl.exe");
    EXPECT_EQ(3u, WindowsOf(one.Pid()));

    EXPECT_TRUE(KillExe("KVServer.exe"));
    EXPECT_TRUE(ProcessEnded(one.Pid()));
    EXPECT_TRUE(ProcessEnded(two.Pid()));
    EXPECT_FALSE(IsExeRunning("KVServer.exe"));
    EXPECT_TRUE(IsExeRunning("KVControl.exe"));
    // Nothing left to stop is a success.
    EXPECT_TRUE(KillExe("KVServer.exe"));
}

TEST_F(ProcessViewer, KillProcessByIdWaitsForEveryWindowToGo) {
    TProgram program = StartProgram(Dir, "Kestavorin.exe", {"--windows", "4"});
    ASSERT_EQ(4u, WindowsOf(program.Pid()));
    EXPECT_TRUE(KillProcessById(static_cast<uint32_t>(program.Pid())));
    EXPECT_EQ(0u, WindowsOf(program.Pid()));
    // An id with no process: nothing to stop, no window left.
    EXPECT_TRUE(KillProcessById(0x7FFFFFF0u));
    // A stray id that is the caller's own is refused: the caller lives on to say so (in a
    // process of its own, since a stop would end it with the exit code of a success).
    EXPECT_EXIT(std::exit(plat::TerminateProcess(static_cast<uint32_t>(OwnPid())) ? 3 : 7),
                ::testing::ExitedWithCode(7), "");
}

TEST_F(ProcessViewer, GoneWindowsAndProcessesMatchNothing) {
    EXPECT_EQ("", GetExeNameOfWindow(0x7FFFFF));
    EXPECT_EQ("", plat::WindowText(0x7FFFFF, 254));
    EXPECT_FALSE(plat::WindowVisible(0x7FFFFF));

    TProgram program = StartProgram(Dir, "Tessamund.exe");
    uint32_t handle = 0;
    for (const auto& info : RefreshProcessList())
        if (info.ProcessId == static_cast<uint32_t>(program.Pid()) &&
            info.WindowClass == "KVTestWindow")
            handle = info.Handle;
    ASSERT_NE(0u, handle);
    EXPECT_EQ("Tessamund.exe", GetExeNameOfWindow(handle));
    program.Stop();
    EXPECT_EQ("", GetExeNameOfWindow(handle));
    EXPECT_FALSE(IsExeRunning("Tessamund.exe"));
}
