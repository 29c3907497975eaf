// The test helpers of the Windows build, run under Wine: folders in the host's /tmp seen
// through drive Z:, sockets of the test's own (ws2_32, linked, as only the program under test
// must bind its library by name), and the host's nginx and tinyproxy that the peers fixture
// started for the whole run.
#include <winsock2.h> // before windows.h, which would bring the older socket header

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "tests/support/support.h"

namespace kvtest {

namespace {

// Starts Windows Sockets for the helpers once.
void StartSockets() {
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started) throw std::runtime_error("WSAStartup failed");
}

std::string Environment(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

// Removes a folder and everything in it; read-only files and folders too.
void RemoveTree(const std::string& dir) {
    WIN32_FIND_DATAA found;
    const HANDLE find = ::FindFirstFileA((dir + "*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            const std::string full = dir + name;
            ::SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(full + "\\");
            else
                ::DeleteFileA(full.c_str());
        } while (::FindNextFileA(find, &found));
        ::FindClose(find);
    }
    ::SetFileAttributesA(dir.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::RemoveDirectoryA(dir.c_str());
}

// "name port" lines the peers fixture wrote.
int PeerPort(const std::string& name) {
    const std::string file = WinePath(KVTEST_PEERS_FILE);
    const std::string text = ReadFile(file);
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        if (line.compare(0, name.size() + 1, name + " ") == 0)
            return std::atoi(line.c_str() + name.size() + 1);
        at = end + 1;
    }
    throw std::runtime_error("no " + name + " in " + file + ": the peers fixture did not run");
}

} // namespace

std::string HostPath(const std::string& windowsName) {
    if (windowsName.size() < 2 || (windowsName[0] != 'Z' && windowsName[0] != 'z') ||
        windowsName[1] != ':')
        throw std::runtime_error(windowsName + " is not on drive Z:");
    std::string host = windowsName.substr(2);
    std::replace(host.begin(), host.end(), '\\', '/');
    return host;
}

std::string WinePath(const std::string& hostName) {
    std::string name = "Z:" + hostName;
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

TTempDir::TTempDir() {
    const std::string base = WinePath(Environment("KVTEST_TMPDIR", "/tmp")) + "\\";
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::string name = base + "kvtest." + std::to_string(::GetCurrentProcessId()) + "." +
                                 std::to_string(::GetTickCount()) + "." + std::to_string(++counter);
        if (::CreateDirectoryA(name.c_str(), nullptr)) {
            FPath = name + "\\";
            return;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    throw std::runtime_error("cannot make a folder in " + base);
}

TTempDir::~TTempDir() {
    if (std::getenv("KVTEST_KEEP")) return;
    RemoveTree(FPath);
}

std::string TTempDir::Write(const std::string& rel, const std::string& data) const {
    WriteFile(FPath + rel, data);
    return FPath + rel;
}

std::string TTempDir::Read(const std::string& rel) const {
    return ReadFile(FPath + rel);
}

bool TTempDir::Exists(const std::string& rel) const {
    return ::GetFileAttributesA((FPath + rel).c_str()) != INVALID_FILE_ATTRIBUTES;
}

int FreePort() {
    StartSockets();
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof addr;
    ::bind(s, reinterpret_cast<sockaddr*>(&addr), len);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    ::closesocket(s);
    return ntohs(addr.sin_port);
}

bool WaitForPort(int port, int timeoutMs) {
    StartSockets();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(uint16_t(port));
        const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        ::closesocket(s);
        if (ok) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// The fixture's nginx serves the host's whole file system: a folder is served under its host
// path.
TNginx::TNginx(const std::string& root, const std::string& extraServerConfig, bool https) {
    if (!extraServerConfig.empty() || https)
        throw std::runtime_error("the shared nginx takes no configuration of a test's own");
    FPort = PeerPort("nginx");
    std::string host = HostPath(root);
    while (host.size() > 1 && host.back() == '/') host.pop_back();
    FRoot = host == "/" ? "" : host;
}

TNginx::~TNginx() = default;

std::string TNginx::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(FPort) + FRoot + path;
}

std::string TNginx::HostPort() const {
    return "127.0.0.1:" + std::to_string(FPort);
}

TTinyproxy::TTinyproxy(const std::string& user, const std::string& password) {
    // The fixture's proxy asks for these credentials; one without any is not kept.
    if (user != "kvuser" || password != "s3cret")
        throw std::runtime_error("the shared tinyproxy knows kvuser/s3cret only");
    FPort = PeerPort("tinyproxy");
}

TTinyproxy::~TTinyproxy() = default;

// A Windows test starts no host program of its own.
TChild::TChild(const std::vector<std::string>& argv, const std::string&) {
    throw std::runtime_error("no host programs from a Windows test: " + argv.at(0));
}
TChild::~TChild() = default;
TChild::TChild(TChild&& other) noexcept : FPid(other.FPid) {}
TChild& TChild::operator=(TChild&& other) noexcept {
    FPid = other.FPid;
    return *this;
}
bool TChild::Running() {
    return false;
}
void TChild::Stop() {}

} // namespace kvtest
