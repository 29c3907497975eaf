// A whole run of the updater while the product's programs are running on a private display:
// they are stopped before the update, the markers stand during it, and the remembered ones
// run again afterwards.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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

} // namespace

TEST(UpdateWithProgramsRunning, StopsUpdatesAndRestartsInTableOrder) {
    kvtest::TXvfb display;
    ASSERT_TRUE(display.Ok()) << "Xvfb did not start";
    e2e::TProduct p;
    const std::vector<std::string> names = {"KVServer.exe", "Ferrowynd.exe", "KestavorinCL.exe"};
    for (const auto& name : names) {
        std::filesystem::copy_file(XWINDOW_APP, p.File(name));
        chmod(p.File(name).c_str(), 0755);
    }
    kvtest::WriteFile(p.Root() + "src/data.txt", "new data");
    e2e::Publish(p.Root() + "src", p.Site() + "components");
    kvtest::TNginx nginx(p.Site());
    p.UseUrl(nginx.Url("/"));

    // Started in another order than the table's: the log follows the table.
    std::vector<kvtest::TChild> programs;
    for (const auto& name : names) {
        std::string ready = p.Root() + "ready-" + name;
        programs.emplace_back(std::vector<std::string>{p.File(name), "--ready", ready});
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
    EXPECT_TRUE(kvtest::WaitUntil([&] { return !RunningFrom(p.File("KVServer.exe")).empty(); }));
    EXPECT_TRUE(kvtest::WaitUntil([&] { return !RunningFrom(p.File("Ferrowynd.exe")).empty(); }));
    EXPECT_TRUE(RunningFrom(p.File("KestavorinCL.exe")).empty());
    KillAllFrom(p.Dir(), names);
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
