#include "platform/shell.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tests/support/support.h"

using namespace plat;

namespace {

// Reports what the started program saw: its arguments (an empty line for none), folder, session,
// standard input and process id, written to a temporary file and then moved into place as "report".
const char* const Reporter = "#!/bin/sh\n"
                             "out=\"$1\"; shift\n"
                             "{ printf '%s\\n' \"$@\"; pwd; cut -d' ' -f6 /proc/$$/stat; echo $$;\n"
                             "  readlink /proc/$$/fd/0; } > \"$out.tmp\"\n"
                             "mv \"$out.tmp\" \"$out\"\n";

// Waits, generously bounded, for a file to appear; returns its lines.
std::vector<std::string> WaitForReport(const std::string& name) {
    for (int i = 0; i < 1000 && !FileExists(name); ++i) Sleep(10);
    std::string text;
    ReadFileText(name, text);
    return SplitLines(text);
}

bool ProcessGone(const std::string& pid) {
    for (int i = 0; i < 1000; ++i) {
        std::string stat;
        if (!ReadFileText("/proc/" + pid + "/stat", stat)) return true;
        Sleep(10);
    }
    return false;
}

class Shell : public ::testing::Test {
protected:
    void SetUp() override {
        Script = T.Write("bin/Run.sh", Reporter);
        ::chmod(Script.c_str(), 0755);
        ::mkdir(T.File("work").c_str(), 0755);
    }
    kvtest::TTempDir T;
    std::string Script;
};

} // namespace

TEST_F(Shell, StartsAProgramDetachedWithItsArguments) {
    std::string report = T.File("report");
    ASSERT_TRUE(ShellExecute(Script, report + "  one\ttwo \"three four\" ", T.File("work")));
    std::vector<std::string> lines = WaitForReport(report);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "one");
    EXPECT_EQ(lines[1], "two");
    EXPECT_EQ(lines[2], "three four");
    EXPECT_EQ(lines[3], T.File("work"));
    EXPECT_EQ(lines[4], lines[5]) << "not the leader of a session of its own";
    EXPECT_EQ(lines[6], "/dev/null");
    // Reaped once finished: no zombie of ours stays behind.
    EXPECT_TRUE(ProcessGone(lines[5]));
}

TEST_F(Shell, RelativeNamesAreTakenAgainstTheFolderOrTheCurrentOne) {
    ASSERT_TRUE(ShellExecute("RUN.SH", T.File("a"), T.Path() + "BIN"));
    EXPECT_EQ(WaitForReport(T.File("a")).at(1), T.File("bin"));
    std::string saved = GetCurrentDir();
    ASSERT_TRUE(SetCurrentDir(T.Path()));
    bool started = ShellExecute("bin\\run.sh", T.File("b"));
    SetCurrentDir(saved);
    ASSERT_TRUE(started);
    EXPECT_EQ(WaitForReport(T.File("b")).at(1), T.File("").substr(0, T.Path().size() - 1));
}

TEST_F(Shell, FailuresAreReportedNotRaised) {
    EXPECT_FALSE(ShellExecute(""));
    EXPECT_FALSE(ShellExecute(T.File("missing.exe"), "x"));
    EXPECT_FALSE(ShellExecute(Script, "x", T.File("no-such-folder")));
    std::string noShebang = T.Write("bad.exe", "\x7f"
                                               "ELF garbage");
    ::chmod(noShebang.c_str(), 0755);
    EXPECT_FALSE(ShellExecute(noShebang));
}

TEST_F(Shell, DocumentsGoToTheDesktopOpenerWhenThereIsOne) {
    std::string doc = T.Write("Readme.txt", "text");
    std::string opener = T.Write("opener/xdg-open", "#!/bin/sh\necho \"$1\" > \"$0.tmp\"\n"
                                                    "mv \"$0.tmp\" \"$0.out\"\n");
    ::chmod(opener.c_str(), 0755);
    std::string saved = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", T.File("nothing-here").c_str(), 1);
    EXPECT_FALSE(ShellExecute(doc));
    ::setenv("PATH", (T.File("opener") + ":/usr/bin:/bin").c_str(), 1);
    EXPECT_TRUE(ShellExecute("README.TXT", "", T.Path()));
    std::vector<std::string> first = WaitForReport(opener + ".out");
    DeleteFile(opener + ".out");
    EXPECT_TRUE(ShellExecute("http://www.kestavorin.example/Support/"));
    std::vector<std::string> second = WaitForReport(opener + ".out");
    ::setenv("PATH", saved.c_str(), 1);
    EXPECT_EQ(first, std::vector<std::string>{doc});
    EXPECT_EQ(second, std::vector<std::string>{"http://www.kestavorin.example/Support/"});
}
