#pragma once
// The shell's start of a program or document by name. An executable file is started
// detached (new session, standard streams on /dev/null) with its argument text split on
// blanks; any other file is handed to the desktop's opener when there is one. A relative
// name is taken against dir when given, else against the current directory.
// Reports success or failure; never raises. Each side implements it.
#include <string>

namespace plat {

bool ShellExecute(const std::string& file, const std::string& args = "",
                  const std::string& dir = "");

} // namespace plat
