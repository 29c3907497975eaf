// An updater killed at any moment leaves every product file whole: old or new, never a
// mixture; and a normal run afterwards completes the update.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <random>
#include <thread>

#include "tests/support/e2e.h"

using e2e::TProduct;
using e2e::TRun;

namespace {

constexpr int FileCount = 200;
constexpr int Kills = 21;

std::string Name(int i) {
    return "file" + std::to_string(1000 + i) + ".dat";
}
std::string OldData(int i) {
    return kvtest::RandomBytes(20000 + 997 * (i % 50), i + 1);
}
std::string NewData(int i) {
    return kvtest::RandomBytes(20000 + 991 * (i % 50), i + 5001);
}

} // namespace

TEST(Reliability, KilledUpdatesLeaveWholeFilesAndANormalRunCompletes) {
    TProduct p;
    for (int i = 0; i < FileCount; ++i) kvtest::WriteFile(p.Root() + "src/" + Name(i), NewData(i));
    e2e::Publish(p.Root() + "src", p.Site() + "components");
    kvtest::TNginx nginx(p.Site());
    p.UseUrl(nginx.Url("/"));
    auto restoreOld = [&] {
        for (int i = 0; i < FileCount; ++i) p.Write(Name(i), OldData(i));
    };

    // One whole run tells how long an update takes here.
    restoreOld();
    auto start = std::chrono::steady_clock::now();
    TRun full = p.Run();
    ASSERT_EQ(full.Status, 0) << full.Errors;
    const int runMs = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - start)
                                           .count());

    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> moment(runMs / 2, runMs + 200);
    int midUpdate = 0;
    for (int k = 0; k < Kills; ++k) {
        // Each kill lands in a fresh update; what earlier kills left in the staging folder
        // stays, as it would on a real machine.
        restoreOld();
        kvtest::TChild child({p.File("KVUpdater.exe")});
        std::this_thread::sleep_for(std::chrono::milliseconds(moment(random)));
        kill(child.Pid(), SIGKILL);
        while (child.Running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));

        int updated = 0;
        for (int i = 0; i < FileCount; ++i) {
            const std::string data = p.Read(Name(i));
            if (data == NewData(i))
                ++updated;
            else
                ASSERT_TRUE(data == OldData(i)) << Name(i) << " is torn after kill " << k;
        }
        if (updated > 0 && updated < FileCount) ++midUpdate;
    }
    RecordProperty("KillsDuringTheUpdate", midUpdate);
    RecordProperty("WholeRunMs", runMs);

    TRun run = p.Run();
    EXPECT_EQ(run.Status, 0) << run.Errors;
    EXPECT_EQ(run.Log.back(), "All done");
    for (int i = 0; i < FileCount; ++i) ASSERT_TRUE(p.Read(Name(i)) == NewData(i)) << Name(i);
}
