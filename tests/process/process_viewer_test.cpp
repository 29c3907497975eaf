// Finding and stopping programs through their windows, on a private Xvfb display.
#include <signal.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "process/process_viewer.h"
#include "tests/support/xvfb.h"

using namespace kvtest;

namespace {

class ProcessViewer : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Display = std::make_unique<TXvfb>(); }
    static void TearDownTestSuite() { Display.reset(); }
    void SetUp() override { ASSERT_TRUE(Display && Display->Ok()) << "Xvfb did not start"; }

    static std::unique_ptr<TXvfb> Display;
    TTempDir Dir;
};
std::unique_ptr<TXvfb> ProcessViewer::Display;

size_t WindowsOf(pid_t pid) {
    size_t n = 0;
    for (const auto& info : RefreshProcessList()) n += info.ProcessId == static_cast<uint32_t>(pid);
    return n;
}

} // namespace

TEST_F(ProcessViewer, TableDescribesEveryTopLevelWindowMappedOrNot) {
    TChild shown = StartProgram(Dir, "Ferrowynd.exe", {"--windows", "2", "--title", "Main"});
    TChild hidden = StartProgram(Dir, "KVServer.exe", {"--unmapped", "--no-pid"});
    int ferro = 0, server = 0;
    for (const TProcessInfo& info : RefreshProcessList()) {
        if (info.ProcessId == static_cast<uint32_t>(shown.Pid())) {
            ++ferro;
            EXPECT_EQ("FERROWYND.EXE", info.ExeName);
            EXPECT_EQ("Main", info.Title);
            EXPECT_EQ("KVTestWindow", info.WindowClass);
            EXPECT_TRUE(info.Visible);
            EXPECT_EQ(info.ProcessId, info.ThreadId);
        }
        if (info.ProcessId == static_cast<uint32_t>(hidden.Pid())) {
            ++server; // found through the display's client ids, without _NET_WM_PID
            EXPECT_EQ("KVSERVER.EXE", info.ExeName);
            EXPECT_FALSE(info.Visible);
        }
    }
    EXPECT_EQ(2, ferro); // once per window
    EXPECT_EQ(1, server);
}

TEST_F(ProcessViewer, KeysAreFileNamePartsMatchedByContainment) {
    TChild a = StartProgram(Dir, "Ferrowynd.exe");
    TChild b = StartProgram(Dir, "ferrowynd.ex");
    TChild c = StartProgram(Dir, "OldKVServer.exe");
    TChild quiet = StartProgram(Dir, "KVMemCheck.exe", {"--windows", "0"});

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
    EXPECT_EQ(0, kill(quiet.Pid(), 0));
    // No name, or a name that is only a folder, finds nothing and stops nothing.
    EXPECT_FALSE(IsExeRunning(""));
    EXPECT_FALSE(IsExeRunning("c:\\Program Files\\"));
    EXPECT_FALSE(IsExeRunning("/opt/kestavorin/"));
    EXPECT_FALSE(KillExe("/opt/kestavorin/"));
    EXPECT_FALSE(KillExe(""));
    EXPECT_FALSE(KillExe("c:\\Program Files\\"));
    EXPECT_EQ(0, kill(a.Pid(), 0));
    EXPECT_EQ(0, kill(c.Pid(), 0));
}

TEST_F(ProcessViewer, KillExeStopsEveryInstanceAndLeavesOthersAlone) {
    TChild one = StartProgram(Dir, "KVServer.exe", {"--windows", "3"});
    TChild two = StartProgram(Dir, "KVServer.exe", {"--unmapped"});
    TChild other = StartProgram(Dir, "KVControl.exe");
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
    TChild program = StartProgram(Dir, "Kestavorin.exe", {"--windows", "4"});
    ASSERT_EQ(4u, WindowsOf(program.Pid()));
    EXPECT_TRUE(KillProcessById(static_cast<uint32_t>(program.Pid())));
    EXPECT_EQ(0u, WindowsOf(program.Pid()));
    // An id with no process: nothing to stop, no window left.
    EXPECT_TRUE(KillProcessById(0x7FFFFFF0u));
}

TEST_F(ProcessViewer, AProcessThatCannotBeStoppedEndsKillExeAfterOneAttempt) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run the stop as another user";
    TChild first = StartProgram(Dir, "Ferrowynd.exe");
    TChild second = StartProgram(Dir, "Ferrowynd.exe");
    // The probe drops to an unprivileged user: both processes are out of its reach.
    std::string out;
    EXPECT_EQ(1, RunCommand(std::string(KILL_PROBE) + " Ferrowynd.exe", &out));
    EXPECT_NE("0\n", out); // the probe still saw the windows
    EXPECT_EQ(0, kill(first.Pid(), 0));
    EXPECT_EQ(0, kill(second.Pid(), 0));
    EXPECT_TRUE(IsExeRunning("Ferrowynd.exe"));
}

TEST_F(ProcessViewer, GoneWindowsAndProcessesMatchNothing) {
    EXPECT_EQ("", GetExeNameOfWindow(0x7FFFFF));
    EXPECT_EQ("", plat::WindowText(0x7FFFFF, 254));
    EXPECT_FALSE(plat::WindowVisible(0x7FFFFF));

    TChild program = StartProgram(Dir, "Tessamund.exe");
    uint32_t handle = 0;
    for (const auto& info : RefreshProcessList())
        if (info.ProcessId == static_cast<uint32_t>(program.Pid())) handle = info.Handle;
    ASSERT_NE(0u, handle);
    EXPECT_EQ("Tessamund.exe", GetExeNameOfWindow(handle));
    program.Stop();
    EXPECT_EQ("", GetExeNameOfWindow(handle));
    EXPECT_FALSE(IsExeRunning("Tessamund.exe"));
}

TEST_F(ProcessViewer, AWindowInAWindowManagersFrameBelongsToItsProgram) {
    TChild program = StartProgram(Dir, "KVServer.exe", {"--title", "Framed"});
    uint32_t client = 0;
    for (const auto& info : RefreshProcessList())
        if (info.ProcessId == static_cast<uint32_t>(program.Pid())) client = info.Handle;
    ASSERT_NE(0u, client);

    // Play the window manager: a frame of our own, the program's window inside it.
    xcb_connection_t* wm = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(wm));
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(wm)).data;
    xcb_window_t frame = xcb_generate_id(wm);
    xcb_create_window(wm, XCB_COPY_FROM_PARENT, frame, screen->root, 0, 0, 200, 200, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    xcb_reparent_window(wm, client, frame, 5, 20);
    auto* atom = xcb_intern_atom_reply(wm, xcb_intern_atom(wm, 0, 8, "WM_STATE"), nullptr);
    ASSERT_NE(nullptr, atom);
    uint32_t state[2] = {1, 0};
    xcb_change_property(wm, XCB_PROP_MODE_REPLACE, client, atom->atom, atom->atom, 32, 2, state);
    free(atom);
    xcb_map_window(wm, frame);
    free(xcb_get_input_focus_reply(wm, xcb_get_input_focus(wm), nullptr));

    int found = 0;
    for (const auto& info : RefreshProcessList()) {
        EXPECT_NE(frame, info.Handle);
        if (info.Handle == client) {
            ++found;
            EXPECT_EQ("KVSERVER.EXE", info.ExeName);
            EXPECT_EQ("Framed", info.Title);
            EXPECT_EQ(static_cast<uint32_t>(program.Pid()), info.ProcessId);
        }
    }
    EXPECT_EQ(1, found);
    EXPECT_TRUE(KillExe("KVServer.exe"));
    EXPECT_TRUE(ProcessEnded(program.Pid()));
    xcb_disconnect(wm);
}

TEST(ProcessViewerDisplay, AServerLostInTheMiddleOfTheEnumerationEndsIt) {
    TTempDir dir;
    TXvfb display;
    ASSERT_TRUE(display.Ok());
    TChild program = StartProgram(dir, "KVServer.exe", {"--windows", "6"});
    int visits = 0;
    plat::EnumWindows([&](plat::TWindowHandle window) {
        if (++visits == 1) display.Stop();
        // What a refresh asks of every window; here it finds the server gone.
        TProcessList list;
        EnumWindowsProc(window, reinterpret_cast<intptr_t>(&list));
        return true;
    });
    // The windows still to come went with the server: none is visited through a
    // connection that is no more.
    EXPECT_EQ(1, visits);
    EXPECT_TRUE(RefreshProcessList().empty());
}

TEST(ProcessViewerDisplay, NoDisplayOrALostOneFindsNothing) {
    TTempDir dir;
    {
        TXvfb display;
        ASSERT_TRUE(display.Ok());
        TChild program = StartProgram(dir, "KVControl.exe");
        EXPECT_TRUE(IsExeRunning("KVControl.exe"));
        display.Stop(); // the server goes away under an open connection
        EXPECT_FALSE(IsExeRunning("KVControl.exe"));
        EXPECT_TRUE(KillExe("KVControl.exe"));
    }
    const char* saved = getenv("DISPLAY");
    std::string keep = saved ? saved : "";
    unsetenv("DISPLAY");
    EXPECT_TRUE(RefreshProcessList().empty());
    EXPECT_FALSE(IsExeRunning("KVControl.exe"));
    if (saved) setenv("DISPLAY", keep.c_str(), 1);
}
