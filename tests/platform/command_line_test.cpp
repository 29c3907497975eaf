// The split of a command line into arguments, as the Windows build reads its own: blanks
// separate, quotes group and go, a backslash is an ordinary character.
#include "platform/command_line.h"

#include <gtest/gtest.h>

using plat::SplitCommandLine;
using TWords = std::vector<std::string>;

TEST(CommandLine, SplitsAsTheSystemsRuntimeDoesForThisProgram) {
    const struct {
        const char* Line;
        TWords Words;
    } rows[] = {
        {"", {}},
        {"   \t ", {}},
        {"KVUpdater.exe", {"KVUpdater.exe"}},
        {"a  b\tc ", {"a", "b", "c"}},
        // A backslash stays as typed, before a quote too.
        {R"(x /UpdateFromUncPath c:\dir\ /silent)",
         {"x", "/UpdateFromUncPath", R"(c:\dir\)", "/silent"}},
        {R"(x "c:\my dir\" /silent)", {"x", R"(c:\my dir\)", "/silent"}},
        {R"(x c:\dir\" /silent)", {"x", R"(c:\dir\ /silent)"}},
        // Quotes group blanks anywhere in a word and are dropped.
        {R"(x /HTTPPasswd "p w"d)", {"x", "/HTTPPasswd", "p wd"}},
        {R"(x a"b c"d)", {"x", "ab cd"}},
        // "" is an empty argument of its own; an unclosed quote runs to the end.
        {R"(x /HTTPProxy "" /autoexit)", {"x", "/HTTPProxy", "", "/autoexit"}},
        {R"(x "")", {"x", ""}},
        {R"(x "a b)", {"x", "a b"}},
        {R"("C:\Program Files\KVUpdater.exe" /self)",
         {R"(C:\Program Files\KVUpdater.exe)", "/self"}},
    };
    for (const auto& row : rows) EXPECT_EQ(SplitCommandLine(row.Line), row.Words) << row.Line;
}
