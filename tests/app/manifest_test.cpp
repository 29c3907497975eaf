#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "app/manifest.h"
#include "platform/exception.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tests/support/support.h"

namespace {

using Lines = std::vector<std::string>;

// A product folder and the log lines one parse wrote.
class ManifestParse : public ::testing::Test {
protected:
    kvtest::TTempDir Dir;
    Lines Log;
    TManifest M;

    bool Parse(const std::string& text, bool replaceBlankSizes) {
        M.ManifestLines = LoadManifestLines(text);
        return ParseManifest(M, replaceBlankSizes, Dir.Path(),
                             [this](const std::string& s) { Log.push_back(s); });
    }
    std::vector<plat::TDirEntry> Entries() {
        std::vector<plat::TDirEntry> entries;
        plat::ListDirectory(Dir.Path(), entries);
        return entries;
    }
};

TEST(ManifestLines, EndAtCrLfLfCrAndNul) {
    EXPECT_EQ(LoadManifestLines("a\r\nb\nc\rd"), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(LoadManifestLines("a\r\n\r\nb\r\n"), (Lines{"a", "", "b"}));
    EXPECT_EQ(LoadManifestLines(std::string("a,1,2,\r\nb\0c,1,2,\r\n", 19)),
              (Lines{"a,1,2,", "b"}));
    EXPECT_EQ(LoadManifestLines(""), Lines{});
}

TEST(ManifestLines, MissingFileRaisesOpenError) {
    kvtest::TTempDir dir;
    EXPECT_THROW(LoadManifestFile(dir.File("versions.txt")), EInOutError);
    dir.Write("versions.txt", "File Name\r\na,1,2,");
    EXPECT_EQ(LoadManifestFile(dir.File("versions.txt")), (Lines{"File Name", "a,1,2,"}));
}

TEST_F(ManifestParse, TakesFieldsVerbatimAndSkipsBlankAndHeaderLines) {
    ASSERT_TRUE(Parse("File Name,Checksum,Size,\r\n\r\n \t \r\n"
                      "readme.txt,293,3,\r\n"
                      "FILE NAMES anywhere\r\n"
                      " a b.dll , -1 , 34 ,rest,is,ignored\r\n"
                      " File Name,1,2,\r\n",
                      true));
    EXPECT_EQ(M.FileNames, (Lines{"readme.txt", " a b.dll ", " File Name"}));
    EXPECT_EQ(M.FileChecksums, (Lines{"293", " -1 ", "1"}));
    EXPECT_EQ(M.FileSizes, (Lines{"3", " 34 ", "2"}));
    EXPECT_TRUE(Log.empty());
    EXPECT_TRUE(Entries().empty()) << "a good manifest is not stored";
}

TEST_F(ManifestParse, OnlyHeaderAndBlankLinesGiveNoEntries) {
    ASSERT_TRUE(Parse("file name\n\n   \nFile Name,Checksum,Size,\n", false));
    EXPECT_EQ(M.Count(), 0u);
}

TEST_F(ManifestParse, BlankSizeBecomesDefaultOnlyWhenAsked) {
    ASSERT_TRUE(Parse("a.dll,12,,x\nb.dll,12, \t,\n", true));
    EXPECT_EQ(M.FileSizes, (Lines{"250000", "250000"}));
    ASSERT_TRUE(Parse("a.dll,12,,x\nb.dll,12, \t,\n", false));
    EXPECT_EQ(M.FileSizes, (Lines{"", " \t"}));
    try {
        PrepareEntry(M, 0, Dir.Path());
        FAIL() << "an empty size field must not convert";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'' is not a valid integer value");
    }
}

struct TGiveUp {
    const char* Line;
    const char* Logged;
};

TEST_F(ManifestParse, CorruptLinesGiveUpWithTheirWorkingCopyAndStoreTheManifest) {
    const TGiveUp cases[] = {
        {"a.dll", "Giving up - line corrupt - a.dll"},
        {"a.dll,12", "Giving up - line corrupt for crc - 12"},
        {"a.dll,12,34", "Giving up - line corrupt for size - 34"},
        {"file nam", "Giving up - line corrupt - file nam"},
        {"<html><body>Not Found</body></html>", "Giving up - line corrupt - "
                                                "<html><body>Not Found</body></html>"},
    };
    for (const TGiveUp& c : cases) {
        Log.clear();
        const std::string text =
            "File Name\nok.dll,1,2,\r\n" + std::string(c.Line) + "\rlater.dll,1,2,\n\n";
        EXPECT_FALSE(Parse(text, true)) << c.Line;
        EXPECT_EQ(Log, Lines{c.Logged});
        // Every line as received, unparsed ones included, each with CR LF; blank lines too.
        EXPECT_EQ(Dir.Read("versions.txt"), "File Name\r\nok.dll,1,2,\r\n" + std::string(c.Line) +
                                                "\r\nlater.dll,1,2,\r\n\r\n");
        ASSERT_EQ(Entries().size(), 1u) << "nothing but the stored manifest";
    }
}

TEST_F(ManifestParse, UnsafeNamesGiveUpWithTheWholeLineAndTouchNothing) {
    const char* unsafe[] = {",1,2,",         "\\x.dll,1,2,",      "/etc/passwd,1,2,",
                            "c:x.dll,1,2,",  "C:\\w\\x.dll,1,2,", "..\\x.dll,1,2,",
                            "../x.dll,1,2,", "a/../../b,1,2,",    "a\\..\\..\\b,1,2,",
                            "..,1,2,",       "sub/..,1,2,",       "sub\\..\\,1,2,"};
    for (const char* line : unsafe) {
        Log.clear();
        EXPECT_FALSE(Parse(std::string("good.dll,1,2,\n") + line + "\n", true)) << line;
        EXPECT_EQ(Log, Lines{"Giving up - unsafe file name - " + std::string(line)});
        EXPECT_EQ(Dir.Read("versions.txt"), "good.dll,1,2,\r\n" + std::string(line) + "\r\n");
        EXPECT_EQ(Entries().size(), 1u);
    }
}

// The updater's own folders in the product folder are no entry's: a file there would break
// every later log or stand in the staging folder.
TEST_F(ManifestParse, OwnWorkingNamesGiveUpLikeUnsafeOnes) {
    const std::string tmpInside = Dir.Path() + "tmp/";
    const std::string tmpElsewhere = Dir.Path() + "bin/tmp/";
    const struct {
        const char* Name;
        bool InsideRefused, ElsewhereRefused;
    } cases[] = {
        {"logs", true, true},
        {"LOGS\\KVUpdater.log", true, true},
        {"logs/x", true, true},
        {".\\Logs.\\x", true, true},
        {"logs \\x", true, true},
        {"tmp", true, false},
        {"TMP\\kvupdater.exe", true, false},
        {"tmp//x.cab", true, false},
        {"bin\\tmp\\x", false, true},
        {"bin\\x", false, false},
        {"logsx", false, false},
        {"logs.txt", false, false},
        {"tmpfile", false, false},
        {"x\\logs", false, false},
    };
    for (const auto& c : cases) {
        for (const std::string& tmp : {tmpInside, tmpElsewhere}) {
            const bool refused = tmp == tmpInside ? c.InsideRefused : c.ElsewhereRefused;
            SCOPED_TRACE(std::string(c.Name) + " with staging folder " + tmp);
            EXPECT_EQ(IsOwnWorkingName(c.Name, Dir.Path(), tmp), refused);
            Log.clear();
            M.ManifestLines = {std::string(c.Name) + ",1,2,"};
            EXPECT_EQ(
                ParseManifest(
                    M, true, Dir.Path(), [this](const std::string& s) { Log.push_back(s); }, tmp),
                !refused);
            const Lines said{"Giving up - unsafe file name - " + std::string(c.Name) + ",1,2,"};
            EXPECT_EQ(Log, refused ? said : Lines{});
        }
    }
    // A staging folder outside the product folder leaves "tmp" an ordinary name.
    EXPECT_FALSE(IsOwnWorkingName("tmp\\x", Dir.Path(), "/elsewhere/tmp/"));
}

#ifndef _WIN32 // symbolic links of the host's own making
// A folder level of an entry that is a symbolic link leading out of the product folder
// would have the update act out there: such a name is refused before anything is done.
TEST_F(ManifestParse, FoldersLeadingOutThroughALinkGiveUp) {
    kvtest::TTempDir outside;
    outside.Write("sub/.keep", "");
    ASSERT_EQ(::symlink(outside.Path().c_str(), Dir.File("data").c_str()), 0);
    Dir.Write("real/sub/.keep", "");
    ASSERT_EQ(::symlink("real", Dir.File("inward").c_str()), 0);
    for (const char* line : {"data\\x.dll,1,2,", "DATA/sub/x.dll,1,2,"}) {
        Log.clear();
        EXPECT_FALSE(Parse(std::string("good.dll,1,2,\n") + line + "\n", true)) << line;
        EXPECT_EQ(Log, Lines{"Giving up - unsafe file name - " + std::string(line)});
    }
    // A link that stays inside, and the link's own name as a file, are fine.
    EXPECT_TRUE(Parse("inward\\sub\\x.dll,1,2,\ndata,1,2,\nnew\\x.dll,1,2,\n", true));
    EXPECT_EQ(M.Count(), 3u);
}
#endif

TEST(ManifestNames, SafeNamesStayInsideTheProductFolder) {
    for (const char* name : {"...", "..a", "a..b", "sub\\x.dll", "sub/x.dll", " a.dll", ".hidden",
                             "a.b..", " ..", "ab:c"})
        EXPECT_TRUE(IsSafeManifestName(name)) << name;
}

TEST_F(ManifestParse, StoringReplacesAnOldManifestAndFailsLoudlyWithoutAFolder) {
    Dir.Write("versions.txt", "old contents that are longer than the new ones\r\n");
    EXPECT_FALSE(Parse("bad", true));
    EXPECT_EQ(Dir.Read("versions.txt"), "bad\r\n");
    M.ManifestLines = {"bad"};
    EXPECT_THROW(ParseManifest(M, true, Dir.File("missing/"), nullptr), EInOutError);
}

TEST(CabinetName, ReplacesTheExtensionOfTheFileNamePart) {
    EXPECT_EQ(CabinetName("KVServer.exe"), "KVServer.cab");
    EXPECT_EQ(CabinetName("readme"), "readme.cab");
    EXPECT_EQ(CabinetName("data\\a.b.dll"), "data\\a.b.cab");
    EXPECT_EQ(CabinetName("data.d\\readme"), "data.d\\readme.cab");
    EXPECT_EQ(CabinetName("data.d/readme"), "data.d/readme.cab");
    EXPECT_EQ(CabinetName(".profile"), ".cab");
    EXPECT_EQ(CabinetName("a.b:c"), "a.b:c.cab");
}

TEST(WholeNumbers, ManifestFieldsConvertAsTheFrameworkDoes) {
    EXPECT_EQ(plat::StrToInt("  12"), 12);
    EXPECT_EQ(plat::StrToInt("+5"), 5);
    EXPECT_EQ(plat::StrToInt("-1"), -1);
    EXPECT_EQ(plat::StrToInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(plat::StrToInt("2147483647"), INT32_MAX);
    EXPECT_EQ(plat::StrToInt("$FFFFFFFF"), -1);
    EXPECT_EQ(plat::StrToInt("x10"), 16);
    EXPECT_EQ(plat::StrToInt("0X7fffffff"), INT32_MAX);
    for (const char* bad :
         {"", " 34 ", "12 ", "2147483648", "-2147483649", "$123456789", "1e3", "0x", "--1"}) {
        try {
            plat::StrToInt(bad);
            ADD_FAILURE() << "'" << bad << "' converted";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), "'" + std::string(bad) + "' is not a valid integer value");
        }
    }
}

// Entry checks against a real product folder.
class ManifestEntry : public ManifestParse {};

TEST_F(ManifestEntry, StatusFollowsTheLocalFileAndItsSum) {
    Dir.Write("same.txt", "abc"); // sum 293
    Dir.Write("other.txt", "abd");
    Dir.Write("empty.txt", "");
    Dir.Write("hexempty.txt", "");
    Dir.Write(" blank.txt ", "abc");
    plat::ForceDirectories(Dir.File("folder.txt"));
    ASSERT_TRUE(Parse("same.txt,293,3,\nother.txt,293,3,\nnew.txt,junk,3,\nempty.txt,-1,,\n"
                      "hexempty.txt,$FFFFFFFF,0,\n blank.txt ,293,3,\nfolder.txt,293,3,\n",
                      true));
    const TEntryStatus expected[] = {TEntryStatus::Unchanged, TEntryStatus::Changed,
                                     TEntryStatus::New,       TEntryStatus::Unchanged,
                                     TEntryStatus::Unchanged, TEntryStatus::Unchanged,
                                     TEntryStatus::New};
    for (size_t i = 0; i < M.Count(); ++i) {
        TManifestEntry e = PrepareEntry(M, i, Dir.Path());
        EXPECT_EQ(ClassifyEntry(e), expected[i]) << M.FileNames[i];
    }
    TManifestEntry same = PrepareEntry(M, 0, Dir.Path());
    EXPECT_EQ(same.CabName, "same.cab");
    EXPECT_EQ(same.Size, 3);
    EXPECT_EQ(same.LocalFile, Dir.File("same.txt"));
    EXPECT_EQ(same.LocalSum, 293u);
}

TEST_F(ManifestEntry, ChecksumIsConvertedOnlyForAnExistingFile) {
    Dir.Write("here.txt", "x");
    ASSERT_TRUE(Parse("here.txt,12 ,1,\nmissing.txt,12 ,1,\n", true));
    EXPECT_THROW(ClassifyEntry(PrepareEntry(M, 0, Dir.Path())), EConvertError);
    EXPECT_EQ(ClassifyEntry(PrepareEntry(M, 1, Dir.Path())), TEntryStatus::New);
}

TEST(EntryStatusLine, NamesTheStatus) {
    EXPECT_EQ(EntryStatusLine(TEntryStatus::New, " a "), "Retrieving new file  a ");
    EXPECT_EQ(EntryStatusLine(TEntryStatus::Changed, "b"), "Retrieving changed file b");
    EXPECT_EQ(EntryStatusLine(TEntryStatus::Unchanged, "c"), "Ok - c");
}

TEST(ClearAttributes, MakesAReadOnlyFileReplaceableAndIgnoresMissingFiles) {
    kvtest::TTempDir dir;
    const std::string name = dir.Write("ro.dll", "x");
    ASSERT_TRUE(plat::SetFileAttributes(name, plat::faReadOnly));
    ASSERT_FALSE(plat::DeleteFile(name));
    ClearAttributes(name);
    EXPECT_EQ(plat::GetFileAttributes(name) & plat::faReadOnly, 0u);
    EXPECT_TRUE(plat::DeleteFile(name));
    ClearAttributes(dir.File("missing.dll"));
    EXPECT_FALSE(plat::FileExists(dir.File("missing.dll")));
}

#ifndef _WIN32 // symbolic links of the host's own making
// A product file that is a link to a read-only file elsewhere: the link is the product's,
// the file it points to is not, and keeps its mode.
TEST(ClearAttributes, ActsOnALinkNeverOnWhatItPointsTo) {
    kvtest::TTempDir dir;
    const std::string outside = dir.Write("outside/ro.dll", "x");
    ASSERT_EQ(::chmod(outside.c_str(), 0444), 0);
    ASSERT_EQ(::symlink(outside.c_str(), dir.File("x.dll").c_str()), 0);
    ClearAttributes(dir.File("x.dll"));
    struct stat st;
    ASSERT_EQ(::stat(outside.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
}
#endif

} // namespace
