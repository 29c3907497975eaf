// Files on the Win32 file API, what only Windows does: the system's own names that ignore
// case, the read-only, hidden and system attributes kept as set, files another program holds
// open, devices that are no files, and the system's error texts.
#include "platform/win32/win32_api.h" // before the rest: the macros of its names go

#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/text.h"
#include "tests/support/support.h"

using namespace plat;

namespace {

std::vector<std::string> Names(const std::string& dir) {
    std::vector<TDirEntry> entries;
    EXPECT_TRUE(ListDirectory(dir, entries));
    std::vector<std::string> names;
    for (const TDirEntry& e : entries) names.push_back(e.Name);
    return names;
}

class FilesWin32 : public ::testing::Test {
protected:
    kvtest::TTempDir T;
};

} // namespace

TEST_F(FilesWin32, TheSystemsNamesIgnoreCaseAndAReplacementKeepsTheStoredName) {
    T.Write("Sub\\File.txt", "old");
    T.Write("src.bin", "new");
    EXPECT_EQ(ResolveName(T.Path() + "SUB/file.TXT"), T.Path() + "SUB\\file.TXT");
    EXPECT_TRUE(FileExists(T.Path() + "sub/FILE.txt"));
    EXPECT_TRUE(DirectoryExists(T.Path() + "SUB\\"));
    EXPECT_FALSE(FileExists(T.Path() + "sub"));
    TDirEntry e;
    ASSERT_TRUE(FindEntry(T.Path() + "SUB\\FILE.TXT", e));
    EXPECT_EQ(e.Name, "File.txt");
    EXPECT_FALSE(FindEntry(T.Path() + "Sub\\*.txt", e)) << "a name takes no wildcards";
    // Copy, move and creation over the file under other cases keep its stored name.
    ASSERT_TRUE(CopyFile(T.File("src.bin"), T.Path() + "SUB\\FILE.TXT", false));
    EXPECT_EQ(Names(T.File("Sub")), std::vector<std::string>{"File.txt"});
    EXPECT_EQ(T.Read("Sub\\File.txt"), "new");
    T.Write("moved.bin", "moved");
    ASSERT_TRUE(MoveFile(T.File("moved.bin"), T.Path() + "sub\\file.txt"));
    EXPECT_EQ(Names(T.File("Sub")), std::vector<std::string>{"File.txt"});
    EXPECT_EQ(T.Read("Sub\\File.txt"), "moved");
    EXPECT_FALSE(T.Exists("moved.bin"));
    TFile created(FileCreate(T.Path() + "SUB/file.TXT"));
    ASSERT_TRUE(created.Valid());
    EXPECT_EQ(FileWrite(created.Get(), "created", 7), 7);
    created.Close();
    EXPECT_EQ(Names(T.File("Sub")), std::vector<std::string>{"File.txt"});
    EXPECT_EQ(T.Read("Sub\\File.txt"), "created");
    // A rename onto another file is refused (one that only changes letter case is a rename,
    // but Wine keeps the stored name then).
    ASSERT_TRUE(RenameFile(T.File("Sub\\File.txt"), T.File("Sub\\FILE.TXT")));
    T.Write("Sub\\other.txt", "x");
    EXPECT_FALSE(RenameFile(T.File("Sub\\other.txt"), T.File("sub\\file.txt")));
    EXPECT_EQ(plat::GetLastError(), syserr::AlreadyExists);
}

TEST_F(FilesWin32, AttributesAreKeptAsSetAndReadOnlyResistsEveryChange) {
    const std::string f = T.Write("ro.txt", "keep");
    T.Write("src.txt", "other");
    ASSERT_TRUE(SetFileAttributes(f, faReadOnly | faHidden | faSysFile));
    EXPECT_EQ(GetFileAttributes(f) & (faReadOnly | faHidden | faSysFile),
              faReadOnly | faHidden | faSysFile);
    // Every way of changing it fails with the system's refusal, and leaves it whole.
    const struct {
        const char* What;
        bool Done;
    } rows[] = {
        {"delete", DeleteFile(f)},
        {"copy over", CopyFile(T.File("src.txt"), f, false)},
        {"move over", MoveFile(T.File("src.txt"), f)},
        {"create", TFile(FileCreate(f)).Valid()},
        {"open for writing", TFile(FileOpen(f, TOpenMode::ReadWrite)).Valid()},
        {"replace whole", WriteFileAtomic(f, "x")},
    };
    for (const auto& row : rows) EXPECT_FALSE(row.Done) << row.What;
    EXPECT_EQ(T.Read("ro.txt"), "keep");
    EXPECT_EQ(T.Read("src.txt"), "other");
    TFile reading(FileOpen(f, TOpenMode::Read));
    EXPECT_TRUE(reading.Valid());
    reading.Close();
    ASSERT_TRUE(SetFileAttributes(f, faArchive));
    EXPECT_EQ(GetFileAttributes(f) & (faReadOnly | faHidden | faSysFile), 0u);
    EXPECT_TRUE(DeleteFile(f));
    EXPECT_EQ(GetFileAttributes(f), InvalidFileAttributes);
    EXPECT_EQ(plat::GetLastError(), syserr::FileNotFound);
    // No working file of a refused replacement stays behind.
    for (const std::string& name : Names(T.Path()))
        EXPECT_EQ(name.find("~kvtmp"), std::string::npos);
}

TEST_F(FilesWin32, AFileAnotherProgramHoldsOpenIsNotReplacedNorDeleted) {
    const std::string held = T.Write("held.dll", "in use");
    T.Write("new.dll", "update");
    // Held for reading, as a running program holds its file, and held with no sharing at all.
    for (DWORD share : {DWORD(FILE_SHARE_READ), DWORD(0)}) {
        SCOPED_TRACE(share);
        const HANDLE h =
            ::CreateFileA(held.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(DeleteFile(held));
        EXPECT_EQ(plat::GetLastError(), syserr::SharingViolation);
        EXPECT_FALSE(MoveFile(T.File("new.dll"), held));
        EXPECT_FALSE(TFile(FileOpen(held, TOpenMode::ReadWrite)).Valid());
        EXPECT_EQ(plat::GetLastError(), syserr::SharingViolation);
        EXPECT_EQ(TFile(FileOpen(held, TOpenMode::Read)).Valid(), share == FILE_SHARE_READ);
        ::CloseHandle(h);
        EXPECT_EQ(T.Read("held.dll"), "in use");
        EXPECT_TRUE(T.Exists("new.dll"));
    }
    ASSERT_TRUE(MoveFile(T.File("new.dll"), held));
    EXPECT_EQ(T.Read("held.dll"), "update");
}

TEST_F(FilesWin32, DevicesAreNoFilesAndTheSystemGivesTheErrorTexts) {
    EXPECT_EQ(FileOpen("NUL", TOpenMode::Read), InvalidHandle);
    EXPECT_EQ(plat::GetLastError(), syserr::AccessDenied);
    std::string text;
    EXPECT_FALSE(ReadFileText("CON", text));
    // The texts are FormatMessageA's, less the line break; log lines drop the full stop too.
    for (int code :
         {syserr::FileNotFound, syserr::AccessDenied, syserr::SharingViolation, syserr::DiskFull}) {
        char* buffer = nullptr;
        ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                             FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
        ASSERT_NE(buffer, nullptr) << code;
        std::string system = buffer;
        ::LocalFree(buffer);
        while (!system.empty() && (system.back() == '\n' || system.back() == '\r'))
            system.pop_back();
        EXPECT_EQ(SysErrorMessage(code), system) << code;
        EXPECT_EQ(SystemErrorText(code),
                  TrimRight(system.substr(0, system.find_last_not_of('.') + 1)));
    }
    EXPECT_EQ(SysErrorMessage(syserr::ApplicationBit | 5), "");
}

TEST_F(FilesWin32, FoldersCopiesAndTheProgramsOwnPlaces) {
    ASSERT_TRUE(ForceDirectories(T.Path() + "a/b\\c"));
    EXPECT_TRUE(DirectoryExists(T.File("A\\B\\C")));
    EXPECT_FALSE(CreateDir(T.File("a")));
    EXPECT_EQ(plat::GetLastError(), syserr::AlreadyExists);
    EXPECT_FALSE(ForceDirectories(T.Write("file", "x") + "\\below"));
    const std::string saved = GetCurrentDir();
    ASSERT_TRUE(SetCurrentDir(T.File("a\\b")));
    EXPECT_TRUE(SameText(GetCurrentDir(), T.File("a\\b")));
    EXPECT_EQ(ExpandFileName("c\\..\\x.txt"), GetCurrentDir() + "\\x.txt");
    ASSERT_TRUE(SetCurrentDir(saved));
    EXPECT_TRUE(RemoveDir(T.File("a\\b\\c")));

    // A copy carries the source's last write time; with failIfExists it replaces nothing.
    const std::string src = T.Write("src.exe", kvtest::RandomBytes(300000, 3));
    ASSERT_TRUE(SetFileLastWriteTime(src, TUnixTime{1500000000, 0}));
    ASSERT_TRUE(CopyFile(src, T.File("copy.exe"), true));
    EXPECT_TRUE(T.Read("copy.exe") == T.Read("src.exe"));
    TDirEntry e;
    ASSERT_TRUE(FindEntry(T.File("copy.exe"), e));
    EXPECT_EQ(e.LastWrite.Seconds, 1500000000);
    EXPECT_FALSE(CopyFile(T.Write("other.exe", "x"), T.File("copy.exe"), true));
    EXPECT_EQ(plat::GetLastError(), syserr::AlreadyExists);
    EXPECT_FALSE(CopyFile(T.File("missing.exe"), T.File("copy.exe"), false));
    EXPECT_EQ(plat::GetLastError(), syserr::FileNotFound);

    EXPECT_EQ(StandardProductDir(), "c:\\Program Files\\Kestavorin");
    EXPECT_TRUE(EndsText("\\platform_files_win32_test.exe", ProgramFileName()));
    EXPECT_EQ(ProgramDir() + "platform_files_win32_test.exe", ProgramFileName());
    EXPECT_TRUE(DirectoryExists(TempFolder()));
    EXPECT_EQ(TempFolder().back(), '\\');
}
