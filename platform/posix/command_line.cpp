// The arguments as the system handed them to main: a POSIX shell has split them already.
#include "platform/command_line.h"

namespace plat {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

} // namespace plat
