// kvpublish run as a program on real folders; its sites are read back with the updater's
// own manifest parse, ExtractFile and cabextract.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <unistd.h>

#include "app/manifest.h"
#include "cab/cabfiles.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tests/support/support.h"

namespace fs = std::filesystem;

namespace {

// An entry name's path on disk.
std::string Disk(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

class PublishTest : public ::testing::Test {
protected:
    kvtest::TTempDir Dir;
    std::string Out, Err;

    int Run(const std::string& args) {
        std::string cmd = std::string(KVPUBLISH) + " " + args + " 2>'" + Dir.File("stderr") + "'";
        int rc = kvtest::RunCommand(cmd, &Out);
        Err = Dir.Read("stderr");
        return rc;
    }
    int Publish(const std::string& options = "") {
        return Run(options + " '" + Dir.File("product") + "' '" + Dir.File("site") + "'");
    }
    fs::file_time_type Stamp(const std::string& rel) { return fs::last_write_time(Dir.File(rel)); }
    void Age(const std::string& rel) {
        fs::last_write_time(Dir.File(rel),
                            fs::file_time_type::clock::now() - std::chrono::hours(48));
    }
};

TEST_F(PublishTest, SiteIsReadByTheUpdaterAndByCabextract) {
    std::map<std::string, std::string> files = {
        {"readme.txt", "abc"},
        {"empty.dat", ""},
        {"KVServer.exe", kvtest::RandomBytes(1 << 20, 1)},
        {"data.a.b.dll", std::string(300000, 'q')},
        // Its byte sum passes 2^31: the manifest gives it as a negative number.
        {"ones.bin", std::string(9000000, '\xFF')},
        {" spaced name.txt", "blank in front"},
        {"sub folder\\deeper\\n.txt", "nested"},
    };
    for (auto& [name, data] : files) Dir.Write("product/" + Disk(name), data);
    ASSERT_EQ(Publish(), 0) << Err;
    EXPECT_EQ(Err, ""); // no terminal, no bar

    std::string manifest = Dir.Read("site/versions.txt");
    EXPECT_EQ(manifest.rfind("File Name,Checksum,Size,\r\n", 0), 0u);
    EXPECT_NE(manifest.find("\r\nreadme.txt,293,3,\r\n"), std::string::npos);
    EXPECT_NE(manifest.find("\r\nempty.dat,-1,0,\r\n"), std::string::npos);
    int32_t onesSum = static_cast<int32_t>(9000000u * 255u - 1u);
    EXPECT_NE(manifest.find("\r\nones.bin," + std::to_string(onesSum) + ",9000000,\r\n"),
              std::string::npos);
    EXPECT_NE(manifest.find("\r\nsub folder\\deeper\\n.txt,"), std::string::npos);

    TManifest m;
    m.ManifestLines = LoadManifestLines(manifest);
    std::vector<std::string> said;
    ASSERT_TRUE(ParseManifest(m, true, Dir.File("product/"),
                              [&](const std::string& s) { said.push_back(s); }));
    ASSERT_EQ(m.Count(), files.size());
    TCABFile cab;
    cab.TargetPath = Dir.File("tmp");
    for (size_t i = 0; i < m.Count(); ++i) {
        const std::string& name = m.FileNames[i];
        SCOPED_TRACE(name);
        ASSERT_TRUE(files.count(name));
        EXPECT_EQ(static_cast<uint32_t>(plat::StrToInt(m.FileChecksums[i])),
                  FileSum(Dir.File("product/" + Disk(name))));
        EXPECT_EQ(plat::StrToInt(m.FileSizes[i]), static_cast<int32_t>(files[name].size()));
        std::string cabFile = Dir.File("site/" + Disk(CabinetName(name)));
        cab.CABFile = cabFile;
        ASSERT_TRUE(cab.ExtractFile(name));
        EXPECT_TRUE(Dir.Read("tmp/" + Disk(name)) == files[name]);
        std::string viaCabextract;
        ASSERT_EQ(kvtest::RunCommand("cabextract -q -p '" + cabFile + "'", &viaCabextract), 0);
        EXPECT_TRUE(viaCabextract == files[name]);
    }
}

TEST_F(PublishTest, PublishingAgainRewritesOnlyWhatChanged) {
    Dir.Write("product/a.txt", "first");
    Dir.Write("product/b.txt", "second");
    Dir.Write("product/gone.txt", "soon removed");
    Dir.Write("product/Caps.TXT", "a name with capitals");
    ASSERT_EQ(Publish(), 0) << Err;
    std::string aBytes = Dir.Read("site/a.cab");
    for (const char* c : {"site/a.cab", "site/b.cab"}) Age(c);
    auto aStamp = Stamp("site/a.cab"), bStamp = Stamp("site/b.cab");

    // Same size and same byte sum, different bytes and a later date.
    Dir.Write("product/b.txt", "esocdn");
    fs::last_write_time(Dir.File("product/b.txt"),
                        fs::file_time_type::clock::now() + std::chrono::seconds(10));
    fs::remove(Dir.File("product/gone.txt"));
    ASSERT_EQ(Publish(), 0) << Err;
    EXPECT_EQ(Stamp("site/a.cab"), aStamp);
    EXPECT_NE(Stamp("site/b.cab"), bStamp);
    EXPECT_FALSE(fs::exists(Dir.File("site/gone.cab")));
    EXPECT_TRUE(fs::exists(Dir.File("site/Caps.cab")));
    EXPECT_EQ(Dir.Read("site/versions.txt").find("gone"), std::string::npos);
    EXPECT_NE(Out.find("1 cabinets written, 2 unchanged, 1 removed"), std::string::npos) << Out;

    // A damaged or replaced cabinet whose header no longer matches is rebuilt.
    Dir.Write("site/a.cab", "not a cabinet");
    ASSERT_EQ(Publish(), 0) << Err;
    EXPECT_EQ(Dir.Read("site/a.cab"), aBytes);

    // Forced, or with another compression, everything is rebuilt.
    Age("site/a.cab");
    aStamp = Stamp("site/a.cab");
    ASSERT_EQ(Publish("--force"), 0) << Err;
    EXPECT_NE(Stamp("site/a.cab"), aStamp);
    EXPECT_EQ(Dir.Read("site/a.cab"), aBytes);
    ASSERT_EQ(Publish("--compression=none -q"), 0) << Err;
    EXPECT_EQ(Out, "");
    EXPECT_NE(Dir.Read("site/a.cab"), aBytes);
    TCABFile cab;
    cab.CABFile = Dir.File("site/a.cab");
    cab.TargetPath = Dir.File("tmp");
    ASSERT_TRUE(cab.ExtractFile("a.txt"));
    EXPECT_EQ(Dir.Read("tmp/a.txt"), "first");
}

TEST_F(PublishTest, FilesDatedOutsideWhatACabinetStoresAreNotRebuiltEveryTime) {
    // A cabinet holds dates from 1980 to 2107 only: files dated before or after it are
    // stored with the nearest date it can hold, and must still count as unchanged.
    Dir.Write("product/old.txt", "from 1975");
    Dir.Write("product/epoch.txt", "from 1970");
    Dir.Write("product/late.txt", "from 2150");
    ASSERT_TRUE(plat::SetFileLastWriteTime(Dir.File("product/old.txt"), {170000000, 0}));
    ASSERT_TRUE(plat::SetFileLastWriteTime(Dir.File("product/epoch.txt"), {0, 0}));
    ASSERT_TRUE(plat::SetFileLastWriteTime(Dir.File("product/late.txt"), {5680000000, 0}));
    ASSERT_EQ(Publish(), 0) << Err;
    EXPECT_NE(Out.find("3 cabinets written, 0 unchanged"), std::string::npos) << Out;
    ASSERT_EQ(Publish(), 0) << Err;
    EXPECT_NE(Out.find("0 cabinets written, 3 unchanged"), std::string::npos) << Out;
}

TEST_F(PublishTest, TwoPublishesOfTheSameFolderAreByteIdentical) {
    Dir.Write("product/x.dll", kvtest::RandomBytes(123456, 4));
    Dir.Write("product/y.txt", std::string(50000, 'y'));
    ASSERT_EQ(Run("'" + Dir.File("product") + "' '" + Dir.File("site1") + "'"), 0) << Err;
    ASSERT_EQ(Run("'" + Dir.File("product") + "' '" + Dir.File("site2") + "'"), 0) << Err;
    for (const char* f : {"x.cab", "y.cab", "versions.txt"})
        EXPECT_EQ(Dir.Read(std::string("site1/") + f), Dir.Read(std::string("site2/") + f)) << f;
}

TEST_F(PublishTest, FailuresGiveAMessageAndAnExitStatus) {
    // Missing product folder.
    EXPECT_EQ(Publish(), 1);
    EXPECT_NE(Err.find("does not exist"), std::string::npos) << Err;
    EXPECT_FALSE(fs::exists(Dir.File("site")));

    // A site folder that can't be made: its parent is a file.
    Dir.Write("product/a.txt", "a");
    Dir.Write("file", "");
    EXPECT_EQ(Run("'" + Dir.File("product") + "' '" + Dir.File("file/site") + "'"), 1);
    EXPECT_NE(Err.find("site folder"), std::string::npos) << Err;

    // Names the manifest or a URL can't carry, and two files that would share one cabinet.
    for (const char* bad : {"a,b.txt", "file name.txt", "a.exe", "50%.txt", "what?.txt"}) {
        SCOPED_TRACE(bad);
        Dir.Write(std::string("product/") + bad, "x");
        EXPECT_EQ(Publish(), 1);
        EXPECT_NE(Err.find(bad), std::string::npos) << Err;
        fs::remove(Dir.File(std::string("product/") + bad));
    }
    ASSERT_EQ(Publish(), 0) << Err;
    // The site folder is not the product folder.
    EXPECT_EQ(Run("'" + Dir.File("product") + "' '" + Dir.File("product/") + "'"), 1);
}

TEST_F(PublishTest, ProgressBarOnATerminalAndForLongWorkOnly) {
    struct {
        const char* What;
        size_t Files, Size;
        const char* Options;
        bool Bar;
    } cases[] = {
        // The work of a file is its size and 64 KiB; the bar is for 16 MiB of work or more.
        {"one byte short", 1, (16u << 20) - 65536 - 1, "", false},
        {"at the bound", 1, (16u << 20) - 65536, "", true},
        {"255 files", 255, 0, "", false},
        {"256 files", 256, 0, "", true},
        {"quiet", 256, 0, "--quiet", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        fs::remove_all(Dir.File("product"));
        fs::remove_all(Dir.File("site"));
        for (size_t i = 0; i < c.Files; ++i)
            Dir.Write("product/f" + std::to_string(i), std::string(c.Size, 'x'));
        // script gives the tool a terminal for its standard streams.
        std::string cmd = std::string(KVPUBLISH) + " " + c.Options + " '" + Dir.File("product") +
                          "' '" + Dir.File("site") + "'";
        std::string shown;
        ASSERT_EQ(kvtest::RunCommand("script -qec \"" + cmd + "\" /dev/null", &shown), 0) << shown;
        bool empty = shown.find("[" + std::string(30, ' ') + "]   0% ") != std::string::npos;
        bool full = shown.find("[" + std::string(30, '#') + "] 100% ") != std::string::npos;
        EXPECT_EQ(empty, c.Bar) << shown;
        EXPECT_EQ(full, c.Bar) << shown;
        EXPECT_EQ(shown.find('%') != std::string::npos, c.Bar) << shown;
    }
    // Without a terminal there is no bar.
    ASSERT_EQ(Publish("--force"), 0);
    EXPECT_EQ(Err, "");
}

TEST_F(PublishTest, FoldersArePublishedAndWhatIsNoFileIsSkippedWithALine) {
    Dir.Write("product/top.txt", "top");
    Dir.Write("product/data/sigs/main.dat", "main");
    Dir.Write("product/my plugins/a plugin.dll", "plugin");
    Dir.Write("outside.txt", "not the product's");
    ASSERT_EQ(kvtest::RunCommand("cd '" + Dir.File("product") +
                                 "' && mkfifo pipe && ln -s ../outside.txt out.lnk"
                                 " && ln -s nowhere dangling && ln -s ../.. data/sigs/up"
                                 " && ln -s top.txt in.lnk && ln -s data linked"),
              0);
    // The site inside the product folder is left out too.
    ASSERT_EQ(Run("'" + Dir.File("product") + "' '" + Dir.File("product/site") + "'"), 0) << Err;
    EXPECT_EQ(Err,
              "kvpublish: skipping 'dangling': a symbolic link to nothing\n"
              "kvpublish: skipping 'data\\sigs\\up': a symbolic link to a folder that holds it\n"
              "kvpublish: skipping 'linked\\sigs\\up': a symbolic link to a folder that holds it\n"
              "kvpublish: skipping 'out.lnk': a symbolic link that leads out of the product "
              "folder\n"
              "kvpublish: skipping 'pipe': a FIFO\n");
    std::vector<std::string> names;
    for (const std::string& line : plat::SplitLines(Dir.Read("product/site/versions.txt")))
        if (!IsHeaderManifestLine(line) && !line.empty())
            names.push_back(line.substr(0, line.find(',')));
    EXPECT_EQ(names,
              (std::vector<std::string>{"data\\sigs\\main.dat", "in.lnk", "linked\\sigs\\main.dat",
                                        "my plugins\\a plugin.dll", "top.txt"}));
    TCABFile cab;
    cab.CABFile = Dir.File("product/site/my plugins/a plugin.cab");
    ASSERT_TRUE(cab.ReadContents());
    ASSERT_EQ(cab.CABFileContents.Items.size(), 1u);
    EXPECT_EQ(cab.CABFileContents[0].RelPath + cab.CABFileContents[0].Name,
              "my plugins\\a plugin.dll");

    // Again: nothing is rewritten; the site is byte for byte what it was.
    std::string before;
    const std::string listing = "cd '" + Dir.File("product/site") +
                                "' && find . -type f -printf '%p %T@\\n' | sort && cat $(find . "
                                "-type f | sort) | md5sum";
    ASSERT_EQ(kvtest::RunCommand(listing, &before), 0);
    ASSERT_EQ(Run("'" + Dir.File("product") + "' '" + Dir.File("product/site") + "'"), 0) << Err;
    EXPECT_NE(Out.find("5 files, 0 cabinets written, 5 unchanged, 0 removed"), std::string::npos)
        << Out;
    std::string after;
    ASSERT_EQ(kvtest::RunCommand(listing, &after), 0);
    EXPECT_EQ(after, before);

    // A file gone from a folder takes the site folders that held only its cabinet with it.
    fs::remove_all(Dir.File("product/data"));
    fs::remove(Dir.File("product/linked"));
    ASSERT_EQ(Run("'" + Dir.File("product") + "' '" + Dir.File("product/site") + "'"), 0) << Err;
    EXPECT_FALSE(fs::exists(Dir.File("product/site/data")));
    EXPECT_FALSE(fs::exists(Dir.File("product/site/linked")));
    EXPECT_TRUE(fs::exists(Dir.File("product/site/my plugins/a plugin.cab")));
}

TEST_F(PublishTest, NamesOneSiteCouldNotTellApartAreRefused) {
    struct {
        std::vector<std::string> Files;
        std::string Message;
    } cases[] = {
        {{"Readme.txt", "readme.txt"},
         "'Readme.txt' and 'readme.txt' differ only in letter case: the updater could not tell "
         "them apart"},
        {{"Data/x.txt", "data/y.txt"},
         "'Data' and 'data' differ only in letter case: the updater could not tell them apart"},
        {{"Data/x.txt", "data.txt"}, ""}, // no clash: "Data" and "data.txt" differ
        {{"a/b.txt", "a/b.dll"}, "'a\\b.dll' and 'a\\b.txt' would share the cabinet 'a\\b.cab'"},
        {{"data.txt", "data.cab/x.txt"},
         "cannot publish 'data.cab\\x.txt': the site folder of its cabinet, 'data.cab', would be "
         "named like a site file"},
        {{"versions.txt/x.txt"},
         "cannot publish 'versions.txt\\x.txt': the site folder of its cabinet, 'versions.txt', "
         "would be named like a site file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Files[0] + " " + (c.Files.size() > 1 ? c.Files[1] : ""));
        fs::remove_all(Dir.File("product"));
        fs::remove_all(Dir.File("site"));
        for (const std::string& f : c.Files) Dir.Write("product/" + f, f);
        if (c.Message.empty()) {
            EXPECT_EQ(Publish(), 0) << Err;
            continue;
        }
        EXPECT_EQ(Publish(), 1);
        EXPECT_EQ(Err, "kvpublish: " + c.Message + "\n");
        EXPECT_FALSE(fs::exists(Dir.File("site")));
    }
}

TEST_F(PublishTest, CommandLine) {
    EXPECT_EQ(Run("--help"), 0);
    EXPECT_NE(Out.find("Usage: kvpublish"), std::string::npos);
    EXPECT_EQ(Run("--version"), 0);
    EXPECT_EQ(Out.rfind("kvpublish ", 0), 0u);
    EXPECT_EQ(Run(""), 2);
    EXPECT_NE(Err.find("--help"), std::string::npos);
    EXPECT_EQ(Run("a b c"), 2);
    EXPECT_EQ(Run("--bogus a b"), 2);
    EXPECT_EQ(Run("--compression=zip a b"), 2);
    EXPECT_EQ(Run("--compression"), 2);
    Dir.Write("product/a.txt", "a");
    EXPECT_EQ(Publish("--compression=lzx"), 1);
    EXPECT_NE(Err.find("LZX"), std::string::npos);
    EXPECT_EQ(Publish("-c none"), 0) << Err;
    EXPECT_EQ(Publish("-cmszip"), 0) << Err;
    // "--" ends the options: a folder may start with a dash.
    Dir.Write("-product/b.txt", "b");
    EXPECT_EQ(Run("-q -- '" + Dir.File("-product") + "' '" + Dir.File("-site") + "'"), 0) << Err;
    EXPECT_TRUE(fs::exists(Dir.File("-site/b.cab")));
}

} // namespace
