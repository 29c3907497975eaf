// A whole product tree, published by kvpublish, installed into an empty product folder: from
// the site over HTTP and from a folder holding it.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "tests/support/e2e.h"

using e2e::TProduct;
using e2e::TRun;

namespace {

// Relative paths on disk and their contents: folders at several depths, blanks in folder
// and file names, a program file.
const std::map<std::string, std::string> Tree = {
    {"Kestavorin.exe", "program"},
    {"data/sigs/main.dat", kvtest::RandomBytes(200000, 11)},
    {"data/sigs/extra/deep.dat", "deep"},
    {"data/rules.txt", "rule 1\r\nrule 2\r\n"},
    {"my plugins/first plugin.dll", kvtest::RandomBytes(5000, 12)},
    {"my plugins/empty.cfg", ""},
};

// The parameter: from the site over HTTP (true) or from a folder holding it.
class TreeInstall : public ::testing::TestWithParam<bool> {};

TEST_P(TreeInstall, EveryFileLandsInItsFolder) {
    TProduct p;
    for (const auto& [rel, data] : Tree) kvtest::WriteFile(p.Root() + "release/" + rel, data);
    e2e::Publish(p.Root() + "release", p.Site() + "components");

    std::unique_ptr<kvtest::TNginx> nginx;
    if (GetParam()) {
        nginx = std::make_unique<kvtest::TNginx>(p.Site());
        p.UseUrl(nginx->Url("/"));
    } else {
        p.WriteIni("[General]\r\nUpdateFromUncPath=" + e2e::ProgramPath(p.Site() + "components/") +
                   "\r\nAutoExit=1\r\n");
    }
    TRun run = p.Run();
    EXPECT_EQ(run.Status, 0) << ::testing::PrintToString(run.Log);
    EXPECT_TRUE(run.Has("Retrieving new file my plugins\\first plugin.dll"))
        << ::testing::PrintToString(run.Log);
    for (const auto& [rel, data] : Tree) EXPECT_TRUE(p.Read(rel) == data) << rel;
    // Programs are executable files here; Windows has no such bit.
    if (!e2e::UnderWine()) {
        EXPECT_EQ(kvtest::RunCommand("test -x " + e2e::Quote(p.File("Kestavorin.exe"))), 0);
    }

    // The second run finds every file up to date.
    run = p.Run();
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Starting("Ok - ").size(), Tree.size()) << ::testing::PrintToString(run.Log);
}

INSTANTIATE_TEST_SUITE_P(From, TreeInstall, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Url" : "Folder"; });

} // namespace
