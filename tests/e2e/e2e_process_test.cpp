// A whole run of the updater while the product's programs are running on a private display:
// they are stopped before the update, the markers stand during it, and the remembered ones
// run again afterwards. The Windows build's tests run the first under Wine, with the Windows
// stand-in on the Wine desktop.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "cab/cabfiles.h"
#include "platform/text.h"
#include "tests/support/disk.h"
#include "tests/support/e2e.h"
#include "tests/support/xvfb.h"

namespace {

// The process ids whose program file is name in the product folder.
std::vector<pid_t> RunningFrom(const std::string& program) {
    std::vector<pid_t> pids;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string pid = entry.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code linkError;
        auto exe = std::filesystem::read_symlink(entry.path() / "exe", linkError);
        if (!linkError && exe.string() == program) pids.push_back(pid_t(std::stoi(pid)));
    }
    return pids;
}

void KillAllFrom(const std::string& dir, const std::vector<std::string>& names) {
    for (const auto& name : names)
        for (pid_t pid : RunningFrom(dir + name)) kill(pid, SIGKILL);
}

// The product's programs as stand-ins: xwindow_app on a private Xvfb display, or under Wine
// the Windows stand-in on the Wine desktop. That one notes each of its starts, its own file
// name, in "starts.txt" beside it: a program the shell started inside Wine is no process of
// a file of ours on the host.
class TStandIns {
public:
    TStandIns() {
        if (!e2e::UnderWine()) FDisplay = std::make_unique<kvtest::TXvfb>();
    }
    bool Ok() const { return !FDisplay || FDisplay->Ok(); }

    void Install(const e2e::TProduct& p, const std::string& name) const {
        const std::string standIn = e2e::UnderWine() ? e2e::WineSetting("standin") : XWINDOW_APP;
        std::filesystem::copy_file(standIn, p.File(name));
        chmod(p.File(name).c_str(), 0755);
    }
    kvtest::TChild Start(const e2e::TProduct& p, const std::string& name,
                         const std::string& ready) const {
        return kvtest::TChild(e2e::Command(p.File(name), {"--ready", e2e::ProgramPath(ready)}));
    }
    // How many processes of the product folder's program run (on Linux), or how many times it
    // has started (under Wine).
    size_t Count(const e2e::TProduct& p, const std::string& name) const {
        if (!e2e::UnderWine()) return RunningFrom(p.File(name)).size();
        const std::string self = plat::LowerCase(e2e::ProgramPath(p.File(name)));
        size_t starts = 0;
        for (const std::string& line : plat::SplitLines(p.Read("starts.txt")))
            starts += plat::LowerCase(line) == self;
        return starts;
    }
    void KillAll(const e2e::TProduct& p, const std::vector<std::string>& names) const {
        if (!e2e::UnderWine()) return KillAllFrom(p.Dir(), names);
        // The desktop is this test's alone: every stand-in on it goes.
        std::string command;
        for (const auto& word : e2e::Command(e2e::WineSetting("standin"), {"--end-all"}))
            command += e2e::Quote(word) + " ";
        kvtest::RunCommand(command + ">/dev/null 2>&1");
    }

private:
    std::unique_ptr<kvtest::TXvfb> FDisplay; // none under Wine: the desktop's own
};

} // namespace

TEST(UpdateWithProgramsRunning, StopsUpdatesAndRestartsInTableOrder) {
    TStandIns standIns;
    ASSERT_TRUE(standIns.Ok()) << "Xvfb did not start";
    e2e::TProduct p;
    const std::vector<std::string> names = {"KVServer.exe", "Ferrowynd.exe", "KestavorinCL.exe"};
    for (const auto& name : names) standIns.Install(p, name);
    kvtest::WriteFile(p.Root() + "src/data.txt", "new data");
    e2e::Publish(p.Root() + "src", p.Site() + "components");
    kvtest::TNginx nginx(p.Site());
    p.UseUrl(nginx.Url("/"));

    // Started in another order than the table's: the log follows the table.
    std::vector<kvtest::TChild> programs;
    for (const auto& name : names) {
        std::string ready = p.Root() + "ready-" + name;
        programs.push_back(standIns.Start(p, name, ready));
        ASSERT_TRUE(kvtest::WaitUntil([&] { return access(ready.c_str(), F_OK) == 0; }));
    }

    e2e::TRun run = p.Run();
    EXPECT_EQ(run.Status, 0) << run.Errors;
    int stopFerrowynd = run.IndexOf("Stopping Ferrowynd.exe");
    int stopScanner = run.IndexOf("Stopping KestavorinCL.exe");
    int stopServer = run.IndexOf("Stopping KVServer.exe");
    int contacting = run.IndexOf("Contacting download site ...(" + nginx.Url("/components/") + ")");
    int installed = run.IndexOf("Retrieving new file data.txt");
    int restartFerrowynd = run.IndexOf("Restarting Ferrowynd.exe");
    int restartServer = run.IndexOf("Restarting KVServer.exe");
    EXPECT_TRUE(0 <= stopFerrowynd && stopFerrowynd < stopScanner && stopScanner < stopServer &&
                stopServer < contacting && contacting < installed && installed < restartFerrowynd &&
                restartFerrowynd < restartServer && restartServer < run.IndexOf("All done"))
        << ::testing::PrintToString(run.Log);
    // Ferrowynd is found by the first step, so the second finds nothing: one start only.
    EXPECT_EQ(run.Starting("Stopping Ferrowynd.exe").size(), 1u);
    EXPECT_EQ(run.Starting("Restarting ").size(), 2u);
    EXPECT_FALSE(run.Has("Restarting KestavorinCL.exe"));
    EXPECT_EQ(p.Read("data.txt"), "new data");
    EXPECT_FALSE(p.Exists("kvsa.dat"));
    EXPECT_FALSE(p.Exists("mem_ter"));

    // The programs that ran before were stopped; the remembered ones run again, from the
    // product folder; the command-line scanner does not.
    for (auto& child : programs) EXPECT_TRUE(kvtest::ProcessEnded(child.Pid()));
    const size_t before = e2e::UnderWine() ? 1 : 0; // under Wine: the starts, the test's own
    EXPECT_TRUE(kvtest::WaitUntil([&] { return standIns.Count(p, "KVServer.exe") > before; }));
    EXPECT_TRUE(kvtest::WaitUntil([&] { return standIns.Count(p, "Ferrowynd.exe") > before; }));
    EXPECT_EQ(before, standIns.Count(p, "KestavorinCL.exe"));
    standIns.KillAll(p, names);
}

TEST(UpdateWithProgramsRunning, WithoutDisplayNothingIsStoppedAndNoMarkerIsLeft) {
    e2e::TProduct p;
    kvtest::WriteFile(p.Root() + "src/data.txt", "new data");
    e2e::Publish(p.Root() + "src", p.Site() + "components");
    kvtest::TNginx nginx(p.Site());
    p.UseUrl(nginx.Url("/"));
    // Left by a run that ended between the two steps: overwritten, then deleted.
    p.Write("kvsa.dat", "stale");

    e2e::TRun run = p.Run({}, "env -u DISPLAY ");
    EXPECT_EQ(run.Status, 0) << run.Errors;
    EXPECT_TRUE(run.Starting("Stopping ").empty());
    EXPECT_TRUE(run.Starting("Restarting ").empty());
    EXPECT_FALSE(p.Exists("kvsa.dat"));
    EXPECT_FALSE(p.Exists("mem_ter"));
}

// Faults injected at one chosen moment of a real run while a product program runs: the
// moment is a file being opened in the staging folder, held until the fault is in place.
// Each fault leaves no torn file and the old file whole; the run reports it and fails,
// removes its markers and starts the stopped program again.
TEST(UpdateWithProgramsRunning, FaultsMidRunLeaveOldFilesAndRestartThePrograms) {
    kvtest::TXvfb display;
    ASSERT_TRUE(display.Ok()) << "Xvfb did not start";
    struct TCase {
        const char* What;
        const char* ErrorLine; // after the folder names, where it has them
    };
    const TCase cases[] = {
        {"a disk that fills up while a file is unpacked",
         "Error extracting big.bin There is not enough space on the disk"},
        {"a product folder that turns read-only as a file is installed",
         "Error copying TMP/big.bin to PRODUCT/big.bin Access is denied"},
        {"a cabinet deleted between its fetch and its unpacking",
         "Error extracting big.bin The system cannot find the file specified"},
    };
    for (size_t row = 0; row < std::size(cases); ++row) {
        const TCase& c = cases[row];
        SCOPED_TRACE(c.What);
        e2e::TProduct p;
        kvtest::WriteFile(p.Root() + "src/a.txt", "new a");
        // A cabinet is unpacked from memory unless it is too long for that: the one that is
        // deleted must be long enough to be stored in the staging folder.
        kvtest::WriteFile(p.Root() + "src/big.bin",
                          row == 2 ? kvtest::RandomBytes(20 << 20, 5) : std::string(4 << 20, 'z'));
        kvtest::WriteFile(p.Root() + "src/c.txt", "new c");
        e2e::Publish(p.Root() + "src", p.Site() + "components");
        // The product folder and its staging folder on disks of their own: a fault of the
        // one leaves the other alone.
        kvtest::TTmpfs productDisk(p.Dir(), e2e::ProgramBytes() + (8 << 20));
        if (!productDisk.Ok()) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
        kvtest::TTmpfs stagingDisk(p.Dir() + "tmp", 64 << 20);
        ASSERT_TRUE(stagingDisk.Ok());
        p.Populate();
        std::filesystem::copy_file(XWINDOW_APP, p.File("KVServer.exe"));
        chmod(p.File("KVServer.exe").c_str(), 0755);
        p.Write("big.bin", "old big");
        p.Write("c.txt", "old c");
        kvtest::TNginx nginx(p.Site());
        p.UseUrl(nginx.Url("/"));
        const std::string ready = p.Root() + "ready";
        kvtest::TChild program({p.File("KVServer.exe"), "--ready", ready});
        ASSERT_TRUE(kvtest::WaitUntil([&] { return access(ready.c_str(), F_OK) == 0; }));

        std::atomic<int> faults{0};
        std::atomic<bool> faultFailed{false};
        kvtest::TOpenHook hook(p.Dir() + "tmp", [&](const std::string& name, uint64_t) {
            bool ok = true;
            if (row == 0 && name == "~kvpart.big.bin" && faults == 0) {
                ++faults; // leaves room for the small files, not for this one
                ok = stagingDisk.Fill(UnpackDiskMargin + (512 << 10));
            } else if (row == 1 && name == "big.bin" && faults == 0) {
                ++faults;
                ok = productDisk.SetReadOnly(true);
            } else if (row == 1 && name == "~kvpart.c.txt" && faults == 1) {
                ++faults; // writable again for the rest of the run
                ok = productDisk.SetReadOnly(false);
            } else if (row == 2 && name == "big.cab" && faults == 0) {
                ++faults; // the saving has its file; the unpacking finds none
                ok = unlink((p.Dir() + "tmp/big.cab").c_str()) == 0;
            }
            if (!ok) faultFailed = true;
        });
        if (!hook.Ok()) GTEST_SKIP() << "fanotify permission events are not available here";

        e2e::TRun run = p.Run({"/silent"});
        EXPECT_GE(faults.load(), 1) << "the fault never came";
        EXPECT_FALSE(faultFailed.load());
        EXPECT_EQ(run.Status, 1) << ::testing::PrintToString(run.Log);
        ASSERT_FALSE(run.Log.empty());
        EXPECT_EQ(run.Log.back(), "There were errors");
        std::string line = c.ErrorLine;
        for (auto [from, to] :
             {std::pair{"TMP/", p.Dir() + "tmp/"}, std::pair{"PRODUCT/", p.Dir()}})
            if (size_t at = line.find(from); at != std::string::npos)
                line.replace(at, std::string(from).size(), to);
        EXPECT_TRUE(run.Has(line)) << ::testing::PrintToString(run.Log);
        EXPECT_EQ(p.Read("a.txt"), "new a");
        EXPECT_EQ(p.Read("c.txt"), "new c");
        EXPECT_EQ(p.Read("big.bin"), "old big");
        for (const char* left :
             {"tmp/big.bin", "tmp/~kvpart.big.bin", "tmp/big.cab", "kvsa.dat", "mem_ter"})
            EXPECT_FALSE(p.Exists(left)) << left;
        EXPECT_TRUE(kvtest::ProcessEnded(program.Pid()));
        EXPECT_TRUE(kvtest::WaitUntil([&] { return !RunningFrom(p.File("KVServer.exe")).empty(); }))
            << "the stopped program was not started again";
        KillAllFrom(p.Dir(), {"KVServer.exe"});
    }
}
