#pragma once
// The program's arguments. On POSIX they are argv as the system hands them over. On Windows the
// program reads its own command line (GetCommandLineA) and splits it as the system's runtime
// does for this program: blanks (space, tab) separate arguments; a double quote starts or ends
// a quoted part, which may hold blanks, and is dropped; a backslash is an ordinary character,
// so a folder typed as "c:\dir\" stays as typed; "" is an empty argument. The splitting is
// portable (command_line.cpp); which source is read, each side decides.
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// The words of a command line, the program's own name among them when the line has it.
std::vector<std::string> SplitCommandLine(std::string_view line);

// The program's arguments without its own name; argc and argv are main's.
std::vector<std::string> ProgramArguments(int argc, char** argv);

} // namespace plat
