// The shell's start of a program or document by name: ShellExecuteA with no verb (the file's
// default action) and the program's default way of showing itself.
#include "platform/shell.h"

#include "platform/files.h"
#include "platform/win32/win32_files.h"

namespace plat {

bool ShellExecute(const std::string& file, const std::string& args, const std::string& dir) {
    if (file.empty()) return win32::FailWith(syserr::FileNotFound);
    std::string name = win32::Native(file);
    const bool relative = !IsPathDelimiter(name[0]) && !(name.size() >= 2 && name[1] == ':') &&
                          name.find("://") == std::string::npos;
    // A relative name is taken against the folder it is started in, when one is given.
    if (relative && !dir.empty()) name = IncludeTrailingPathDelimiter(win32::Native(dir)) + name;
    const HINSTANCE result =
        ::ShellExecuteA(nullptr, nullptr, name.c_str(), args.empty() ? nullptr : args.c_str(),
                        dir.empty() ? nullptr : win32::Native(dir).c_str(), SW_SHOWDEFAULT);
    const INT_PTR code = reinterpret_cast<INT_PTR>(result);
    if (code > 32) return true;
    // The shell's own codes below 32 are system codes but for a missing association.
    return win32::FailWith(code == SE_ERR_NOASSOC ? ERROR_NO_ASSOCIATION
                           : code == 0            ? ERROR_NOT_ENOUGH_MEMORY
                                                  : static_cast<int>(code));
}

} // namespace plat
