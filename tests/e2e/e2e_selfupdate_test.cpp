// The self-update across its three processes: the run that finds a new updater, the copy
// started from the staging folder, and the next start that removes the copy.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/text.h"
#include "tests/support/disk.h"
#include "tests/support/e2e.h"

using e2e::ProgramPath;
using e2e::TProduct;
using e2e::TRun;

namespace {

bool WaitForText(const std::string& file, const std::string& text) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        if (kvtest::ReadFile(file).find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

} // namespace

TEST(SelfUpdate, NewUpdaterReplacesTheRunningOneAndTheNextStartRemovesTheCopy) {
    TProduct p;
    // The new version: the same program with bytes of its own at the end (it still runs).
    const std::string newProgram = kvtest::ReadFile(e2e::UpdaterExe()) + "\nnext build\n";
    kvtest::WriteFile(p.Root() + "src/KVUpdater.exe", newProgram);
    kvtest::WriteFile(p.Root() + "src/other.txt", "other");
    e2e::Publish(p.Root() + "src", p.Site() + "components");
    kvtest::TNginx nginx(p.Site());
    // No AutoExit: a pending self-update ends the run all the same.
    p.WriteIni("[General]\r\nUpdateFromUrl=" + nginx.Url("/") + "\r\n");

    TRun run = p.Run();
    EXPECT_EQ(run.Status, 0) << run.Errors;
    EXPECT_TRUE(run.Has("Retrieving changed file KVUpdater.exe"));
    const std::string staged = ProgramPath(p.Dir() + "tmp/kvupdater.exe");
    ASSERT_FALSE(run.Log.empty());
    EXPECT_EQ(run.Log.back(), "Self-updating " + staged);
    EXPECT_EQ(run.Log[run.Log.size() - 2], "All done");
    EXPECT_EQ(p.Read("other.txt"), "other");

    // The copy waits for this run to end, then replaces the program and writes its own log.
    const std::string copyLog = p.Dir() + "tmp/kvupdater.log";
    ASSERT_TRUE(WaitForText(copyLog, "Updating self from")) << kvtest::ReadFile(copyLog);
    ASSERT_TRUE(e2e::WaitForContent(p.File("KVUpdater.exe"), newProgram));
    auto copy = e2e::Messages(kvtest::ReadFile(copyLog));
    ASSERT_FALSE(copy.empty());
    EXPECT_EQ(copy.front(), "KVUpdater version 4.5.0.1");
    // Windows names the copy as it was started: the staged name, in its letter case.
    const std::string self = ProgramPath(p.Dir() + "tmp/KVUpdater.exe");
    const std::string expected =
        "Updating self from " + self + " to " + ProgramPath(p.Dir() + "tmp/../KVUpdater.exe");
    if (e2e::UnderWine()) {
        EXPECT_TRUE(plat::SameText(copy.back(), expected)) << copy.back();
    } else {
        EXPECT_EQ(copy.back(), expected);
        EXPECT_EQ(kvtest::RunCommand("test -x " + e2e::Quote(p.File("KVUpdater.exe"))), 0);
    }

    // The next normal start, now the new version, deletes the staged copy; all is current.
    run = p.Run({"/autoexit"});
    EXPECT_EQ(run.Status, 0) << run.Errors;
    EXPECT_FALSE(p.Exists("tmp/KVUpdater.exe"));
    EXPECT_TRUE(run.Has("Ok - KVUpdater.exe"));
    EXPECT_TRUE(run.Starting("Self-updating").empty());

    // Started by hand with "/debug" after "/self", the copy says what it does twice.
    kvtest::RunCommand("cp " + e2e::Quote(p.File("KVUpdater.exe")) + " " +
                       e2e::Quote(p.File("tmp/KVUpdater.exe")));
    EXPECT_EQ(p.RunProgram(p.File("tmp/KVUpdater.exe"), {"/self", "/debug"}, p.Root()).Status, 0);
    EXPECT_EQ(e2e::Messages(kvtest::ReadFile(copyLog)).size(), copy.size() + 1)
        << kvtest::ReadFile(copyLog);
}

// A program file that can't be replaced is tried again for ten seconds, then reported: the
// copy never ends as if it had updated. One that frees late in that window is replaced.
TEST(SelfUpdate, ATargetThatCannotBeReplacedIsTriedForTheWholeWindowThenReported) {
    for (bool freedLate : {false, true}) {
        SCOPED_TRACE(freedLate ? "freed after about seven seconds" : "never freed");
        TProduct p;
        const std::string program = kvtest::ReadFile(p.File("KVUpdater.exe"));
        kvtest::RunCommand("mkdir -p " + e2e::Quote(p.File("tmp")) + " && mv " +
                           e2e::Quote(p.File("KVUpdater.exe")) + " " +
                           e2e::Quote(p.File("tmp/KVUpdater.exe")) + " && mkdir " +
                           e2e::Quote(p.File("KVUpdater.exe")));
        // Each attempt opens the new program to copy it, four times a second.
        std::atomic<int> opens{0};
        kvtest::TOpenHook hook(p.File("tmp"), [&](const std::string& name, uint64_t) {
            if (name == "KVUpdater.exe" && ++opens == 30 && freedLate)
                ::rmdir(p.File("KVUpdater.exe").c_str());
        });
        if (!hook.Ok()) GTEST_SKIP() << "fanotify permission events are not available here";
        EXPECT_EQ(kvtest::RunCommand("cd / && " + e2e::Quote(p.File("tmp/KVUpdater.exe")) +
                                     " /self >/dev/null 2>&1"),
                  freedLate ? 0 : 1);
        EXPECT_GE(opens.load(), 30);
        auto copy = e2e::Messages(kvtest::ReadFile(p.File("tmp/kvupdater.log")));
        ASSERT_FALSE(copy.empty());
        if (freedLate) {
            EXPECT_EQ(copy.back(), "Updating self from " + p.Dir() + "tmp/KVUpdater.exe to " +
                                       p.Dir() + "tmp/../KVUpdater.exe");
            EXPECT_TRUE(p.Read("KVUpdater.exe") == program);
        } else {
            EXPECT_EQ(copy.back(), "Can't update self Access is denied");
        }
    }
}
