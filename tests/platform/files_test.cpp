#include "platform/files.h"

#include <filesystem>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <functional>
#include <thread>

#include "tests/support/support.h"

using namespace plat;

namespace {

unsigned Mode(const std::string& name) {
    struct stat st;
    return ::stat(name.c_str(), &st) == 0 ? st.st_mode & 07777 : 0xFFFF;
}

std::vector<std::string> Names(const std::string& dir) {
    std::vector<TDirEntry> entries;
    EXPECT_TRUE(ListDirectory(dir, entries));
    std::vector<std::string> names;
    for (const TDirEntry& e : entries) names.push_back(e.Name);
    return names;
}

class Files : public ::testing::Test {
protected:
    kvtest::TTempDir T;
};

} // namespace

TEST_F(Files, NamesResolveWithoutRegardToCaseAndSeparator) {
    T.Write("Sub/File.txt", "x");
    T.Write("multi/README", "1");
    T.Write("multi/readme", "2");
    T.Write("multi/ReadMe", "3");
    EXPECT_EQ(ResolveName(T.Path() + "SUB\\file.TXT"), T.Path() + "Sub/File.txt");
    EXPECT_EQ(ResolveName(T.Path() + "sub\\Missing/New.Txt"), T.Path() + "Sub/Missing/New.Txt");
    // Missing levels found from the deepest folder that exists exactly, whatever the
    // separators around them.
    EXPECT_EQ(ResolveName(T.Path() + "Sub//FILE.txt"), T.Path() + "Sub//File.txt");
    EXPECT_EQ(ResolveName(T.Path() + "SUB/file.txt/"), T.Path() + "Sub/File.txt/");
    EXPECT_EQ(ResolveName(T.Path() + "Sub/a/b/c.txt"), T.Path() + "Sub/a/b/c.txt");
    const std::string cwd = GetCurrentDir();
    ASSERT_TRUE(SetCurrentDir(T.Path() + "multi"));
    EXPECT_EQ(ResolveName("../SUB/file.TXT"), "../Sub/File.txt");
    EXPECT_EQ(ResolveName("Readme"), "README");
    ASSERT_TRUE(SetCurrentDir(cwd));
    // An exact match wins; otherwise the first in byte order.
    EXPECT_EQ(ResolveName(T.Path() + "multi/readme"), T.Path() + "multi/readme");
    EXPECT_EQ(ResolveName(T.Path() + "multi/rEADME"), T.Path() + "multi/README");
    EXPECT_TRUE(FileExists(T.Path() + "sub\\FILE.txt"));
    EXPECT_FALSE(FileExists(T.Path() + "sub"));
    EXPECT_TRUE(DirectoryExists(T.Path() + "SUB\\"));
    EXPECT_FALSE(DirectoryExists(T.Path() + "sub/file.txt"));
    EXPECT_FALSE(FileExists(T.Path() + "nothing"));
    EXPECT_EQ(GetLastError(), syserr::FileNotFound);
}

// A folder whose missing names were looked up is kept read; what anyone changes in it
// afterwards, directly or by a rename in or out, or the folder replaced, is seen at once.
TEST_F(Files, LookupsInAFolderSeeEveryLaterChange) {
    namespace fs = std::filesystem;
    T.Write("Sub/keep.txt", "x");
    T.Write("elsewhere/IN.txt", "y");
    const std::string sub = T.Path() + "Sub/";
    auto resolve = [&](const char* name) { return ResolveName(sub + name); };
    EXPECT_EQ(resolve("new.txt"), sub + "new.txt");
    T.Write("Sub/NEW.txt", "made after the first look");
    EXPECT_EQ(resolve("new.txt"), sub + "NEW.txt");
    fs::rename(sub + "NEW.txt", sub + "New.Txt");
    EXPECT_EQ(resolve("new.txt"), sub + "New.Txt");
    fs::rename(sub + "New.Txt", T.Path() + "elsewhere/gone.txt");
    EXPECT_EQ(resolve("new.txt"), sub + "new.txt");
    fs::rename(T.Path() + "elsewhere/IN.txt", sub + "IN.txt");
    EXPECT_EQ(resolve("in.TXT"), sub + "IN.txt");
    fs::remove(sub + "IN.txt");
    EXPECT_EQ(resolve("in.TXT"), sub + "in.TXT");
    // The folder itself replaced by another of the same name.
    fs::rename(T.Path() + "Sub", T.Path() + "Old");
    T.Write("Sub/IN.TXT", "z");
    EXPECT_EQ(resolve("in.txt"), sub + "IN.TXT");

    // Moves that leave the name there: two names exchanged in one call, in the folder and
    // with a folder elsewhere, and a rename that leaves a whiteout behind (as in the upper
    // folder of an overlay).
    T.Write("Sub/a.dll", "a");
    T.Write("Sub/b.dll", "b");
    T.Write("elsewhere/c.dll", "c");
    EXPECT_EQ(resolve("X.DLL"), sub + "X.DLL");
    auto renamed = [](const std::string& from, const std::string& to, unsigned flags) {
        return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), flags) == 0;
    };
    ASSERT_TRUE(renamed(sub + "a.dll", sub + "b.dll", RENAME_EXCHANGE));
    EXPECT_EQ(resolve("B.DLL"), sub + "b.dll");
    EXPECT_EQ(resolve("A.DLL"), sub + "a.dll");
    ASSERT_TRUE(renamed(T.Path() + "elsewhere/c.dll", sub + "b.dll", RENAME_EXCHANGE));
    EXPECT_EQ(resolve("B.DLL"), sub + "b.dll");
    if (renamed(sub + "a.dll", sub + "w.dll", RENAME_WHITEOUT))
        EXPECT_EQ(resolve("A.DLL"), sub + "a.dll"); // the whiteout, as a fresh reading finds
    else
        EXPECT_EQ(errno, EPERM) << "whiteouts need the right to make devices";

    // More changes between two lookups than one reading of them takes.
    const std::string longName(200, 'n');
    for (int i = 0; i < 400; ++i) T.Write("Sub/" + longName + std::to_string(i), "");
    EXPECT_EQ(resolve("N.TXT"), sub + "N.TXT");
    for (int i = 0; i < 400; ++i) fs::remove(sub + longName + std::to_string(i));
    T.Write("Sub/LAST.txt", "");
    EXPECT_EQ(resolve("last.txt"), sub + "LAST.txt");

    // More changes than the kernel queues: what it could not tell is read afresh.
    std::ifstream limit("/proc/sys/fs/inotify/max_queued_events");
    int queued = 0;
    if (limit >> queued && queued <= (1 << 16)) {
        for (int i = 0; i <= queued; ++i)
            ::close(::creat((sub + "q" + std::to_string(i)).c_str(), 0644));
        EXPECT_EQ(resolve(("Q" + std::to_string(queued)).c_str()),
                  sub + "q" + std::to_string(queued));
    }
}

TEST_F(Files, ReplacingKeepsTheExistingNameAndANewFileTakesTheGivenOne) {
    T.Write("dir/File.txt", "old");
    T.Write("src.bin", "new");
    ASSERT_TRUE(CopyFile(T.File("src.bin"), T.Path() + "DIR\\FILE.TXT", false));
    ASSERT_TRUE(CopyFile(T.File("src.bin"), T.Path() + "Dir\\New.Txt", false));
    EXPECT_EQ(Names(T.File("dir")), (std::vector<std::string>{"File.txt", "New.Txt"}));
    EXPECT_EQ(T.Read("dir/File.txt"), "new");
    FileHandle h = FileCreate(T.Path() + "DIR/file.TXT");
    ASSERT_NE(h, InvalidHandle);
    EXPECT_EQ(FileWrite(h, "created", 7), 7);
    EXPECT_TRUE(FileClose(h));
    EXPECT_EQ(Names(T.File("dir")), (std::vector<std::string>{"File.txt", "New.Txt"}));
    EXPECT_EQ(T.Read("dir/File.txt"), "created");
    // A working name of the program's own still finds its folder without regard to case.
    EXPECT_TRUE(FileClose(FileCreatePrivate(T.Path() + "DIR/~own.txt")));
    EXPECT_EQ(Names(T.File("dir")), (std::vector<std::string>{"File.txt", "New.Txt", "~own.txt"}));
}

TEST_F(Files, ReadOnlyFilesResistDeletionAndOverwritingEvenForRoot) {
    std::string f = T.Write("ro.txt", "keep");
    T.Write("src.txt", "other");
    ASSERT_TRUE(SetFileAttributes(f, faReadOnly | faArchive));
    EXPECT_EQ(Mode(f) & 0222, 0u);
    EXPECT_EQ(GetFileAttributes(f) & faReadOnly, faReadOnly);
    EXPECT_FALSE(DeleteFile(f));
    EXPECT_EQ(GetLastError(), syserr::AccessDenied);
    EXPECT_FALSE(CopyFile(T.File("src.txt"), f, false));
    EXPECT_EQ(FileCreate(f), InvalidHandle);
    EXPECT_EQ(FileCreatePrivate(f), InvalidHandle);
    EXPECT_EQ(FileOpen(f, TOpenMode::ReadWrite), InvalidHandle);
    EXPECT_FALSE(WriteFileAtomic(f, "x"));
    EXPECT_EQ(T.Read("ro.txt"), "keep");
    FileHandle h = FileOpen(f, TOpenMode::Read);
    EXPECT_NE(h, InvalidHandle);
    FileClose(h);
    // Hidden and system change nothing; clearing read-only gives write permission back.
    ASSERT_TRUE(SetFileAttributes(f, faHidden | faSysFile));
    EXPECT_EQ(Mode(f) & 0200, 0200u);
    EXPECT_EQ(GetFileAttributes(f), faArchive);
    EXPECT_TRUE(DeleteFile(f));
    EXPECT_FALSE(FileExists(f));
}

TEST_F(Files, AttributesOfFoldersAndMissingNames) {
    ::mkdir(T.File("d").c_str(), 0755);
    EXPECT_EQ(GetFileAttributes(T.File("D")), faDirectory);
    EXPECT_EQ(GetFileAttributes(T.File("none")), InvalidFileAttributes);
    EXPECT_EQ(GetLastError(), syserr::FileNotFound);
    EXPECT_FALSE(DeleteFile(T.File("d")));
    EXPECT_FALSE(SetFileAttributes(T.File("none"), 0));
}

TEST_F(Files, CopyReplacesAtomicallyAndKeepsPermissionBits) {
    std::string data = kvtest::RandomBytes(3 << 20 | 17, 7);
    std::string src = T.Write("src.exe", data);
    std::string dst = T.Write("dst.exe", "old contents");
    ::chmod(src.c_str(), 0750);
    ::chmod(dst.c_str(), 0600);
    TUnixTime stamp{1500000000, 0};
    ASSERT_TRUE(SetFileLastWriteTime(src, stamp));
    // A reader of the old file (a running program) keeps what it had.
    FileHandle old = FileOpen(dst, TOpenMode::Read);
    ASSERT_TRUE(CopyFile(src, dst, false));
    char buffer[12];
    EXPECT_EQ(FileRead(old, buffer, sizeof buffer), 12);
    EXPECT_EQ(std::string(buffer, 12), "old contents");
    FileClose(old);
    EXPECT_EQ(T.Read("dst.exe"), data);
    EXPECT_EQ(Mode(dst), 0600u);
    ASSERT_TRUE(CopyFile(src, T.File("new.exe"), true));
    EXPECT_EQ(Mode(T.File("new.exe")), 0750u);
    TDirEntry e;
    ASSERT_TRUE(FindEntry(T.File("NEW.exe"), e));
    EXPECT_EQ(e.Name, "new.exe");
    EXPECT_EQ(e.Size, data.size());
    EXPECT_EQ(e.LastWrite.Seconds, stamp.Seconds);
    // Refusals leave the target alone and no temporary file behind.
    T.Write("dst.exe", "again");
    EXPECT_FALSE(CopyFile(src, dst, true));
    EXPECT_EQ(GetLastError(), syserr::AlreadyExists);
    EXPECT_FALSE(CopyFile(T.File("missing"), dst, false));
    EXPECT_FALSE(CopyFile(T.File("."), dst, false));
    EXPECT_FALSE(CopyFile(src, T.File("nofolder/x"), false));
    EXPECT_EQ(T.Read("dst.exe"), "again");
    EXPECT_EQ(Names(T.Path()), (std::vector<std::string>{"dst.exe", "new.exe", "src.exe"}));
}

TEST_F(Files, MoveReplacesLikeCopyAndDelete) {
    std::string src = T.Write("tmp/x.bin", "new contents");
    std::string dst = T.Write("X.BIN", "old contents");
    ::chmod(src.c_str(), 0644);
    ::chmod(dst.c_str(), 0640);
    FileHandle old = FileOpen(dst, TOpenMode::Read);
    ASSERT_TRUE(MoveFile(src, T.File("x.bin")));
    // The existing name and permission bits stay; a reader keeps the old file.
    EXPECT_EQ(T.Read("X.BIN"), "new contents");
    EXPECT_EQ(Mode(dst), 0640u);
    EXPECT_FALSE(T.Exists("tmp/x.bin"));
    EXPECT_FALSE(T.Exists("x.bin"));
    char buffer[12];
    EXPECT_EQ(FileRead(old, buffer, sizeof buffer), 12);
    FileClose(old);
    // A read-only target refuses, and both files stay as they were.
    T.Write("tmp/y.bin", "newer");
    ::chmod(dst.c_str(), 0444);
    EXPECT_FALSE(MoveFile(T.File("tmp/y.bin"), dst));
    EXPECT_EQ(GetLastError(), syserr::AccessDenied);
    EXPECT_EQ(T.Read("X.BIN"), "new contents");
    EXPECT_EQ(T.Read("tmp/y.bin"), "newer");
    // A new target takes the source's bits; a missing source fails.
    ::chmod(T.File("tmp/y.bin").c_str(), 0755);
    ASSERT_TRUE(MoveFile(T.File("tmp/y.bin"), T.File("y.exe")));
    EXPECT_EQ(Mode(T.File("y.exe")), 0755u);
    EXPECT_FALSE(MoveFile(T.File("tmp/missing"), T.File("z")));
    EXPECT_EQ(GetLastError(), syserr::FileNotFound);
}

TEST_F(Files, CreatedProgramsAreExecutableWhateverTheUmask) {
    mode_t saved = ::umask(077);
    FileHandle a = FileCreate(T.File("Prog.EXE"));
    FileHandle b = FileCreate(T.File("data.txt"));
    FileHandle c = FileCreatePrivate(T.File("~own.exe"));
    ::umask(saved);
    ASSERT_NE(a, InvalidHandle);
    ASSERT_NE(b, InvalidHandle);
    ASSERT_NE(c, InvalidHandle);
    FileClose(a);
    FileClose(b);
    FileClose(c);
    EXPECT_EQ(Mode(T.File("Prog.EXE")), 0755u);
    EXPECT_EQ(Mode(T.File("data.txt")), 0644u);
    EXPECT_EQ(Mode(T.File("~own.exe")), 0755u);
    // An existing program file that lost its execute bit gets it back when recreated.
    std::string p = T.Write("old.exe", "x");
    ::chmod(p.c_str(), 0644);
    FileClose(FileCreate(p));
    EXPECT_EQ(Mode(p), 0755u);
    EXPECT_EQ(T.Read("old.exe"), "");
}

TEST_F(Files, HandlesReadWriteSeekAndReportFailures) {
    FileHandle h = FileCreate(T.File("h.bin"));
    ASSERT_NE(h, InvalidHandle);
    EXPECT_EQ(FileWrite(h, "0123456789", 10), 10);
    EXPECT_EQ(FileSeek(h, 4, 0), 4);
    char buf[16];
    EXPECT_EQ(FileRead(h, buf, sizeof buf), 6);
    EXPECT_EQ(std::string(buf, 6), "456789");
    EXPECT_EQ(FileRead(h, buf, sizeof buf), 0);
    EXPECT_EQ(FileSeek(h, -3, 2), 7);
    EXPECT_EQ(FileSeek(h, 1, 1), 8);
    EXPECT_EQ(FileSeek(h, 0, 3), -1);
    EXPECT_EQ(GetLastError(), syserr::InvalidParameter);
    EXPECT_TRUE(FileFlush(h));
    EXPECT_TRUE(FileClose(h));
    EXPECT_EQ(FileRead(h, buf, 1), -1);
    EXPECT_EQ(GetLastError(), syserr::InvalidHandle);
    EXPECT_EQ(FileWrite(h, buf, 1), -1);
    EXPECT_FALSE(FileClose(InvalidHandle));
    EXPECT_EQ(FileOpen(T.File("missing"), TOpenMode::Read), InvalidHandle);
    EXPECT_EQ(GetLastError(), syserr::FileNotFound);
    EXPECT_EQ(FileOpen(T.Path(), TOpenMode::Read), InvalidHandle);
    EXPECT_EQ(GetLastError(), syserr::AccessDenied);
    // A missing folder on the way is told from a missing file, as Windows tells them apart.
    EXPECT_EQ(FileOpen(T.File("nofolder/missing"), TOpenMode::Read), InvalidHandle);
    EXPECT_EQ(GetLastError(), syserr::PathNotFound);
    EXPECT_EQ(FileCreate(T.File("nofolder/new")), InvalidHandle);
    EXPECT_EQ(GetLastError(), syserr::PathNotFound);
}

TEST_F(Files, AFileObjectClosesItsFileOnceAndKeepsTheLastError) {
    T.Write("f.txt", "data");
    FileHandle raw;
    {
        TFile first(FileOpen(T.File("f.txt"), TOpenMode::Read));
        ASSERT_TRUE(first.Valid());
        raw = first.Get();
        TFile second(std::move(first));
        EXPECT_FALSE(first.Valid());
        EXPECT_TRUE(first.Close()); // nothing open: nothing to close
        char c;
        EXPECT_EQ(FileRead(second.Get(), &c, 1), 1);
        SetLastError(syserr::DiskFull); // the failure a caller is unwinding from
    }
    EXPECT_EQ(GetLastError(), syserr::DiskFull);
    EXPECT_FALSE(FileClose(raw)); // closed once, by the object that held it last
    EXPECT_EQ(GetLastError(), syserr::InvalidHandle);
    // Released, the handle is the caller's.
    TFile third(FileOpen(T.File("f.txt"), TOpenMode::Read));
    raw = third.Release();
    EXPECT_FALSE(third.Valid());
    EXPECT_TRUE(FileClose(raw));
}

TEST(FilesLastError, OsCodesMapIntoTheWindowsNumberingWithTheSystemTexts) {
    constexpr int App = syserr::ApplicationBit;
    struct TRow {
        int Os, System, Socket;
        const char* Text; // of the system code
    };
    const TRow rows[] = {
        {0, syserr::Success, 0, "The operation completed successfully."},
        {ENOENT, syserr::FileNotFound, App | ENOENT, "The system cannot find the file specified."},
        {EISDIR, syserr::AccessDenied, App | EISDIR, "Access is denied."},
        {EPIPE, syserr::BrokenPipe, 10054, "The pipe has been ended."},
        {ECONNREFUSED, App | ECONNREFUSED, 10061, "Connection refused"},
        {EWOULDBLOCK, App | EWOULDBLOCK, 10035, "Resource temporarily unavailable"},
    };
    for (const TRow& r : rows) {
        SCOPED_TRACE(r.Os);
        EXPECT_EQ(ErrorFromOs(r.Os), r.System);
        EXPECT_EQ(SocketErrorFromOs(r.Os), r.Socket);
        EXPECT_EQ(SysErrorMessage(r.System), r.Text);
    }
    // Socket codes take their texts from the socket layer; a code nobody knows has none.
    EXPECT_EQ(SysErrorMessage(10061), "");
    EXPECT_EQ(SysErrorMessage(1), "");
    EXPECT_EQ(SystemErrorText(syserr::AccessDenied), "Access is denied");
}

TEST(FilesLastError, IsKeptPerThread) {
    SetLastError(5);
    std::thread([] {
        EXPECT_EQ(GetLastError(), 0);
        SetLastError(7);
    }).join();
    EXPECT_EQ(GetLastError(), 5);
}

TEST_F(Files, FoldersAreCreatedRenamedAndRemoved) {
    ::mkdir(T.File("Top").c_str(), 0755);
    ASSERT_TRUE(ForceDirectories(T.Path() + "top\\a/b\\c"));
    EXPECT_TRUE(DirectoryExists(T.File("Top/a/b/c")));
    EXPECT_EQ(Names(T.Path()), std::vector<std::string>{"Top"});
    EXPECT_TRUE(ForceDirectories(T.File("top/a")));
    T.Write("file", "x");
    EXPECT_FALSE(ForceDirectories(T.File("file/sub")));
    EXPECT_FALSE(CreateDir(T.File("no/such")));
    EXPECT_TRUE(CreateDir(T.File("one")));
    EXPECT_FALSE(RemoveDir(T.File("top/a")));
    EXPECT_TRUE(RemoveDir(T.File("TOP/A/B/C/")));
    // A change of case renames; replacing another file does not.
    ASSERT_TRUE(RenameFile(T.File("FILE"), T.File("File")));
    EXPECT_EQ(Names(T.Path()), (std::vector<std::string>{"File", "Top", "one"}));
    T.Write("other", "y");
    EXPECT_FALSE(RenameFile(T.File("file"), T.File("OTHER")));
    EXPECT_EQ(GetLastError(), syserr::AlreadyExists);
    EXPECT_TRUE(RenameFile(T.File("file"), T.File("ONE\\moved")));
    EXPECT_EQ(T.Read("one/moved"), "x");
    // A working file's rename neither: whatever took the name meanwhile stays.
    EXPECT_FALSE(RenameFilePrivate(T.File("one/moved"), T.File("other")));
    EXPECT_EQ(GetLastError(), syserr::AlreadyExists);
    EXPECT_EQ(T.Read("other"), "y");
    EXPECT_TRUE(RenameFilePrivate(T.File("one/moved"), T.File("ONE/back")));
    EXPECT_EQ(T.Read("one/back"), "x");
}

TEST_F(Files, ListingIsSortedInByteOrder) {
    for (const char* n : {"b", "B", "a", "_", ".hidden"}) T.Write(n, n);
    ::mkdir(T.File("dir").c_str(), 0755);
    std::vector<TDirEntry> entries;
    ASSERT_TRUE(ListDirectory(T.Path(), entries));
    std::vector<std::string> names;
    for (const TDirEntry& e : entries) names.push_back(e.Name);
    EXPECT_EQ(names, (std::vector<std::string>{".hidden", "B", "_", "a", "b", "dir"}));
    EXPECT_TRUE(entries.back().IsDirectory);
    EXPECT_EQ(entries[0].Size, 7u);
    if (entries[0].HasCreation) {
        EXPECT_GT(entries[0].Creation.Seconds, 0);
    }
    EXPECT_FALSE(ListDirectory(T.File("missing"), entries));
    EXPECT_FALSE(FindEntry(T.File("missing"), entries[0]));
}

TEST(FilesPaths, ExpansionCurrentFolderAndOwnProgram) {
    kvtest::TTempDir t;
    std::string saved = GetCurrentDir();
    ASSERT_TRUE(SetCurrentDir(t.Path()));
    std::string cwd = GetCurrentDir();
    EXPECT_NE(cwd.back(), '/');
    EXPECT_EQ(ExpandFileName("a\\.\\b/../c"), cwd + "/a/c");
    EXPECT_EQ(ExpandFileName("x/"), cwd + "/x/");
    EXPECT_EQ(ExpandFileName("/../../etc//passwd"), "/etc/passwd");
    EXPECT_EQ(ExpandFileName("/"), "/");
    ASSERT_TRUE(SetCurrentDir(saved));
    EXPECT_FALSE(SetCurrentDir(t.File("missing")));
    EXPECT_EQ(ExtractFileName(ProgramFileName()), "platform_files_test");
    EXPECT_EQ(ProgramDir() + "platform_files_test", ProgramFileName());
    EXPECT_EQ(ExtractFilePath("a\\b/c.txt"), "a\\b/");
    EXPECT_EQ(ExtractFileName("c:name"), "name");
    EXPECT_EQ(IncludeTrailingPathDelimiter("a\\"), "a\\");
    EXPECT_EQ(IncludeTrailingPathDelimiter("a"), "a/");
}

TEST(FilesPaths, OwnNameSurvivesTheReplacementOfOurFile) {
    std::string self = ProgramFileName();
    kvtest::TTempDir t;
    // Same bytes, but a new file in our place, as a self-update leaves it.
    ASSERT_TRUE(CopyFile(self, t.File("copy"), true));
    ASSERT_TRUE(CopyFile(t.File("copy"), self, false));
    EXPECT_EQ(ProgramFileName(), self);
}

TEST_F(Files, WholeFileHelpers) {
    std::string data("a\r\nb\0c\rd", 8);
    std::string f = T.File("Whole.bin");
    ASSERT_TRUE(WriteFileAtomic(f, data));
    EXPECT_EQ(Mode(f), 0644u);
    ::chmod(f.c_str(), 0600);
    ASSERT_TRUE(WriteFileAtomic(T.File("WHOLE.BIN"), data + data));
    EXPECT_EQ(Mode(f), 0600u);
    std::string back;
    ASSERT_TRUE(ReadFileText(T.File("whole.bin"), back));
    EXPECT_EQ(back, data + data);
    EXPECT_EQ(Names(T.Path()), std::vector<std::string>{"Whole.bin"});
    EXPECT_FALSE(ReadFileText(T.File("missing"), back));
    EXPECT_FALSE(ReadFileText(T.Path(), back));
    EXPECT_FALSE(WriteFileAtomic(T.File("no/folder"), data));
}

// A name that is a symbolic link is the name's own: its attributes, its replacement and its
// creation act on the link, and what it points to outside stays as it was.
TEST_F(Files, LinksAreActedOnAsNamesAndNeverFollowed) {
    const std::string outside = T.Write("outside/ro.dll", "outside");
    ::chmod(outside.c_str(), 0444);
    T.Write("src.dll", "new");
    T.Write("product/.keep", "");
    struct TCase {
        const char* What;
        std::function<bool(const std::string& link)> Act;
        bool LinkReplaced; // a regular file stands under the name afterwards
    };
    const TCase cases[] = {
        {"clearing read-only", [](const std::string& l) { return SetFileAttributes(l, 0); }, false},
        {"setting read-only", [](const std::string& l) { return SetFileAttributes(l, faReadOnly); },
         false},
        {"copy over it",
         [&](const std::string& l) { return CopyFile(T.File("src.dll"), l, false); }, true},
        {"move over it",
         [&](const std::string& l) {
             T.Write("moved.dll", "new");
             return MoveFile(T.File("moved.dll"), l);
         },
         true},
        {"create it", [](const std::string& l) { return TFile(FileCreate(l)).Valid(); }, true},
        {"create it as a working file",
         [](const std::string& l) { return TFile(FileCreatePrivate(l)).Valid(); }, true},
        {"write it whole", [](const std::string& l) { return WriteFileAtomic(l, "new"); }, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        const std::string link = T.File("product/x.dll");
        ::unlink(link.c_str());
        ASSERT_EQ(::symlink(outside.c_str(), link.c_str()), 0);
        EXPECT_EQ(GetFileAttributes(link), faArchive) << "a link is never read-only";
        EXPECT_TRUE(c.Act(link));
        EXPECT_EQ(Mode(outside), 0444u);
        EXPECT_EQ(kvtest::ReadFile(outside), "outside");
        struct stat st;
        ASSERT_EQ(::lstat(link.c_str(), &st), 0);
        EXPECT_EQ(S_ISREG(st.st_mode), c.LinkReplaced);
    }
}

// A link that leads out of the base is never followed, whether the folders are only looked
// at or made: a sibling whose name begins with the base's own is out too.
TEST_F(Files, FoldersStayWithinUntilALinkLeadsOut) {
    T.Write("outside/sub/.keep", "");
    T.Write("base-evil/sub/.keep", "");
    T.Write("base/real/sub/.keep", "");
    T.Write("base/file", "");
    ::symlink("real", T.File("base/inward").c_str());
    ::symlink(T.File("outside").c_str(), T.File("base/out").c_str());
    ::symlink("../base-evil", T.File("base/evil").c_str());
    ::symlink("../real/sub", T.File("base/real/up").c_str());
    ::symlink("../../outside", T.File("base/real/far").c_str());
    const struct {
        const char* Dir;
        bool Within;
        bool Made; // a folder made under it
    } cases[] = {{"", true, true},
                 {"real\\sub\\", true, true},
                 {"missing/x/", true, true},
                 {"file/x/", true, false},
                 {"inward/sub/", true, true},
                 {"real/up/", true, true},
                 {"out/", false, false},
                 {"OUT\\sub\\", false, false},
                 {"evil/", false, false},
                 {"evil/sub/", false, false},
                 {"real\\far\\", false, false},
                 {"inward/../", false, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(FoldersStayWithin(T.File("base/"), c.Dir), c.Within) << c.Dir;
        if (!c.Within) {
            EXPECT_EQ(GetLastError(), syserr::AccessDenied) << c.Dir;
        }
    }
    EXPECT_FALSE(::access(T.File("base/missing").c_str(), F_OK) == 0) << "nothing is made";
    for (const auto& c : cases) {
        const std::string made = c.Dir + std::string("made/");
        EXPECT_EQ(ForceDirectoriesWithin(T.File("base/"), made), c.Made) << made;
        if (!c.Within) {
            EXPECT_EQ(GetLastError(), syserr::AccessDenied) << made;
        }
    }
    for (const char* out :
         {"outside/made", "outside/sub/made", "base-evil/made", "base-evil/sub/made"})
        EXPECT_FALSE(::access(T.File(out).c_str(), F_OK) == 0) << out << " made outside";
    EXPECT_TRUE(DirectoryExists(T.File("base/real/sub/made")));
}

// A file that never ends, or a huge one, is read no further than asked.
TEST_F(Files, ReadingStopsAtTheLimit) {
    const std::string huge = T.Write("huge.ini", "[General]\r\n");
    ASSERT_EQ(::truncate(huge.c_str(), off_t(64) << 30), 0); // 64 GiB, nearly all a hole
    std::string back;
    ASSERT_TRUE(ReadFileText(huge, back, SmallFileMaxBytes));
    EXPECT_EQ(back.size(), SmallFileMaxBytes);
    EXPECT_EQ(back.substr(0, 11), "[General]\r\n");
    T.Write("small", "abc");
    for (size_t limit : {size_t(2), size_t(3), size_t(4)}) {
        ASSERT_TRUE(ReadFileText(T.File("small"), back, limit));
        EXPECT_EQ(back, std::string("abc").substr(0, limit));
    }
}
