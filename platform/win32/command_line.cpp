// The arguments from the program's own command line: the C runtime's argv follows other rules
// (a backslash before a quote escapes it), which would change "c:\dir\" typed on the command
// line.
#include "platform/command_line.h"

#include "platform/win32/win32_api.h"

namespace plat {

std::vector<std::string> ProgramArguments(int, char**) {
    std::vector<std::string> words = SplitCommandLine(::GetCommandLineA());
    if (!words.empty()) words.erase(words.begin()); // the program's own name
    return words;
}

} // namespace plat
