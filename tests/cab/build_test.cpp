// Building one-file cabinets: what TCABFile writes must come back byte for byte through
// ExtractFile and through cabextract, and the same input must give the same bytes.
#include <gtest/gtest.h>

#include <filesystem>

#include "cab/cabfiles.h"
#include "cab/cabinet_build.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "tests/support/support.h"

namespace fs = std::filesystem;

namespace {

class BuildTest : public ::testing::Test {
protected:
    kvtest::TTempDir Dir;
    TCABFile Cab;

    std::string CabextractOutput(const std::string& cab) {
        std::string out;
        EXPECT_EQ(kvtest::RunCommand("cabextract -q -p '" + cab + "' 2>/dev/null", &out), 0);
        return out;
    }
};

TEST_F(BuildTest, RoundTripThroughBothReaders) {
    std::vector<std::pair<size_t, bool>> cases = {
        {0, true},     {1, true},      {4096, true},    {32767, true},   {32768, true},
        {32769, true}, {100000, true}, {100000, false}, {3 << 20, true}, {(3 << 20) + 5, false},
    };
    int n = 0;
    for (auto [size, random] : cases) {
        for (TCompressionType type : {typMSZIP, typNone}) {
            SCOPED_TRACE(std::to_string(size) + (random ? " random " : " text ") +
                         (type == typMSZIP ? "mszip" : "none"));
            std::string data = random ? kvtest::RandomBytes(size, static_cast<uint32_t>(size))
                                      : std::string(size, 'k');
            std::string name = "file" + std::to_string(n++) + ".dll";
            std::string src = Dir.Write("src/" + name, data);
            Cab.CABFile = Dir.File("site/f.cab");
            fs::create_directories(Dir.File("site"));
            Cab.CompressionType = type;
            Cab.CompressFile(src, name);
            EXPECT_EQ(CabextractOutput(Cab.CABFile), data);
            Cab.TargetPath = Dir.File("out");
            ASSERT_TRUE(Cab.ExtractFile(name));
            EXPECT_EQ(Dir.Read("out/" + name), data);
            if (type == typMSZIP && !random && size > 1000) {
                EXPECT_LT(fs::file_size(Cab.CABFile), size / 10);
            }
        }
    }
}

TEST_F(BuildTest, SameInputSameBytesAndTheFileDate) {
    std::string src = Dir.Write("src/KVServer.exe", kvtest::RandomBytes(70000, 11));
    plat::TUnixTime when{1700000001, 500000000}; // odd second: stored in steps of two
    ASSERT_TRUE(plat::SetFileLastWriteTime(src, when));
    Cab.CABFile = Dir.File("one.cab");
    Cab.CompressFile(src, "KVServer.exe");
    std::string first = kvtest::ReadFile(Cab.CABFile);
    Cab.CABFile = Dir.File("two.cab");
    Cab.CompressFile(src, "KVServer.exe");
    EXPECT_EQ(kvtest::ReadFile(Cab.CABFile), first);

    cab::TCabinetSummary s;
    ASSERT_TRUE(cab::ReadCabinetSummary(Cab.CABFile, s));
    plat::TSystemTime local;
    ASSERT_TRUE(plat::UnixToLocal(when, local));
    EXPECT_EQ(s.StoredName, "KVServer.exe");
    EXPECT_EQ(s.Size, 70000u);
    EXPECT_EQ(s.Compression, 1);
    EXPECT_EQ(s.Date, cab::PackDate(local));
    EXPECT_EQ(s.Time, cab::PackTime(local));

    // Unpacked, the file carries that date back, to the even second.
    Cab.TargetPath = Dir.File("out");
    ASSERT_TRUE(Cab.ExtractFile("kvserver.exe"));
    plat::TDirEntry e;
    ASSERT_TRUE(plat::FindEntry(Dir.File("out/KVServer.exe"), e));
    EXPECT_EQ(e.LastWrite.Seconds, 1700000000);

    // A later date changes the bytes.
    ASSERT_TRUE(plat::SetFileLastWriteTime(src, {1700000100, 0}));
    Cab.CompressFile(src, "KVServer.exe");
    EXPECT_NE(kvtest::ReadFile(Cab.CABFile), first);
}

TEST_F(BuildTest, StoredNameWithFolderPart) {
    std::string src = Dir.Write("src/x.dll", "data");
    Cab.CABFile = Dir.File("x.cab");
    Cab.CompressFile(src, "sub/x.dll");
    Cab.TargetPath = Dir.File("out");
    ASSERT_TRUE(Cab.ExtractFile("SUB\\X.DLL"));
    EXPECT_EQ(Dir.Read("out/sub/x.dll"), "data");
}

TEST_F(BuildTest, CompressProgressRunsToTheTotal) {
    std::string src = Dir.Write("src/p.bin", kvtest::RandomBytes(200000, 12));
    std::vector<std::pair<int, int>> seen;
    Cab.OnCompressProgress = [&](TCABFile* sender, int pos, int tot) {
        EXPECT_EQ(sender, &Cab);
        seen.emplace_back(pos, tot);
    };
    Cab.CABFile = Dir.File("p.cab");
    Cab.CompressFile(src, "p.bin");
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen.front(), std::make_pair(0, 200000));
    EXPECT_EQ(seen.back(), std::make_pair(200000, 200000));
}

TEST_F(BuildTest, FailuresRaiseAndLeaveNothingBehind) {
    std::string src = Dir.Write("src/a.txt", "abc");
    Cab.CABFile = Dir.File("a.cab");
    Cab.CompressionType = typLZX;
    EXPECT_THROW(Cab.CompressFile(src, "a.txt"), ECABFileError);
    EXPECT_FALSE(fs::exists(Cab.CABFile));

    Cab.CompressionType = typMSZIP;
    EXPECT_THROW(Cab.CompressFile(Dir.File("src/absent.txt"), "absent.txt"), ECABFileError);
    EXPECT_THROW(Cab.CompressFile(Dir.File("src"), "src"), ECABFileError);
    EXPECT_FALSE(fs::exists(Cab.CABFile));

    // The cabinet's folder is a file: nothing can be written there.
    Dir.Write("blocker", "");
    Cab.CABFile = Dir.File("blocker/a.cab");
    EXPECT_THROW(Cab.CompressFile(src, "a.txt"), ECABFileError);

    // A failed rebuild keeps the earlier cabinet whole.
    Cab.CABFile = Dir.File("a.cab");
    Cab.CompressFile(src, "a.txt");
    std::string before = kvtest::ReadFile(Cab.CABFile);
    EXPECT_THROW(Cab.CompressFile(Dir.File("src/absent.txt"), "a.txt"), ECABFileError);
    EXPECT_EQ(kvtest::ReadFile(Cab.CABFile), before);
    for (auto& e : fs::directory_iterator(Dir.Path()))
        EXPECT_EQ(e.path().string().find("kvtmp"), std::string::npos) << e.path();
}

} // namespace
