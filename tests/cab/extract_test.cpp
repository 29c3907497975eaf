// ExtractFile against real cabinets: written by gcab, by TCABFile itself, or put together
// byte by byte for LZX data and unsafe or lying headers.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <sys/resource.h>

#include "cab/cabfiles.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/ui.h"
#include "tests/cab/cab_craft.h"
#include "tests/support/disk.h"
#include "tests/support/support.h"

namespace fs = std::filesystem;
using namespace cabtest;

namespace {

class ExtractTest : public ::testing::Test {
protected:
    kvtest::TTempDir Dir;
    TCABFile Cab;

    void SetUp() override {
        Dir.Write("out/.keep", "");
        Cab.TargetPath = Dir.File("out");
    }

    // Runs gcab -c in a folder of the given files; returns the cabinet's path.
    std::string Gcab(const std::vector<std::pair<std::string, std::string>>& files, bool compress,
                     const std::string& cabName = "g.cab") {
        std::string args;
        for (auto& [name, data] : files) {
            Dir.Write("src/" + name, data);
            args += " '" + name + "'";
        }
        std::string cmd = "cd '" + Dir.File("src") + "' && gcab -c" + (compress ? " -z" : "") +
                          " '" + Dir.File(cabName) + "'" + args + " 2>&1";
        std::string output;
        EXPECT_EQ(kvtest::RunCommand(cmd, &output), 0) << output;
        return Dir.File(cabName);
    }

    std::string Crafted(const std::string& data, const std::string& name = "c.cab") {
        return Dir.Write(name, data);
    }
};

TEST_F(ExtractTest, MissingOrForeignFilesAnswerFalse) {
    Cab.CABFile = Dir.File("absent.cab");
    EXPECT_FALSE(Cab.ExtractFile("a.txt"));
    Cab.CABFile = Dir.Write("empty.cab", "");
    EXPECT_FALSE(Cab.ExtractFile("a.txt"));
    Cab.CABFile = Dir.Write("text.cab", "File Name,Checksum,Size,\r\n");
    EXPECT_FALSE(Cab.ExtractFile("a.txt"));
    Cab.CABFile = Dir.Write("noise.cab", kvtest::RandomBytes(70000, 7));
    EXPECT_FALSE(Cab.ExtractFile("a.txt"));
    Cab.CABFile = Dir.File("out");
    EXPECT_FALSE(Cab.ExtractFile("a.txt"));
}

TEST_F(ExtractTest, StoredAndMszipCabinetsWithSeveralFilesAndFolders) {
    std::vector<std::pair<std::string, std::string>> files = {
        {"a.txt", "abc"},
        {"empty.dat", ""},
        {"big.bin", kvtest::RandomBytes(200000, 1)},
        {"sub/deeper/text.txt", std::string(100000, 'x') + "tail"},
        {"sub/KVUpdater.exe", kvtest::RandomBytes(40000, 2)},
    };
    for (bool compress : {false, true}) {
        SCOPED_TRACE(compress ? "MSZIP" : "stored");
        Cab.CABFile = Gcab(files, compress, compress ? "z.cab" : "s.cab");
        for (auto& [name, data] : files) {
            std::string stored = name;
            for (char& c : stored)
                if (c == '/') c = '\\';
            ASSERT_TRUE(Cab.ExtractFile(stored)) << name;
            EXPECT_EQ(Dir.Read("out/" + name), data) << name;
            fs::remove(Dir.File("out/" + name));
        }
    }
}

TEST_F(ExtractTest, EntryLookupAndDestination) {
    Cab.CABFile = Gcab({{"KVUpdater.exe", "program"}, {"readme.txt", "abc"}}, true);
    // An absent entry: the walk succeeds and nothing is written.
    EXPECT_TRUE(Cab.ExtractFile("other.dll"));
    EXPECT_EQ(std::distance(fs::directory_iterator(Dir.File("out")), {}), 1); // .keep
    // Letter case is ignored; the stored name is the one written.
    EXPECT_TRUE(Cab.ExtractFile("kvupdater.EXE"));
    EXPECT_TRUE(fs::exists(Dir.File("out/KVUpdater.exe")));
    EXPECT_FALSE(fs::exists(Dir.File("out/kvupdater.EXE")));
    EXPECT_EQ(Dir.Read("out/KVUpdater.exe"), "program");
    auto perms = fs::status(Dir.File("out/KVUpdater.exe")).permissions();
    EXPECT_NE(perms & fs::perms::owner_exec, fs::perms::none);
    ASSERT_TRUE(Cab.ExtractFile("readme.txt"));
    EXPECT_EQ(fs::status(Dir.File("out/readme.txt")).permissions() & fs::perms::owner_exec,
              fs::perms::none);
    // A target folder without its separator, and one that does not exist yet.
    Cab.TargetPath = Dir.File("fresh/level");
    ASSERT_TRUE(Cab.ExtractFile("README.TXT"));
    EXPECT_EQ(Dir.Read("fresh/level/readme.txt"), "abc");
}

TEST_F(ExtractTest, EmptyTargetPathWritesBesideTheCurrentFolder) {
    Cab.CABFile = Gcab({{"sub/one.txt", "1"}}, false);
    std::string old = plat::GetCurrentDir();
    ASSERT_TRUE(plat::SetCurrentDir(Dir.File("out")));
    Cab.TargetPath = "";
    bool ok = Cab.ExtractFile("sub\\one.txt");
    plat::SetCurrentDir(old);
    ASSERT_TRUE(ok);
    EXPECT_EQ(Dir.Read("out/sub/one.txt"), "1");
}

TEST_F(ExtractTest, ExistingDestination) {
    Cab.CABFile = Gcab({{"a.txt", "new"}}, true);
    Dir.Write("out/a.txt", "old");
    std::vector<std::string> asked;
    Cab.OnOverWriteFile = [&](TCABFile* sender, const std::string& name, bool& allow) {
        EXPECT_EQ(sender, &Cab);
        asked.push_back(name);
        allow = false;
    };
    EXPECT_TRUE(Cab.ExtractFile("a.txt"));
    EXPECT_EQ(Dir.Read("out/a.txt"), "old");
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(plat::ExtractFileName(asked[0]), "a.txt");

    Cab.OnOverWriteFile = [](TCABFile*, const std::string&, bool&) {};
    EXPECT_TRUE(Cab.ExtractFile("a.txt"));
    EXPECT_EQ(Dir.Read("out/a.txt"), "new");

    // Read-only: neither deleted nor truncated, and the extraction fails.
    Cab.OnOverWriteFile = nullptr;
    Dir.Write("out/a.txt", "locked");
    fs::permissions(Dir.File("out/a.txt"), fs::perms::owner_read | fs::perms::group_read);
    EXPECT_FALSE(Cab.ExtractFile("a.txt"));
    EXPECT_EQ(Dir.Read("out/a.txt"), "locked");
    fs::permissions(Dir.File("out/a.txt"), fs::perms::owner_all);

    // A folder under the destination name: the finished file can't take its place, and the
    // part written under the temporary name goes too.
    Dir.Write("out/b.txt/inside", "");
    Cab.CABFile = Gcab({{"b.txt", "data"}}, true, "b.cab");
    EXPECT_FALSE(Cab.ExtractFile("b.txt"));
    EXPECT_FALSE(Cab.ExtractFailure().empty());
    for (const auto& entry : fs::directory_iterator(Dir.File("out")))
        EXPECT_EQ(entry.path().filename().string().find("~kvpart."), std::string::npos);
}

TEST_F(ExtractTest, LastWriteTimeIsTheStoredDateAsLocalTime) {
    // A zone well away from UTC, so a missing or doubled conversion shows.
    std::string oldTz = getenv("TZ") ? getenv("TZ") : "";
    setenv("TZ", "XST-5", 1);
    tzset();
    TCraftFile f{"dated.txt", 5, 0};
    Cab.CABFile = Crafted(CraftCabinet(0, {f}, StoredBlocks("hello")));
    bool ok = Cab.ExtractFile("dated.txt");
    plat::TDirEntry e;
    bool found = plat::FindEntry(Dir.File("out/dated.txt"), e);
    plat::TSystemTime local;
    plat::UnixToLocal(e.LastWrite, local);
    if (oldTz.empty())
        unsetenv("TZ");
    else
        setenv("TZ", oldTz.c_str(), 1);
    tzset();
    ASSERT_TRUE(ok);
    ASSERT_TRUE(found);
    // 15 June 2020 12:30:20 local = 07:30:20 UTC.
    EXPECT_EQ(e.LastWrite.Seconds, 1592206220);
    EXPECT_EQ(local.Hour, 12);
    EXPECT_EQ(local.Second, 20);
}

TEST_F(ExtractTest, DaysTheMonthDoesNotHaveGiveNoDate) {
    // The date fields are in range, the day is not in the month: the listing gives no date,
    // the file comes out unstamped, and nothing is raised.
    auto packed = [](int year, int month, int day) {
        return static_cast<uint16_t>((year - 1980) << 9 | month << 5 | day);
    };
    const struct {
        uint16_t Date;
        bool Exists;
    } cases[] = {{packed(2020, 6, 30), true},  {packed(2020, 6, 31), false},
                 {packed(2024, 2, 29), true},  {packed(2021, 2, 29), false},
                 {packed(2024, 2, 30), false}, {packed(2021, 12, 31), true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Date);
        TCraftFile f{"dated.txt", 5, 0};
        f.Date = c.Date;
        Cab.CABFile = Crafted(CraftCabinet(0, {f}, StoredBlocks("hello")));
        ASSERT_TRUE(Cab.ReadContents());
        ASSERT_EQ(Cab.CABFileContents.Count(), 1);
        EXPECT_EQ(Cab.CABFileContents[0].EntryDate != 0, c.Exists);
        fs::remove(Dir.File("out/dated.txt"));
        EXPECT_TRUE(Cab.ExtractFile("dated.txt"));
        EXPECT_EQ(Dir.Read("out/dated.txt"), "hello");
    }
}

TEST_F(ExtractTest, DecompressProgressFollowsEveryWrite) {
    std::string data = kvtest::RandomBytes(150000, 3);
    Cab.CABFile = Gcab({{"p.bin", data}, {"q.bin", "zz"}}, true);
    std::vector<int> positions;
    Cab.OnDecompressProgress = [&](TCABFile* sender, const std::string& name, int pos, int tot) {
        EXPECT_EQ(sender, &Cab);
        EXPECT_EQ(name, "p.bin");
        EXPECT_EQ(tot, 150000);
        // Written under a temporary name: the real name appears only once the file is whole.
        EXPECT_EQ(static_cast<int>(fs::file_size(Dir.File("out/~kvpart.p.bin"))), pos);
        EXPECT_FALSE(Dir.Exists("out/p.bin"));
        positions.push_back(pos);
    };
    ASSERT_TRUE(Cab.ExtractFile("P.BIN"));
    ASSERT_GE(positions.size(), 2u);
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_EQ(positions.back(), 150000);
    EXPECT_EQ(Dir.Read("out/p.bin"), data);
    EXPECT_FALSE(Dir.Exists("out/~kvpart.p.bin"));
}

TEST_F(ExtractTest, HandlerExceptionsEndTheExtractionAndReachTheCaller) {
    Cab.CABFile = Gcab({{"p.bin", kvtest::RandomBytes(100000, 4)}}, true);
    Cab.OnDecompressProgress = [](TCABFile*, const std::string&, int, int) {
        throw Exception("stop");
    };
    EXPECT_THROW(Cab.ExtractFile("p.bin"), Exception);
    // Nothing half-written is left, under either name.
    EXPECT_FALSE(Dir.Exists("out/p.bin"));
    EXPECT_FALSE(Dir.Exists("out/~kvpart.p.bin"));
    Cab.OnDecompressProgress = nullptr;
    Dir.Write("out/p.bin", "old");
    Cab.OnOverWriteFile = [](TCABFile*, const std::string&, bool&) { throw Exception("no"); };
    EXPECT_THROW(Cab.ExtractFile("p.bin"), Exception);
    EXPECT_EQ(Dir.Read("out/p.bin"), "old");
}

TEST_F(ExtractTest, ErrorBoxOnlyWhenTheCallItselfFailed) {
    std::string data = kvtest::RandomBytes(100000, 6);
    Cab.CABFile = Gcab({{"w.bin", data}}, true);
    plat::SetPresentation(plat::CreateConsolePresentation());

    // An error code left over from an earlier call brings up nothing.
    plat::SetLastError(5);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(Cab.ExtractFile("w.bin"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    // A write refused by the file size limit: the box (a line on the console) says why.
    auto failingWrite = [&] {
        struct rlimit old;
        getrlimit(RLIMIT_FSIZE, &old);
        struct rlimit small = old;
        small.rlim_cur = 10000;
        auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &small);
        bool ok = Cab.ExtractFile("w.bin");
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldSignal);
        return ok;
    };
    testing::internal::CaptureStderr();
    EXPECT_FALSE(failingWrite());
    std::string shown = testing::internal::GetCapturedStderr();
    EXPECT_EQ(shown.rfind("Error: ", 0), 0u) << shown;
    EXPECT_NE(shown.find(plat::SysErrorMessage(plat::syserr::FileTooLarge)), std::string::npos)
        << shown;
    EXPECT_FALSE(fs::exists(Dir.File("out/w.bin")));

    // Never in silent mode.
    plat::Presentation().SetSilent();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(failingWrite());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    plat::SetPresentation(plat::CreateConsolePresentation());
}

// A cabinet may declare far more than its few bytes suggest: an entry that would not leave
// the margin free on the target's file system is refused before a byte of it is written.
TEST_F(ExtractTest, EntriesThatWouldFillTheDiskAreRefusedBeforeAByteIsWritten) {
    kvtest::TTmpfs disk(Dir.File("small"), 8 << 20);
    if (!disk.Ok()) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
    Cab.TargetPath = Dir.File("small");
    const uint64_t room = disk.FreeBytes() - UnpackDiskMargin;
    // The last row's entry would fit beside what the disk held at the last look, and within
    // half of it, but the program itself has written more there since (as it stores a fetched
    // cabinet): the free space is asked again.
    const uint64_t half = room / 2 - UnpackDiskMargin;
    struct TCase {
        const char* Name;
        uint64_t Size, WrittenBefore;
        bool Fits;
    } cases[] = {
        {"leaves the margin", room - 4096, 0, true},
        {"eats into the margin", room + 4096, 0, false},
        {"eats into it after the program's own writes", half, room - half + 4096, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        // Zeros pack to a few kilobytes.
        Cab.CABFile = Gcab({{"z.bin", std::string(c.Size, '\0')}}, true, "z.cab");
        if (c.WrittenBefore) {
            plat::TFile own(plat::FileCreate(Dir.File("small/own.bin")));
            const std::string bytes(c.WrittenBefore, 'w');
            ASSERT_EQ(plat::FileWrite(own.Get(), bytes.data(), bytes.size()),
                      int64_t(bytes.size()));
        }
        int writes = 0;
        Cab.OnDecompressProgress = [&](TCABFile*, const std::string&, int, int) { ++writes; };
        EXPECT_EQ(Cab.ExtractFile("z.bin"), c.Fits);
        Cab.OnDecompressProgress = nullptr; // it counts into this scope's variable
        EXPECT_EQ(Cab.ExtractFailure(), c.Fits ? "" : "There is not enough space on the disk");
        EXPECT_EQ(writes > 0, c.Fits);
        EXPECT_EQ(fs::exists(Dir.File("small/z.bin")), c.Fits);
        fs::remove(Dir.File("small/z.bin"));
    }
}

TEST_F(ExtractTest, LzxCabinets) {
    // One frame, and a block that runs over a frame boundary and two data blocks.
    for (size_t size : {20000u, 40000u}) {
        SCOPED_TRACE(size);
        std::string data = kvtest::RandomBytes(size, static_cast<uint32_t>(size));
        std::string stream = LzxUncompressedStream(data);
        std::vector<TCraftBlock> blocks;
        if (size <= 32768) {
            blocks.push_back({stream, static_cast<uint16_t>(size)});
        } else {
            size_t cut = stream.size() - (size - 32768);
            blocks.push_back({stream.substr(0, cut), 32768});
            blocks.push_back({stream.substr(cut), static_cast<uint16_t>(size - 32768)});
        }
        TCraftFile f{"lzx.bin", static_cast<uint32_t>(size), 0};
        Cab.CABFile = Crafted(CraftCabinet(3 | 15 << 8, {f}, blocks));
        ASSERT_TRUE(Cab.ExtractFile("lzx.bin"));
        EXPECT_EQ(Dir.Read("out/lzx.bin"), data);
    }
}

TEST_F(ExtractTest, QuantumCabinets) {
    // Long enough for every model to be rescaled and re-sorted, over several frames.
    std::string text;
    for (int i = 0; text.size() < 100000; ++i) text += "Quantum line " + std::to_string(i) + "\r\n";
    text.resize(100000);
    text[7] = '\0';
    text[8] = '\xFF';
    text[9] = '\x80';
    for (uint16_t window : {10, 15, 21}) {
        SCOPED_TRACE(window);
        TCraftFile f{"q.txt", 100000, 0};
        Cab.CABFile = Crafted(CraftCabinet(static_cast<uint16_t>(2 | 4 << 4 | window << 8), {f},
                                           TQuantumLiterals().Encode(text)));
        ASSERT_TRUE(Cab.ExtractFile("q.txt"));
        EXPECT_TRUE(Dir.Read("out/q.txt") == text);
        std::string viaCabextract;
        EXPECT_EQ(kvtest::RunCommand("cabextract -q -p '" + Cab.CABFile + "'", &viaCabextract), 0);
        EXPECT_TRUE(viaCabextract == text);
    }
}

TEST_F(ExtractTest, QuantumNoiseAndUnknownMethods) {
    // The Quantum decoder has no check of its own: a Quantum folder of noise unpacks to
    // noise of the stated size, without a crash or a hang.
    TCraftFile f{"q.bin", 30000, 0};
    Cab.CABFile =
        Crafted(CraftCabinet(2 | 4 << 4 | 15 << 8, {f}, {{kvtest::RandomBytes(20000, 2), 30000}}));
    if (Cab.ExtractFile("q.bin")) {
        EXPECT_EQ(fs::file_size(Dir.File("out/q.bin")), 30000u);
    }
    fs::remove(Dir.File("out/q.bin"));
    // A method the library does not know fails and leaves nothing behind.
    Cab.CABFile = Crafted(CraftCabinet(7, {f}, {{kvtest::RandomBytes(20000, 7), 30000}}));
    EXPECT_FALSE(Cab.ExtractFile("q.bin"));
    EXPECT_FALSE(fs::exists(Dir.File("out/q.bin")));
}

TEST_F(ExtractTest, UnsafeStoredNamesAreSkipped) {
    for (std::string name : {"../evil.txt", "..\\evil.txt", "/tmp/evil.txt", "\\evil.txt",
                             "a/../../evil.txt", "a\\..\\..\\evil.txt", "c:evil.txt", ".."}) {
        SCOPED_TRACE(name);
        TCraftFile f{name, 4, 0};
        Cab.CABFile = Crafted(CraftCabinet(0, {f}, StoredBlocks("evil")));
        Cab.TargetPath = Dir.File("out/deep/");
        EXPECT_TRUE(Cab.ExtractFile(name));
        EXPECT_FALSE(fs::exists(Dir.File("out/evil.txt")));
        EXPECT_FALSE(fs::exists(Dir.File("evil.txt")));
        EXPECT_FALSE(fs::exists("/tmp/evil.txt"));
        EXPECT_FALSE(fs::exists(Dir.File("out/deep/c:evil.txt")));
    }
    // A name that only looks like a climb is fine.
    TCraftFile f{"a..b\\..c", 4, 0};
    Cab.CABFile = Crafted(CraftCabinet(0, {f}, StoredBlocks("okay")));
    Cab.TargetPath = Dir.File("out");
    EXPECT_TRUE(Cab.ExtractFile("a..b\\..c"));
    EXPECT_EQ(Dir.Read("out/a..b/..c"), "okay");
}

TEST_F(ExtractTest, HeadersThatLie) {
    std::string data = kvtest::RandomBytes(50000, 9);
    auto blocks = StoredBlocks(data);
    struct TCase {
        const char* What;
        std::string Cab;
    };
    TCraftFile past{"f.bin", 50000, 40000};   // runs past the folder's data
    TCraftFile huge{"f.bin", 0xFFFFFFF0u, 0}; // absurd size
    TCraftFile badFolder{"f.bin", 10, 0, 5};  // folder that does not exist
    TCraftFile fine{"f.bin", 50000, 0};
    std::vector<TCase> cases = {
        {"file past data", CraftCabinet(0, {past}, blocks)},
        {"huge file", CraftCabinet(0, {huge}, blocks)},
        {"bad folder", CraftCabinet(0, {badFolder}, blocks)},
        {"block says more", CraftCabinet(0, {fine}, {{blocks[0].Data, 40000}, blocks[1]})},
    };
    std::string many = CraftCabinet(0, {fine}, blocks);
    many[28] = '\xFF'; // 65535 files
    many[29] = '\xFF';
    cases.push_back({"file count", many});
    std::string blocksCount = CraftCabinet(0, {fine}, blocks);
    blocksCount[36 + 4] = '\xFF'; // data block count
    cases.push_back({"block count", blocksCount});
    std::string offset = CraftCabinet(0, {fine}, blocks);
    offset[16] = '\xF0'; // file records far beyond the end
    offset[19] = '\x7F';
    cases.push_back({"file offset", offset});
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        Cab.CABFile = Crafted(c.Cab);
        bool ok = Cab.ExtractFile("f.bin");
        if (ok && fs::exists(Dir.File("out/f.bin"))) {
            EXPECT_EQ(Dir.Read("out/f.bin"), data.substr(0, fs::file_size(Dir.File("out/f.bin"))));
        }
        fs::remove(Dir.File("out/f.bin"));
    }
}

TEST_F(ExtractTest, CutAndBitFlippedCabinets) {
    std::string data = kvtest::RandomBytes(60000, 5) + std::string(60000, 'a');
    std::string good = kvtest::ReadFile(Gcab({{"a.txt", "abc"}, {"f.bin", data}}, true));
    ASSERT_GT(good.size(), 1000u);
    // Every cut loses part of the last file: never a success that delivers it.
    for (size_t cut = 0; cut < good.size(); cut += cut < 200 ? 7 : 997) {
        SCOPED_TRACE(cut);
        Cab.CABFile = Crafted(good.substr(0, cut), "cut.cab");
        EXPECT_FALSE(Cab.ExtractFile("f.bin") && Dir.Read("out/f.bin") == data);
        fs::remove(Dir.File("out/f.bin"));
    }
    // A cut inside the file's data fails and leaves no half-written file behind.
    Cab.CABFile = Crafted(good.substr(0, good.size() - 100), "cut.cab");
    EXPECT_FALSE(Cab.ExtractFile("f.bin"));
    EXPECT_FALSE(fs::exists(Dir.File("out/f.bin")));

    uint32_t seed = 12345;
    for (int round = 0; round < 300; ++round) {
        std::string bad = good;
        for (int flips = 0; flips < 1 + round % 4; ++flips) {
            seed = seed * 1103515245u + 12345u;
            size_t at = (seed >> 8) % bad.size();
            bad[at] = static_cast<char>(bad[at] ^ (1 << ((seed >> 3) % 8)));
        }
        Cab.CABFile = Crafted(bad, "flip.cab");
        Cab.ExtractFile("f.bin");
        Cab.ExtractFile("a.txt");
        fs::remove(Dir.File("out/f.bin"));
        fs::remove(Dir.File("out/a.txt"));
    }
    // Whatever the damage, nothing lands outside the target.
    for (auto& e : fs::directory_iterator(Dir.Path()))
        EXPECT_TRUE(e.path().filename() == "out" || e.path().filename() == "src" ||
                    e.path().extension() == ".cab")
            << e.path();
}

TEST_F(ExtractTest, ReadContentsListsEntriesWithoutUnpacking) {
    Cab.CABFile = Gcab({{"a.txt", "abc"}, {"sub/b.dll", std::string(5000, 'b')}}, true);
    ASSERT_TRUE(Cab.ReadContents());
    ASSERT_EQ(Cab.CABFileContents.Count(), 2);
    EXPECT_EQ(Cab.CABFileContents[0].Name, "a.txt");
    EXPECT_EQ(Cab.CABFileContents[0].EntrySize, 3);
    EXPECT_EQ(Cab.CABFileContents[1].Name, "b.dll");
    EXPECT_EQ(Cab.CABFileContents[1].RelPath, "sub\\");
    EXPECT_GT(Cab.CABFileContents[1].EntryDate, 40000.0); // after 2009
    EXPECT_FALSE(fs::exists(Dir.File("out/a.txt")));
    Cab.CABFile = Dir.File("absent.cab");
    EXPECT_FALSE(Cab.ReadContents());
}

} // namespace
