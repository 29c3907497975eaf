// What the test helpers are on every build: whole files and random bytes.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "tests/support/support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace kvtest {

namespace {
// The folders above a name: on Windows "\" separates them too.
void MakeParents(const std::string& name) {
#ifdef _WIN32
    size_t slash = name.find_last_of("/\\");
#else
    size_t slash = name.rfind('/');
#endif
    if (slash == std::string::npos || slash == 0) return;
    std::error_code ec;
    std::filesystem::create_directories(name.substr(0, slash), ec);
}
} // namespace

std::string ReadFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string& name, const std::string& data) {
    MakeParents(name);
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(data.data(), std::streamsize(data.size()));
    if (!out) throw std::runtime_error("cannot write " + name);
}

void MakeReadOnly(const std::string& name) {
#ifdef _WIN32
    ::SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_READONLY);
#else
    ::chmod(name.c_str(), 0444);
#endif
}

std::string RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        uint32_t v = gen();
        std::memcpy(&s[i], &v, 4);
    }
    for (; i < n; ++i) s[i] = char(gen() & 0xFF);
    return s;
}

} // namespace kvtest
