// The Windows build (under Wine) and this host's build update two product folders from one
// site: the folders end byte for byte the same, and so do the runs' log lines, each product
// folder's own name aside. Runs only where the Windows build is given (KV_E2E_WINE).
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "tests/support/e2e.h"

using e2e::TProduct;
using e2e::TRun;

namespace {

namespace fs = std::filesystem;

// Every file under the folder but the program and the log, by name, with its bytes.
std::map<std::string, std::string> Contents(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const std::string rel = entry.path().lexically_relative(dir).generic_string();
        if (rel == "KVUpdater.exe" || rel.rfind("logs", 0) == 0) continue;
        files[rel] = entry.is_regular_file() ? kvtest::ReadFile(entry.path().string()) : "<folder>";
    }
    return files;
}

// The log's messages with the product folder's name, as the program wrote it, made PRODUCT/.
std::vector<std::string> Neutral(const TRun& run, const std::string& productName) {
    std::vector<std::string> messages;
    for (std::string m : run.Log) {
        for (size_t at; (at = m.find(productName)) != std::string::npos;)
            m.replace(at, productName.size(), "PRODUCT/");
        messages.push_back(m);
    }
    return messages;
}

} // namespace

TEST(CrossCheck, BothBuildsLeaveTheSameProductAndTheSameLog) {
    if (!e2e::UnderWine()) GTEST_SKIP() << "needs the Windows build (KV_E2E_WINE)";
    TProduct windows, host("", KV_UPDATER_EXE);
    const std::string src = windows.Root() + "src/";
    kvtest::WriteFile(src + "Kestavorin.exe", kvtest::RandomBytes(400000, 1));
    kvtest::WriteFile(src + "readme.txt", "changed readme\r\n");
    kvtest::WriteFile(src + "same.dll", kvtest::RandomBytes(70000, 2));
    kvtest::WriteFile(src + "data/sigs/main.dat", kvtest::RandomBytes(2 << 20, 3));
    kvtest::WriteFile(src + "my plugins/first plugin.dll", std::string(90000, 'p'));
    e2e::Publish(src, windows.Site() + "components");
    kvtest::TNginx nginx(windows.Site());
    for (const TProduct* p : {&windows, &host}) {
        p->Write("readme.txt", "old readme");
        p->Write("same.dll", kvtest::ReadFile(src + "same.dll"));
        p->Write("old.dll", "not in the manifest: left alone");
        kvtest::MakeReadOnly(p->File("readme.txt"));
        p->UseUrl(nginx.Url("/"));
    }
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round == 1 ? "updating" : "up to date");
        const TRun a = windows.Run(), b = host.Run();
        EXPECT_EQ(a.Status, 0) << ::testing::PrintToString(a.Log) << a.Errors;
        EXPECT_EQ(b.Status, 0) << ::testing::PrintToString(b.Log) << b.Errors;
        EXPECT_EQ(Neutral(a, e2e::ProgramPath(windows.Dir())), Neutral(b, host.Dir()));
        EXPECT_TRUE(Contents(windows.Dir()) == Contents(host.Dir()));
    }
    EXPECT_TRUE(Contents(windows.Dir()).count("data/sigs/main.dat"));
    EXPECT_EQ(windows.Read("readme.txt"), "changed readme\r\n");
}
