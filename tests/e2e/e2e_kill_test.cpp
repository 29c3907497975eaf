// An updater killed at any moment leaves every product file whole: old or new, never a
// mixture; and a normal run afterwards completes the update. Several product folders are
// updated side by side, so that a hundred kills take well under a minute although every
// run first waits for its timer.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include "tests/support/e2e.h"

using e2e::TProduct;
using e2e::TRun;

namespace {

constexpr int FileCount = 60;
constexpr int Workers = 8;
constexpr int WantedKills = 100;

std::string Name(int i) {
    return "file" + std::to_string(1000 + i) + ".dat";
}

int MsSince(std::chrono::steady_clock::time_point start) {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - start)
                                .count());
}

} // namespace

TEST(Reliability, KilledUpdatesLeaveWholeFilesAndANormalRunCompletes) {
    std::vector<std::string> oldData, newData;
    for (int i = 0; i < FileCount; ++i) {
        oldData.push_back(kvtest::RandomBytes(20000 + 997 * (i % 50), i + 1));
        newData.push_back(kvtest::RandomBytes(20000 + 991 * (i % 50), i + 5001));
    }
    std::vector<std::unique_ptr<TProduct>> products;
    for (int w = 0; w < Workers; ++w) products.push_back(std::make_unique<TProduct>());
    TProduct& first = *products[0];
    for (int i = 0; i < FileCount; ++i)
        kvtest::WriteFile(first.Root() + "src/" + Name(i), newData[i]);
    e2e::Publish(first.Root() + "src", first.Site() + "components");
    kvtest::TNginx nginx(first.Site());
    for (auto& p : products) p->UseUrl(nginx.Url("/"));
    auto restoreOld = [&](const TProduct& p) {
        for (int i = 0; i < FileCount; ++i) p.Write(Name(i), oldData[i]);
    };
    // "" when every file is old or new; else the first torn one.
    auto torn = [&](const TProduct& p, int& updated) -> std::string {
        updated = 0;
        for (int i = 0; i < FileCount; ++i) {
            const std::string data = p.Read(Name(i));
            if (data == newData[i])
                ++updated;
            else if (data != oldData[i])
                return Name(i);
        }
        return "";
    };

    // Whole runs side by side tell how long an update takes here, timer included.
    std::atomic<int> runMs{0};
    {
        std::vector<std::thread> threads;
        for (auto& p : products)
            threads.emplace_back([&, product = p.get()] {
                restoreOld(*product);
                auto start = std::chrono::steady_clock::now();
                TRun full = product->Run();
                EXPECT_EQ(full.Status, 0) << full.Errors;
                int ms = MsSince(start);
                int seen = runMs.load();
                while (ms > seen && !runMs.compare_exchange_weak(seen, ms)) {
                }
            });
        for (auto& t : threads) t.join();
    }
    ASSERT_FALSE(HasFailure());

    // Each kill lands in a fresh update at a random moment after the timer; what earlier
    // kills left in the staging folder stays, as it would on a real machine.
    std::atomic<int> kills{0}, midUpdate{0};
    std::mutex failureLock;
    std::string failure;
    const auto start = std::chrono::steady_clock::now();
    {
        std::vector<std::thread> threads;
        for (int w = 0; w < Workers; ++w)
            threads.emplace_back([&, w] {
                const TProduct& p = *products[size_t(w)];
                std::mt19937 random(20261208 + w);
                std::uniform_int_distribution<int> moment(1900, std::max(2000, runMs.load()));
                while (kills.load() < WantedKills) {
                    restoreOld(p);
                    kvtest::TChild child({p.File("KVUpdater.exe")});
                    std::this_thread::sleep_for(std::chrono::milliseconds(moment(random)));
                    if (!child.Running()) continue; // it ended first: no kill
                    kill(child.Pid(), SIGKILL);
                    while (child.Running())
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    const int k = ++kills;
                    int updated = 0;
                    const std::string name = torn(p, updated);
                    if (!name.empty()) {
                        std::lock_guard<std::mutex> lock(failureLock);
                        failure = name + " is torn after kill " + std::to_string(k);
                        return;
                    }
                    if (updated > 0 && updated < FileCount) ++midUpdate;
                }
            });
        for (auto& t : threads) t.join();
    }
    ASSERT_EQ(failure, "");
    EXPECT_GE(kills.load(), WantedKills);
    RecordProperty("Kills", kills.load());
    RecordProperty("KillsDuringTheUpdate", midUpdate.load());
    RecordProperty("WholeRunMs", runMs.load());
    RecordProperty("KillingMs", MsSince(start));

    std::vector<std::thread> finals;
    for (auto& p : products)
        finals.emplace_back([&, product = p.get()] {
            TRun run = product->Run();
            EXPECT_EQ(run.Status, 0) << run.Errors;
            EXPECT_FALSE(run.Log.empty() || run.Log.back() != "All done");
            int updated = 0;
            EXPECT_EQ(torn(*product, updated), "");
            EXPECT_EQ(updated, FileCount);
        });
    for (auto& t : finals) t.join();
}
