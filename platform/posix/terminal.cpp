#include "platform/terminal.h"

#include <unistd.h>

namespace plat {

bool StderrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

} // namespace plat
