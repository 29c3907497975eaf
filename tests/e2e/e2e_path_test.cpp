// Updates from a folder: the same judgement as from a site, cabinets read in place, and the
// path engine's own differences.
#include <gtest/gtest.h>

#include "tests/support/e2e.h"

using e2e::ProgramPath;
using e2e::TProduct;
using e2e::TRun;

namespace {

// A source folder "source/" holding a published new file and a changed one.
struct TPathSite {
    TProduct P;
    std::string Source = P.Root() + "source/";
    std::string NewA = "alpha, new";
    std::string NewB = kvtest::RandomBytes(70000, 3);

    TPathSite() {
        kvtest::WriteFile(P.Root() + "src/a.txt", NewA);
        kvtest::WriteFile(P.Root() + "src/b.bin", NewB);
        e2e::Publish(P.Root() + "src", Source);
        P.Write("b.bin", "old b");
    }
};

} // namespace

TEST(UpdateFromPath, InstallsFromCabinetsInPlaceAndLeavesThemThere) {
    TPathSite s;
    s.P.WriteIni("[General]\r\nUpdateFromUncPath=" + ProgramPath(s.Source) + "\r\nAutoExit=1\r\n");
    TRun run = s.P.Run();
    EXPECT_EQ(run.Status, 0) << ::testing::PrintToString(run.Log);
    EXPECT_TRUE(run.Has("Copying from " + ProgramPath(s.Source)));
    EXPECT_EQ(run.IndexOf("Contacting download site ...(" + ProgramPath(s.Source) + ")") + 1,
              run.IndexOf("Checking versions..."));
    EXPECT_TRUE(run.Has("Retrieving new file a.txt"));
    EXPECT_TRUE(run.Has("Retrieving changed file b.bin"));
    EXPECT_EQ(s.P.Read("a.txt"), s.NewA);
    EXPECT_TRUE(s.P.Read("b.bin") == s.NewB);
    EXPECT_TRUE(kvtest::RunCommand("test -f " + e2e::Quote(s.Source + "a.cab")) == 0);
    EXPECT_EQ(run.Log.back(), "All done");
}

TEST(UpdateFromPath, SwitchWinsOverTheIni) {
    TPathSite s;
    s.P.UseUrl("http://127.0.0.1:9/never/");
    TRun run = s.P.Run({"/UpdateFromUncPath", ProgramPath(s.Source)});
    EXPECT_EQ(run.Status, 0) << ::testing::PrintToString(run.Log);
    EXPECT_TRUE(run.Has("Updating from path " + ProgramPath(s.Source)));
    EXPECT_EQ(s.P.Read("a.txt"), s.NewA);
    EXPECT_TRUE(s.P.Read("b.bin") == s.NewB);
}

TEST(UpdateFromPath, MissingManifestEndsTheRunWithTheOpenError) {
    TProduct p;
    const std::string empty = p.Root() + "empty/";
    kvtest::RunCommand("mkdir -p " + e2e::Quote(empty));
    p.WriteIni("[General]\r\nUpdateFromUncPath=" + ProgramPath(empty) + "\r\nAutoExit=1\r\n");
    TRun run = p.Run();
    EXPECT_EQ(run.Status, 1);
    auto unexpected = run.Starting("Unexpected error ");
    ASSERT_EQ(unexpected.size(), 1u) << ::testing::PrintToString(run.Log);
    EXPECT_NE(unexpected[0].find(ProgramPath(empty + "versions.txt")), std::string::npos)
        << unexpected[0];
    EXPECT_EQ(run.Log.back(), "There were errors");
}

TEST(UpdateFromPath, BlankSizeEndsTheRunAfterTheEntriesBeforeIt) {
    TPathSite s;
    kvtest::WriteFile(s.Source + "versions.txt", "a.txt," + e2e::FileSumText(s.NewA) +
                                                     ",10,\r\n"
                                                     "b.bin," +
                                                     e2e::FileSumText(s.NewB) + ",,\r\n");
    s.P.WriteIni("[General]\r\nUpdateFromUncPath=" + ProgramPath(s.Source) + "\r\nAutoExit=1\r\n");
    TRun run = s.P.Run();
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(s.P.Read("a.txt"), s.NewA);
    EXPECT_EQ(s.P.Read("b.bin"), "old b");
    EXPECT_TRUE(run.Has("Unexpected error '' is not a valid integer value"))
        << ::testing::PrintToString(run.Log);
}

TEST(UpdateFromPath, CloneRunJudgesAndUnpacksButInstallsNothingUntilTheNextRun) {
    TPathSite s;
    const std::string clone = s.P.Root() + "clone/";
    s.P.WriteIni("[General]\r\nCloneToPath=" + ProgramPath(clone) + "\r\nAutoExit=1\r\n");
    // No switch clears clone mode, so this run judges from the folder but installs nothing.
    TRun run = s.P.Run({"/UpdateFromUncPath", ProgramPath(s.Source)});
    EXPECT_EQ(run.Status, 0) << ::testing::PrintToString(run.Log);
    EXPECT_TRUE(run.Has("Retrieving new file a.txt"));
    EXPECT_FALSE(s.P.Exists("a.txt"));
    EXPECT_EQ(s.P.Read("tmp/a.txt"), s.NewA);
    EXPECT_EQ(s.P.Read("b.bin"), "old b");
    std::string cloned;
    kvtest::RunCommand("ls -A " + e2e::Quote(clone), &cloned);
    EXPECT_EQ(cloned, "");

    s.P.WriteIni("[General]\r\nAutoExit=1\r\n");
    run = s.P.Run({"/UpdateFromUncPath", ProgramPath(s.Source)});
    EXPECT_EQ(run.Status, 0) << ::testing::PrintToString(run.Log);
    EXPECT_EQ(s.P.Read("a.txt"), s.NewA);
    EXPECT_TRUE(s.P.Read("b.bin") == s.NewB);
    EXPECT_FALSE(s.P.Exists("tmp/a.txt"));
}
