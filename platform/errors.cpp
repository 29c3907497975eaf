#include "platform/errors.h"

namespace plat {

std::string SystemErrorText(int code) {
    std::string text = SysErrorMessage(code);
    while (!text.empty() && (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}

} // namespace plat
