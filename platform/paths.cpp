// Names and folders as the framework splits them, the same on every platform.
#include "platform/files.h"

namespace plat {

bool IsPathDelimiter(char c) {
    return c == '\\' || c == '/';
}

std::string IncludeTrailingPathDelimiter(const std::string& dir) {
    if (!dir.empty() && IsPathDelimiter(dir.back())) return dir;
    return dir + PathDelim;
}

// Both split at the framework's delimiters, the drive colon included, so that
// ExtractFilePath(n) + ExtractFileName(n) is always n.
std::string ExtractFilePath(const std::string& name) {
    size_t p = name.find_last_of("\\/:");
    return p == std::string::npos ? std::string() : name.substr(0, p + 1);
}

std::string ExtractFileName(const std::string& name) {
    size_t p = name.find_last_of("\\/:");
    return p == std::string::npos ? name : name.substr(p + 1);
}

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
