#include "platform/files.h"

namespace plat {

bool IsSafeRelativeName(const std::string& name) {
    if (name.empty() || IsPathDelimiter(name[0])) return false;
    if (name.size() >= 2 && name[1] == ':') return false; // a drive: "c:x" or "c:\x"
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = start;
        while (end < name.size() && !IsPathDelimiter(name[end])) ++end;
        if (name.compare(start, end - start, "..") == 0) return false;
        start = end + 1;
    }
    return true;
}

} // namespace plat
