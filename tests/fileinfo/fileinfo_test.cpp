#include <gtest/gtest.h>

#include "fileinfo/file_info.h"
#include "images.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/ui.h"
#include "tests/support/support.h"

namespace {

// The console presentation, counting the beeps that pass through it.
class TCountingPresentation : public plat::TPresentation {
public:
    int Beeps = 0;
    void Attach(plat::TWindowSettings& w, plat::TProgressBar& a, plat::TProgressBar& b,
                plat::TMemo& log) override {
        FInner->Attach(w, a, b, log);
    }
    void SetCaption(const std::string& c) override { FInner->SetCaption(c); }
    std::string Caption() const override { return FInner->Caption(); }
    void Show() override { FInner->Show(); }
    void SetSilent() override { FInner->SetSilent(); }
    bool Silent() const override { return FInner->Silent(); }
    void SetIcon(const std::string& name) override { FInner->SetIcon(name); }
    void Beep() override { ++Beeps; }
    void ShowError(const std::string& m) override { FInner->ShowError(m); }
    void ShowMessage(const std::string& c, const std::string& t, plat::TMessageKind k) override {
        FInner->ShowMessage(c, t, k);
    }
    int StartTimer(unsigned ms, bool periodic, std::function<void()> h) override {
        return FInner->StartTimer(ms, periodic, std::move(h));
    }
    void StopTimer(int id) override { FInner->StopTimer(id); }
    void Post(std::function<void()> h) override { FInner->Post(std::move(h)); }
    void ProcessMessages() override { FInner->ProcessMessages(); }
    void WaitForSocket(plat::TSocket s, bool r, bool w) override { FInner->WaitForSocket(s, r, w); }
    void Run() override { FInner->Run(); }
    void Quit() override { FInner->Quit(); }
    bool Terminated() const override { return FInner->Terminated(); }

private:
    std::unique_ptr<plat::TPresentation> FInner = plat::CreateConsolePresentation();
};

class FileInfo_ : public ::testing::Test {
protected:
    void SetUp() override {
        auto p = std::make_unique<TCountingPresentation>();
        Presentation = p.get();
        plat::SetPresentation(std::move(p));
        OldDir = plat::GetCurrentDir();
    }
    void TearDown() override {
        plat::SetCurrentDir(OldDir);
        plat::SetPresentation(plat::CreateConsolePresentation());
    }
    double LocalDateTime(plat::TUnixTime t) {
        plat::TSystemTime local;
        EXPECT_TRUE(plat::UnixToLocal(t, local));
        return plat::EncodeDateTime(local);
    }

    TCountingPresentation* Presentation = nullptr;
    std::string OldDir;
    kvtest::TTempDir Dir;
    TFileInfo Info;
};

TEST_F(FileInfo_, OwnProgramCarriesTheProjectVersion) {
    Info.SetFilename(plat::ProgramFileName());
    EXPECT_EQ(Info.Version.Major, 4);
    EXPECT_EQ(Info.Version.Minor, 5);
    EXPECT_EQ(Info.Version.Release, 0);
    EXPECT_EQ(Info.Version.Build, 1);
    EXPECT_EQ(Info.Version.Text, "4.5 Release 0 Build 1");
    EXPECT_EQ(Info.Path, plat::ProgramDir());
#ifdef _WIN32
    // Read by version.dll from our version resource; the system's short name of a long one.
    EXPECT_EQ(Info.Short, "fileinfo_tests.exe");
    EXPECT_EQ(Info.Drive, Info.Path.substr(0, 3));
    EXPECT_EQ(Info.Drive[1], ':');
    EXPECT_NE(Info.DOS83, "FILEINFO_TESTS.EXE");
    EXPECT_LE(Info.DOS83.size(), 12u);
    EXPECT_EQ(Info.DOS83.substr(Info.DOS83.size() - 4), ".EXE");
#else
    EXPECT_EQ(Info.Short, "fileinfo_tests");
    EXPECT_EQ(Info.Drive, "") << "a POSIX path names no drive";
    EXPECT_EQ(Info.DOS83, "FILEINFO_TESTS");
#endif
    EXPECT_GT(Info.Size, 0);
    EXPECT_EQ(Presentation->Beeps, 0);
}

TEST_F(FileInfo_, PeVersionResourceGivesTheTextForm) {
    Info.SetFilename(Dir.Write("Setup.EXE", kvtest::PeImage({4, 4, 2, 35})));
    EXPECT_EQ(Info.Version.Text, "4.4 Release 2 Build 35");
    EXPECT_EQ(Info.Extension, ".EXE");
    EXPECT_EQ(Info.WithoutExtension, "Setup");
    EXPECT_EQ(Info.DOS83, "SETUP.EXE");
}

TEST_F(FileInfo_, MissingFileLeavesEverythingEmptyAndBeeps) {
    Info.SetFilename(Dir.Write("a.txt", "abc"));
    Info.SetFilename(Dir.File("missing.txt"));
    EXPECT_EQ(Info.Filename(), Dir.File("missing.txt"));
    EXPECT_EQ(Info.Version.Major + Info.Version.Minor + Info.Version.Release + Info.Version.Build,
              0);
    EXPECT_EQ(Info.Version.Text, "");
    for (const std::string* s : {&Info.Short, &Info.Extension, &Info.WithoutExtension, &Info.Path,
                                 &Info.Drive, &Info.DOS83})
        EXPECT_EQ(*s, "");
    EXPECT_EQ(Info.Size, 0);
    EXPECT_EQ(Info.TimeStamp.Creation + Info.TimeStamp.LastWrite + Info.TimeStamp.LastAccess, 0);
    EXPECT_EQ(Presentation->Beeps, 1);
}

TEST_F(FileInfo_, NamePartsSizeAndTimes) {
    const std::string name = Dir.Write("sub/archive.tar.gz", "12345");
    const plat::TUnixTime written{1089000000, 250000000}; // July 2004
    ASSERT_TRUE(plat::SetFileLastWriteTime(name, written));
    Info.SetFilename(name);
    EXPECT_EQ(Info.Version.Text, "0.0 Release 0 Build 0");
    EXPECT_EQ(Info.Short, "archive.tar.gz");
    EXPECT_EQ(Info.Extension, ".gz");
    EXPECT_EQ(Info.WithoutExtension, "archive.tar");
    EXPECT_EQ(Info.Path, Dir.File("sub/"));
    EXPECT_EQ(Info.Size, 5);
    EXPECT_DOUBLE_EQ(Info.TimeStamp.LastWrite, LocalDateTime(written));
    EXPECT_GT(Info.TimeStamp.LastAccess, 0);
    plat::TDirEntry entry;
    ASSERT_TRUE(plat::FindEntry(name, entry));
    if (entry.HasCreation)
        EXPECT_DOUBLE_EQ(Info.TimeStamp.Creation, LocalDateTime(entry.Creation));
    else
        EXPECT_EQ(Info.TimeStamp.Creation, 0);

    Info.SetFilename(Dir.Write("noext", "x"));
    EXPECT_EQ(Info.Extension, "");
    EXPECT_EQ(Info.WithoutExtension, "noext");
    // Writing the same name again computes everything again.
    Dir.Write("noext", "longer");
    Info.SetFilename(Info.Filename());
    EXPECT_EQ(Info.Size, 6);
}

TEST_F(FileInfo_, BackslashSeparatesFoldersToo) {
    Dir.Write("sub/f.txt", "x");
    Info.SetFilename(Dir.Path() + "sub\\f.txt");
    EXPECT_EQ(Info.Short, "f.txt");
    EXPECT_EQ(Info.Path, Dir.Path() + "sub\\");
}

TEST_F(FileInfo_, BareNameTakesTheProgramFolderNotTheCurrentOne) {
    Dir.Write("bare.txt", "x");
    ASSERT_TRUE(plat::SetCurrentDir(Dir.Path()));
    Info.SetFilename("bare.txt");
    EXPECT_EQ(Info.Path, plat::ProgramDir());
    EXPECT_EQ(Info.Drive, "");
    EXPECT_EQ(Info.Short, "bare.txt");
}

#ifndef _WIN32 // "c:data.txt" is a file name here, a drive and a name on Windows
TEST_F(FileInfo_, DriveForms) {
    // A drive letter and colon directly followed by the file name.
    Dir.Write("c:data.txt", "x");
    ASSERT_TRUE(plat::SetCurrentDir(Dir.Path()));
    Info.SetFilename("c:data.txt");
    EXPECT_EQ(Info.Drive, "c:\\");
    EXPECT_EQ(Info.Path, "c:\\");
    EXPECT_EQ(Info.Short, "data.txt");
    // Two leading separators: the server part.
    const std::string share = "/" + Dir.Write("shared/f.txt", "x");
    Info.SetFilename(share);
    const std::string server = share.substr(0, share.find('/', 2) + 1);
    EXPECT_EQ(Info.Drive, server);
    EXPECT_EQ(Info.Path, "/" + Dir.File("shared/"));
}
#endif

TEST_F(FileInfo_, FolderHasNoNamePartsButAnEntry) {
    const std::string folder = Dir.File("Some.Dir");
    ASSERT_TRUE(plat::ForceDirectories(folder));
    Info.SetFilename(folder);
    EXPECT_EQ(Info.Version.Text, "");
    EXPECT_EQ(Info.Short, "");
    EXPECT_EQ(Info.Path, "");
    EXPECT_EQ(Info.DOS83, "SOME.DIR");
    EXPECT_GT(Info.TimeStamp.LastWrite, 0);
    EXPECT_EQ(Presentation->Beeps, 0);
}

TEST(FileTimeToDateTime, CreationTimesOutside1981To2050AreUnknown) {
    const plat::TUnixTime in1980{330000000, 0};  // June 1980
    const plat::TUnixTime in1981{362000000, 0};  // June 1981
    const plat::TUnixTime in2050{2538000000, 0}; // June 2050
    const plat::TUnixTime in2051{2570000000, 0}; // June 2051
    EXPECT_EQ(FileTimeToDateTime(in1980, true), 0);
    EXPECT_EQ(FileTimeToDateTime(in2051, true), 0);
    EXPECT_GT(FileTimeToDateTime(in1981, true), 0);
    EXPECT_GT(FileTimeToDateTime(in2050, true), 0);
    // Other times have no bound. 25569 is 1 January 1970 in the framework's numbering.
    EXPECT_GT(FileTimeToDateTime(in1980, false), 25569 + 3800);
    EXPECT_GT(FileTimeToDateTime(in2051, false), 0);
    EXPECT_NEAR(FileTimeToDateTime(in1981, true), FileTimeToDateTime(in1981, false), 1e-9);
}

TEST_F(FileInfo_, SizeKeepsTheLow32BitsAsSigned) {
    const std::string name = Dir.File("sparse.bin");
    plat::FileHandle h = plat::FileCreate(name);
    ASSERT_NE(h, plat::InvalidHandle);
    // 3 GiB + 5 bytes, sparse.
    ASSERT_GE(plat::FileSeek(h, (int64_t(3) << 30) + 4, 0), 0);
    ASSERT_EQ(plat::FileWrite(h, "x", 1), 1);
    plat::FileClose(h);
    Info.SetFilename(name);
    EXPECT_EQ(Info.Size, int32_t(uint32_t((uint64_t(3) << 30) + 5)));
    EXPECT_LT(Info.Size, 0);
}

TEST_F(FileInfo_, PropertiesAreWritableStoredValues) {
    Info.SetFilename(Dir.Write("a.txt", "abc"));
    Info.Short = "other";
    Info.Version.Major = 9;
    Info.Size = -4;
    EXPECT_EQ(Info.Short, "other");
    EXPECT_EQ(Info.Version.Major, 9);
    EXPECT_EQ(Info.Extension, ".txt");
    EXPECT_EQ(Info.Filename(), Dir.File("a.txt"));
}

} // namespace
