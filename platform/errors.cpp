#include "platform/errors.h"

#include "platform/exception.h"

namespace plat {

std::string SystemErrorText(int code) {
    std::string text = SysErrorMessage(code);
    while (!text.empty() && (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}

void RaiseFileError(const std::string& what, const std::string& fileName) {
    const int code = GetLastError();
    throw EInOutError(what + "\"" + fileName + "\". " + SysErrorMessage(code), code);
}

} // namespace plat
