// ExtractFile through the system's cabinet.dll, every callback of ours under the real library:
// stored and MSZIP cabinets that gcab made on the host (the gcab_cabinets fixture), cabinets
// put together byte by byte, handlers that raise inside the library's walk, destinations that
// are read-only or held open by another program.
#include "platform/win32/win32_api.h" // before the rest: the macros of its names go

#include <gtest/gtest.h>

#include "cab/cabfiles.h"
#include "fileinfo/file_info.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tests/cab/cab_craft.h"
#include "tests/support/support.h"

using namespace cabtest;

namespace {

const std::string Cabinets = kvtest::WinePath(KV_GCAB_CABINETS) + "\\";

class ExtractWin32 : public ::testing::Test {
protected:
    kvtest::TTempDir Dir;
    TCABFile Cab;

    void SetUp() override { Cab.TargetPath = Dir.File("out"); }
    std::string Source(const std::string& name) {
        return kvtest::ReadFile(Cabinets + "src\\" + name);
    }
    bool Exists(const std::string& rel) { return Dir.Exists(rel); }
};

TEST_F(ExtractWin32, StoredAndMszipCabinetsComeOutWholeUnderTheirStoredNamesAndDates) {
    const char* const names[] = {"a.txt", "empty.dat", "big.bin", "sub\\deeper\\text.txt",
                                 "sub\\KVUpdater.exe"};
    for (const char* cab : {"stored.cab", "mszip.cab"}) {
        SCOPED_TRACE(cab);
        Cab.CABFile = Cabinets + cab;
        ASSERT_TRUE(Cab.ReadContents());
        ASSERT_EQ(Cab.CABFileContents.Count(), 5);
        for (int i = 0; i < 5; ++i) {
            const TCABFileEntry& entry = Cab.CABFileContents[i];
            const std::string name = names[i];
            SCOPED_TRACE(name);
            EXPECT_EQ(entry.RelPath + entry.Name, name);
            // Asked for in another letter case; written under the stored name.
            ASSERT_TRUE(Cab.ExtractFile(plat::UpperCase(name)));
            EXPECT_TRUE(Cab.ExtractFailure().empty()) << Cab.ExtractFailure();
            EXPECT_TRUE(Dir.Read("out\\" + name) == Source(name));
            plat::TDirEntry found;
            ASSERT_TRUE(plat::FindEntry(Dir.File("out\\" + name), found));
            EXPECT_EQ(found.Name, entry.Name);
            // The close-file notification's date, taken as local time, is the file's stamp.
            EXPECT_DOUBLE_EQ(FileTimeToDateTime(found.LastWrite, false), entry.EntryDate);
            EXPECT_FALSE(Exists("out\\" + plat::ExtractFilePath(name) + "~kvpart." + entry.Name));
        }
        // An entry that isn't there: the walk succeeds, nothing comes out.
        EXPECT_TRUE(Cab.ExtractFile("other.dll"));
        EXPECT_EQ(Cab.ExtractFailure(), "not in the cabinet");
    }
}

TEST_F(ExtractWin32, DestinationsThatMayNotBeReplaced) {
    Cab.CABFile = Cabinets + "mszip.cab";
    Dir.Write("out\\a.txt", "old");
    // The handler says no: the walk succeeds and the file stays.
    Cab.OnOverWriteFile = [](TCABFile*, const std::string&, bool& allow) { allow = false; };
    EXPECT_TRUE(Cab.ExtractFile("a.txt"));
    EXPECT_EQ(Dir.Read("out\\a.txt"), "old");
    Cab.OnOverWriteFile = nullptr;

    // The reasons are the system's texts for its codes (Wine's own words under Wine).
    const struct {
        const char* What;
        DWORD Share; // of another program's open handle, or none
        bool ReadOnly;
        int Failure;
    } rows[] = {
        {"read-only", 0, true, plat::syserr::AccessDenied},
        {"held open by another program", FILE_SHARE_READ, false, plat::syserr::SharingViolation},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.What);
        const std::string dest = Dir.Write("out\\a.txt", "kept");
        HANDLE held = INVALID_HANDLE_VALUE;
        if (row.ReadOnly)
            ASSERT_TRUE(plat::SetFileAttributes(dest, plat::faReadOnly));
        else
            held = ::CreateFileA(dest.c_str(), GENERIC_READ, row.Share, nullptr, OPEN_EXISTING, 0,
                                 nullptr);
        EXPECT_FALSE(Cab.ExtractFile("a.txt"));
        EXPECT_EQ(Cab.ExtractFailure(), plat::SystemErrorText(row.Failure));
        if (held != INVALID_HANDLE_VALUE) ::CloseHandle(held);
        plat::SetFileAttributes(dest, plat::faArchive);
        EXPECT_EQ(Dir.Read("out\\a.txt"), "kept");
        EXPECT_FALSE(Exists("out\\~kvpart.a.txt"));
    }
}

TEST_F(ExtractWin32, ProgressFollowsEveryWriteAndHandlerExceptionsComeOutAfterTheWalk) {
    Cab.CABFile = Cabinets + "p.cab";
    std::vector<int> positions;
    Cab.OnDecompressProgress = [&](TCABFile* sender, const std::string& name, int pos, int tot) {
        EXPECT_EQ(sender, &Cab);
        EXPECT_EQ(name, "p.bin");
        EXPECT_EQ(tot, 150000);
        positions.push_back(pos);
    };
    ASSERT_TRUE(Cab.ExtractFile("P.BIN"));
    ASSERT_GE(positions.size(), 2u);
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_EQ(positions.back(), 150000);
    EXPECT_TRUE(Dir.Read("out\\p.bin") == Source("p.bin"));

    // Raised inside the library's walk, in the write callback or the copy-file notification:
    // it waits there, ends the walk and reaches the caller, nothing half-written left.
    ASSERT_TRUE(plat::DeleteFile(Dir.File("out\\p.bin")));
    Cab.OnDecompressProgress = [](TCABFile*, const std::string&, int, int) {
        throw Exception("stop");
    };
    EXPECT_THROW(Cab.ExtractFile("p.bin"), Exception);
    EXPECT_FALSE(Exists("out\\p.bin"));
    EXPECT_FALSE(Exists("out\\~kvpart.p.bin"));
    Cab.OnDecompressProgress = nullptr;
    Dir.Write("out\\p.bin", "old");
    Cab.OnOverWriteFile = [](TCABFile*, const std::string&, bool&) { throw Exception("no"); };
    EXPECT_THROW(Cab.ExtractFile("p.bin"), Exception);
    EXPECT_EQ(Dir.Read("out\\p.bin"), "old");
}

TEST_F(ExtractWin32, DamagedAndHostileCabinets) {
    const std::string good = kvtest::ReadFile(Cabinets + "mszip.cab");
    const std::string last = Source("sub\\KVUpdater.exe");
    // Every cut loses part of the last file: never a success that delivers it whole.
    for (size_t cut = 0; cut < good.size(); cut += cut < 200 ? 13 : 4999) {
        SCOPED_TRACE(cut);
        Cab.CABFile = Dir.Write("cut.cab", good.substr(0, cut));
        EXPECT_FALSE(Cab.ExtractFile("sub\\KVUpdater.exe") &&
                     Dir.Read("out\\sub\\KVUpdater.exe") == last);
        plat::DeleteFile(Dir.File("out\\sub\\KVUpdater.exe"));
        EXPECT_FALSE(Exists("out\\sub\\~kvpart.KVUpdater.exe"));
    }
    // A byte of a block's data changed: its checksum no longer holds, and nothing of the
    // cabinet comes out, not even its whole files (Wine's library would unpack it all).
    for (size_t back : {size_t(100), size_t(5000)}) {
        std::string flipped = good;
        flipped[flipped.size() - back] ^= 0x10;
        Cab.CABFile = Dir.Write("flipped.cab", flipped);
        EXPECT_FALSE(Cab.ExtractFile("sub\\KVUpdater.exe")) << back;
        EXPECT_EQ(Cab.ExtractFailure(), "damaged cabinet");
        EXPECT_FALSE(Exists("out\\sub\\KVUpdater.exe"));
        EXPECT_FALSE(Cab.ExtractFile("a.txt"));
        EXPECT_FALSE(Exists("out\\a.txt"));
    }
    // Stored names that climb out of the target folder are skipped.
    for (std::string name : {"..\\evil.txt", "\\evil.txt", "a\\..\\..\\evil.txt", "c:evil.txt"}) {
        SCOPED_TRACE(name);
        Cab.CABFile = Dir.Write("evil.cab", CraftCabinet(0, {{name, 4, 0}}, StoredBlocks("evil")));
        Cab.TargetPath = Dir.File("out\\deep\\");
        EXPECT_TRUE(Cab.ExtractFile(name));
        EXPECT_FALSE(Exists("out\\evil.txt"));
        EXPECT_FALSE(Exists("evil.txt"));
    }
    // Files that are no cabinets at all.
    Cab.TargetPath = Dir.File("out");
    for (const std::string& bytes : {std::string(), std::string("File Name,Checksum,Size,\r\n"),
                                     kvtest::RandomBytes(70000, 7)}) {
        Cab.CABFile = Dir.Write("noise.cab", bytes);
        EXPECT_FALSE(Cab.ExtractFile("a.txt"));
    }
    Cab.CABFile = Dir.File("absent.cab");
    EXPECT_FALSE(Cab.ExtractFile("a.txt"));
    EXPECT_EQ(Cab.ExtractFailure(), plat::SystemErrorText(plat::syserr::FileNotFound));
}

} // namespace
