#include "platform/terminal.h"

#include "platform/win32/win32_api.h"

namespace plat {

bool StderrIsTerminal() {
    DWORD mode;
    const HANDLE h = ::GetStdHandle(STD_ERROR_HANDLE);
    return h && h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode);
}

} // namespace plat
