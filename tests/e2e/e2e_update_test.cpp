// Updates from a real nginx site: statuses, installs, the manifest's bad forms.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cab/cabfiles.h"
#include "tests/support/e2e.h"

using e2e::ProgramPath;
using e2e::TProduct;
using e2e::TRun;

namespace {

// A product whose site holds a new, a changed and an unchanged file.
struct TThreeFiles {
    TProduct P;
    std::string NewA = "brand new file\n";
    std::string NewB = kvtest::RandomBytes(300000, 7);
    std::string Same = "same on both sides";

    TThreeFiles() {
        kvtest::WriteFile(P.Root() + "src/a.txt", NewA);
        kvtest::WriteFile(P.Root() + "src/b.bin", NewB);
        kvtest::WriteFile(P.Root() + "src/c.txt", Same);
        e2e::Publish(P.Root() + "src", P.Site() + "components");
        P.Write("b.bin", "the old b");
        P.Write("c.txt", Same);
    }
};

} // namespace

TEST(UpdateFromUrl, InstallsNewAndChangedFilesAndLeavesUnchangedOnes) {
    TThreeFiles t;
    kvtest::TNginx nginx(t.P.Site());
    t.P.UseUrl(nginx.Url("/"));
    const std::string url = nginx.Url("/components/");

    TRun run = t.P.Run();
    EXPECT_EQ(run.Status, 0) << run.Errors;
    ASSERT_FALSE(run.Log.empty());
    EXPECT_EQ(run.Log.front(), "KVUpdater version 4.5.0.1");
    EXPECT_TRUE(run.Has("Reading " + ProgramPath(t.P.Dir() + "KVUpdater.ini")));
    EXPECT_TRUE(run.Has("Updating from " + url));
    EXPECT_TRUE(run.Has("Updating to " + ProgramPath(t.P.Dir())));
    int contacting = run.IndexOf("Contacting download site ...(" + url + ")");
    int checking = run.IndexOf("Checking versions...");
    int a = run.IndexOf("Retrieving new file a.txt");
    int b = run.IndexOf("Retrieving changed file b.bin");
    int c = run.IndexOf("Ok - c.txt");
    EXPECT_TRUE(contacting >= 0 && contacting < checking && checking < a && a < b && b < c)
        << ::testing::PrintToString(run.Log);
    EXPECT_EQ(run.Log.back(), "All done");

    EXPECT_EQ(t.P.Read("a.txt"), t.NewA);
    EXPECT_TRUE(t.P.Read("b.bin") == t.NewB);
    EXPECT_EQ(t.P.Read("c.txt"), t.Same);
    // Nothing is left in the staging folder: cabinets and unpacked files are gone.
    std::string left;
    kvtest::RunCommand("ls -A " + e2e::Quote(t.P.File("tmp")), &left);
    EXPECT_EQ(left, "");

    // Run again: everything is up to date.
    run = t.P.Run();
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Starting("Ok - ").size(), 3u);
    EXPECT_TRUE(run.Starting("Retrieving").empty());
}

// A file an earlier run left in the staging folder is installed only when its size and byte
// sum are the manifest's: one torn by a power cut, or of another version, goes.
TEST(UpdateFromUrl, ReplacesReadOnlyFileAndInstallsOnlyLeftoversThatMatchTheManifest) {
    TThreeFiles t;
    kvtest::TNginx nginx(t.P.Site());
    t.P.UseUrl(nginx.Url("/"));
    const std::string deleted = "Deleting " + ProgramPath(t.P.Dir() + "tmp/c.txt") +
                                " - left by an earlier run, it does not match versions.txt";
    struct TCase {
        const char* Name;
        std::string Leftover;
        bool Installed;
    } cases[] = {
        {"the same file", t.Same, true},
        {"torn: zeros of the right size", std::string(t.Same.size(), '\0'), false},
        {"the same sum, one byte longer", t.Same + '\0', false},
        {"another version", "left over by an interrupted run", false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        t.P.Write("b.bin", "the old b");
        chmod(t.P.File("b.bin").c_str(), 0444);
        t.P.Write("tmp/c.txt", c.Leftover);
        TRun run = t.P.Run();
        EXPECT_EQ(run.Status, 0) << run.Errors;
        EXPECT_TRUE(run.Has("Retrieving changed file b.bin"));
        EXPECT_TRUE(t.P.Read("b.bin") == t.NewB);
        EXPECT_TRUE(run.Has("Ok - c.txt"));
        EXPECT_EQ(run.Has(deleted), !c.Installed) << ::testing::PrintToString(run.Log);
        EXPECT_EQ(t.P.Read("c.txt"), t.Same);
        EXPECT_FALSE(t.P.Exists("tmp/c.txt"));
    }
}

TEST(UpdateFromUrl, CorruptManifestGivesUpStoresItAndInstallsNothing) {
    TThreeFiles t;
    const std::string manifest = "File Name,Checksum,Size,\r\n"
                                 "a.txt," +
                                 e2e::FileSumText(t.NewA) +
                                 ",15,\r\n"
                                 "b.bin,12,34\n"
                                 "c.txt,1,1,";
    kvtest::WriteFile(t.P.Site() + "components/versions.txt", manifest);
    kvtest::TNginx nginx(t.P.Site());
    t.P.UseUrl(nginx.Url("/"));

    TRun run = t.P.Run();
    EXPECT_EQ(run.Status, 1);
    EXPECT_TRUE(run.Has("Giving up - line corrupt for size - 34"));
    EXPECT_EQ(run.Log.back(), "There were errors");
    EXPECT_TRUE(run.Starting("Retrieving").empty());
    EXPECT_FALSE(t.P.Exists("a.txt"));
    EXPECT_EQ(t.P.Read("b.bin"), "the old b");
    // Every line as received, the ones after the corrupt line too, each with CR LF.
    EXPECT_EQ(t.P.Read("versions.txt"), "File Name,Checksum,Size,\r\n"
                                        "a.txt," +
                                            e2e::FileSumText(t.NewA) +
                                            ",15,\r\n"
                                            "b.bin,12,34\r\n"
                                            "c.txt,1,1,\r\n");
}

// An error page is no manifest: it is named, and nothing of it is parsed or stored.
TEST(UpdateFromUrl, ErrorPageServedForTheManifestIsNeverRead) {
    TProduct p;
    kvtest::TNginx nginx(p.Site()); // no versions.txt: nginx answers with its 404 page
    p.UseUrl(nginx.Url("/"));
    TRun run = p.Run();
    EXPECT_EQ(run.Status, 1);
    EXPECT_TRUE(run.Has("Error retrieving versions.txt HTTP/1.1 404 Not Found"))
        << ::testing::PrintToString(run.Log);
    EXPECT_TRUE(run.Starting("Giving up").empty());
    EXPECT_FALSE(run.Has("Checking versions..."));
    EXPECT_FALSE(p.Exists("versions.txt"));
    EXPECT_EQ(run.Log.back(), "There were errors");
}

TEST(UpdateFromUrl, BlankSizeBecomesDefaultButANonNumberEndsTheRun) {
    TProduct p;
    kvtest::WriteFile(p.Root() + "src/a.txt", "aaa");
    kvtest::WriteFile(p.Root() + "src/b.txt", "bbb");
    e2e::Publish(p.Root() + "src", p.Site() + "components");
    kvtest::TNginx nginx(p.Site());
    p.UseUrl(nginx.Url("/"));

    kvtest::WriteFile(p.Site() + "components/versions.txt",
                      "a.txt," + e2e::FileSumText("aaa") + ",  ,\r\n");
    TRun run = p.Run();
    EXPECT_EQ(run.Status, 0) << ::testing::PrintToString(run.Log);
    EXPECT_EQ(p.Read("a.txt"), "aaa");

    // A size that is not a number ends the run at its entry; the entries before it stay done.
    kvtest::WriteFile(p.Site() + "components/versions.txt",
                      "b.txt," + e2e::FileSumText("bbb") + ",3,\r\nc.txt,1,12k,\r\n");
    run = p.Run();
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(p.Read("b.txt"), "bbb");
    EXPECT_TRUE(run.Has("Unexpected error '12k' is not a valid integer value"))
        << ::testing::PrintToString(run.Log);
    EXPECT_EQ(run.Log.back(), "There were errors");
}

TEST(UpdateFromUrl, ClonesTheSiteByteForByteAndTheCloneServesAnUpdateFromPath) {
    TThreeFiles t;
    kvtest::TNginx nginx(t.P.Site());
    const std::string clone = t.P.Root() + "clone/";
    t.P.WriteIni("[General]\r\nUpdateFromUrl=" + nginx.Url("/") +
                 "\r\nCloneToPath=" + ProgramPath(clone) + "\r\nAutoExit=1\r\n");

    TRun run = t.P.Run();
    EXPECT_EQ(run.Status, 0) << ::testing::PrintToString(run.Log);
    EXPECT_TRUE(run.Has("Cloning to " + ProgramPath(clone)));
    // Clone mode keeps the site's backslash after the edition folder.
    EXPECT_TRUE(run.Has("Contacting download site ...(" + nginx.Url("/") + "components\\)"));
    EXPECT_EQ(run.Starting("Retrieving file ").size(), 3u);
    EXPECT_TRUE(run.Has("Retrieving file a.cab"));
    EXPECT_TRUE(run.Starting("Ok - ").empty());
    for (const char* f : {"versions.txt", "a.cab", "b.cab", "c.cab"})
        EXPECT_TRUE(kvtest::ReadFile(clone + f) == kvtest::ReadFile(t.P.Site() + "components/" + f))
            << f;
    // Nothing was installed.
    EXPECT_FALSE(t.P.Exists("a.txt"));
    EXPECT_EQ(t.P.Read("b.bin"), "the old b");

    t.P.WriteIni("[General]\r\nUpdateFromUncPath=" + ProgramPath(clone) + "\r\nAutoExit=1\r\n");
    run = t.P.Run();
    EXPECT_EQ(run.Status, 0) << ::testing::PrintToString(run.Log);
    EXPECT_TRUE(run.Has("Copying from " + ProgramPath(clone)));
    EXPECT_EQ(t.P.Read("a.txt"), t.NewA);
    EXPECT_TRUE(t.P.Read("b.bin") == t.NewB);
}

TEST(UpdateFromUrl, CloneSwitchOnTheCommandLineKeepsTheUrlMode) {
    TThreeFiles t;
    kvtest::TNginx nginx(t.P.Site());
    t.P.UseUrl(nginx.Url("/"));
    const std::string clone = t.P.Root() + "clone2/";
    TRun run = t.P.Run({"/CloneToPath", ProgramPath(clone)});
    EXPECT_EQ(run.Status, 0) << ::testing::PrintToString(run.Log);
    EXPECT_TRUE(run.Has("Cloning update site to " + ProgramPath(clone)));
    EXPECT_TRUE(run.Has("Updating from " + nginx.Url("/components/")));
    EXPECT_TRUE(kvtest::ReadFile(clone + "b.cab") ==
                kvtest::ReadFile(t.P.Site() + "components/b.cab"));
    EXPECT_FALSE(t.P.Exists("a.txt"));
}

// Entry names with folders: the staging, clone and product folders get the missing levels,
// and a level that is a link leading out of the product folder is never followed.
TEST(UpdateFromUrl, NamesWithFoldersAreFetchedClonedAndInstalled) {
    TProduct p;
    // Long enough that its cabinet is not unpacked from memory but stored in the staging
    // folder, under its folders.
    const std::string data = "signatures " + kvtest::RandomBytes(17 << 20, 5);
    const std::string site = p.Site() + "components/";
    kvtest::WriteFile(p.Root() + "main.dat", data);
    kvtest::RunCommand("mkdir -p " + e2e::Quote(site + "data/sigs"));
    TCABFile cab;
    cab.CABFile = site + "data/sigs/main.cab";
    cab.CompressFile(p.Root() + "main.dat", "data\\sigs\\main.dat");
    kvtest::WriteFile(site + "versions.txt", "data\\sigs\\main.dat," + e2e::FileSumText(data) +
                                                 "," + std::to_string(data.size()) + ",\r\n");
    kvtest::TNginx nginx(p.Site());

    p.UseUrl(nginx.Url("/"));
    TRun run = p.Run();
    EXPECT_EQ(run.Status, 0) << ::testing::PrintToString(run.Log);
    EXPECT_TRUE(p.Read("data/sigs/main.dat") == data);
    EXPECT_FALSE(p.Exists("tmp/data/sigs/main.cab"));

    const std::string clone = p.Root() + "clone/";
    run = p.Run({"/CloneToPath", ProgramPath(clone)});
    EXPECT_EQ(run.Status, 0) << ::testing::PrintToString(run.Log);
    EXPECT_EQ(kvtest::ReadFile(clone + "data/sigs/main.cab"), kvtest::ReadFile(cab.CABFile));

    // From the clone into a product whose "data" leads out of it: refused like an unsafe
    // name before anything is done, nothing outside.
    kvtest::RunCommand("rm -r " + e2e::Quote(p.File("data")) + " && mkdir " +
                       e2e::Quote(p.Root() + "outside") + " && ln -s ../outside " +
                       e2e::Quote(p.File("data")));
    run = p.Run({"/UpdateFromUncPath", ProgramPath(clone), "/autoexit"});
    EXPECT_EQ(run.Status, 1) << ::testing::PrintToString(run.Log);
    EXPECT_TRUE(run.Has("Giving up - unsafe file name - data\\sigs\\main.dat," +
                        e2e::FileSumText(data) + "," + std::to_string(data.size()) + ","))
        << ::testing::PrintToString(run.Log);
    EXPECT_FALSE(kvtest::RunCommand("test -e " + e2e::Quote(p.Root() + "outside/sigs")) == 0);

    kvtest::RunCommand("rm " + e2e::Quote(p.File("data")));
    run = p.Run({"/UpdateFromUncPath", ProgramPath(clone), "/autoexit"});
    EXPECT_EQ(run.Status, 0) << ::testing::PrintToString(run.Log);
    EXPECT_TRUE(p.Read("data/sigs/main.dat") == data);
}

// A product file that is a link to a read-only file elsewhere is replaced as a name: the
// link gives way to the new file; the file elsewhere keeps its bytes and its mode.
TEST(UpdateFromUrl, ProductFilesThatAreLinksAreReplacedNeverFollowed) {
    TProduct p;
    kvtest::WriteFile(p.Root() + "src/x.dll", "new x");
    e2e::Publish(p.Root() + "src", p.Site() + "components");
    const std::string outside = p.Root() + "outside/x.dll";
    kvtest::WriteFile(outside, "outside x");
    ASSERT_EQ(chmod(outside.c_str(), 0444), 0);
    ASSERT_EQ(symlink(outside.c_str(), p.File("x.dll").c_str()), 0);
    kvtest::TNginx nginx(p.Site());
    p.UseUrl(nginx.Url("/"));

    TRun run = p.Run();
    EXPECT_EQ(run.Status, 0) << ::testing::PrintToString(run.Log);
    EXPECT_TRUE(run.Has("Retrieving changed file x.dll"));
    struct stat st;
    ASSERT_EQ(lstat(p.File("x.dll").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(p.Read("x.dll"), "new x");
    ASSERT_EQ(stat(outside.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    EXPECT_EQ(kvtest::ReadFile(outside), "outside x");
}

// A FIFO, socket or device under a name the run reads is no file: the run never waits on
// it. A product file that is one counts as missing and can't be replaced.
TEST(UpdateFromUrl, NamesThatAreNoRegularFilesNeverHoldTheRun) {
    TProduct p;
    kvtest::WriteFile(p.Root() + "src/pipe.txt", "new pipe");
    kvtest::WriteFile(p.Root() + "src/a.txt", "new a");
    e2e::Publish(p.Root() + "src", p.Site() + "components");
    kvtest::TNginx nginx(p.Site());
    p.UseUrl(nginx.Url("/"));
    kvtest::RunCommand("cd " + e2e::Quote(p.Dir()) +
                       " && mkfifo pipe.txt && rm language.dat && mkfifo language.dat"
                       " && mkfifo Kestavorin.ini && ln -s /dev/zero ostrivane.ini");
    TRun run = p.Run({}, "timeout 60 ");
    EXPECT_EQ(run.Status, 1) << ::testing::PrintToString(run.Log) << run.Errors;
    EXPECT_TRUE(run.Has("Retrieving new file pipe.txt"));
    EXPECT_TRUE(run.Has("Error copying " + p.Dir() + "tmp/pipe.txt to " + p.Dir() +
                        "pipe.txt Access is denied"))
        << ::testing::PrintToString(run.Log);
    EXPECT_EQ(p.Read("a.txt"), "new a");

    // A folder site whose manifest is a FIFO: the open fails at once.
    const std::string source = p.Root() + "source/";
    kvtest::RunCommand("mkdir -p " + e2e::Quote(source) + " && mkfifo " +
                       e2e::Quote(source + "versions.txt"));
    run = p.Run({"/UpdateFromUncPath", source}, "timeout 60 ");
    EXPECT_EQ(run.Status, 1) << run.Errors;
    EXPECT_EQ(
        run.Starting("Unexpected error Cannot open file \"" + source + "versions.txt\"").size(), 1u)
        << ::testing::PrintToString(run.Log);
}
