// The shell's start through ShellExecuteA: a program by its full name or by a name relative to
// the folder it starts in, its argument text handed over as it is; a missing file or one that
// no program opens is a failure with the system's reason.
#include "platform/shell.h"

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tests/support/support.h"

using namespace plat;

namespace {

const std::string Probe = kvtest::WinePath(KV_SHELL_PROBE);

// Waits, generously bounded, for the probe's report; its lines: command line, folder.
std::vector<std::string> WaitForReport(const std::string& name) {
    for (int i = 0; i < 3000 && !FileExists(name); ++i) Sleep(10);
    std::string text;
    ReadFileText(name, text);
    return SplitLines(text);
}

} // namespace

TEST(ShellExecute, StartsProgramsWithTheirArgumentTextAndFolder) {
    kvtest::TTempDir t;
    ASSERT_TRUE(CopyFile(Probe, t.File("probe.exe"), false));
    const struct {
        const char* What;
        std::string File, Args, Dir, Folder;
    } rows[] = {
        {"full name", t.File("probe.exe"), t.File("one.txt") + " /self", "", ""},
        {"relative to its folder", "probe.exe", t.File("two.txt") + " \"a b\" c:\\dir\\", t.Path(),
         t.Path()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.What);
        ASSERT_TRUE(ShellExecute(row.File, row.Args, row.Dir)) << GetLastError();
        const std::string report = row.Args.substr(0, row.Args.find(' '));
        const std::vector<std::string> lines = WaitForReport(report);
        ASSERT_EQ(lines.size(), 2u);
        // The argument text arrives as it was given, after the program's name.
        EXPECT_TRUE(EndsText(row.Args, lines[0])) << lines[0];
        if (!row.Folder.empty()) {
            EXPECT_TRUE(SameText(IncludeTrailingPathDelimiter(lines[1]), row.Folder)) << lines[1];
        }
    }
    EXPECT_FALSE(ShellExecute(t.File("missing.exe"), "", ""));
    EXPECT_EQ(GetLastError(), syserr::FileNotFound);
    EXPECT_FALSE(ShellExecute(t.Write("data.kvnothing", "x"), "", ""));
    EXPECT_NE(GetLastError(), 0);
    EXPECT_FALSE(ShellExecute("", "", ""));
}
