// Finding and stopping programs through their windows: what only X shows (a window manager's
// frames, a display that goes away) and a stop that is refused, on a private Xvfb display.
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

class ProcessViewerX11 : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Display = std::make_unique<TXvfb>(); }
    static void TearDownTestSuite() { Display.reset(); }
    void SetUp() override { ASSERT_TRUE(Display && Display->Ok()) << "Xvfb did not start"; }

    static std::unique_ptr<TXvfb> Display;
    TTempDir Dir;
};
std::unique_ptr<TXvfb> ProcessViewerX11::Display;

} // namespace

TEST_F(ProcessViewerX11, AProcessThatCannotBeStoppedEndsKillExeAfterOneAttempt) {
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

TEST_F(ProcessViewerX11, AWindowInAWindowManagersFrameBelongsToItsProgram) {
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
