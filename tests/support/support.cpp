#include "tests/support/support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace kvtest {

namespace {
std::string Quote(const std::string& s) {
    std::string r = "'";
    for (char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return r + "'";
}

} // namespace

TTempDir::TTempDir() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/kvtest.XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    FPath = pattern + "/";
}

TTempDir::~TTempDir() {
    if (getenv("KVTEST_KEEP")) return;
    // Read-only files and folders must not stop the clean-up.
    RunCommand("chmod -R u+rwx " + Quote(FPath) + " 2>/dev/null; rm -rf " + Quote(FPath));
}

std::string TTempDir::Write(const std::string& rel, const std::string& data) const {
    WriteFile(FPath + rel, data);
    return FPath + rel;
}

std::string TTempDir::Read(const std::string& rel) const {
    return ReadFile(FPath + rel);
}

bool TTempDir::Exists(const std::string& rel) const {
    struct stat st {};
    return stat((FPath + rel).c_str(), &st) == 0;
}

int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

bool WaitForPort(int port, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(uint16_t(port));
        bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        close(fd);
        if (ok) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

TChild::TChild(const std::vector<std::string>& argv, const std::string& logFile) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    std::string log = logFile.empty() ? "/dev/null" : logFile;
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
    FPid = pid;
}

TChild::~TChild() {
    Stop();
}

TChild::TChild(TChild&& other) noexcept : FPid(other.FPid) {
    other.FPid = -1;
}

TChild& TChild::operator=(TChild&& other) noexcept {
    if (this != &other) {
        Stop();
        FPid = other.FPid;
        other.FPid = -1;
    }
    return *this;
}

bool TChild::Running() {
    if (FPid <= 0) return false;
    int status = 0;
    if (waitpid(FPid, &status, WNOHANG) == FPid) {
        FPid = -1;
        return false;
    }
    return true;
}

void TChild::Stop() {
    if (FPid <= 0) return;
    kill(FPid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (waitpid(FPid, nullptr, WNOHANG) == FPid) {
            FPid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(FPid, SIGKILL);
    waitpid(FPid, nullptr, 0);
    FPid = -1;
}

TAcceptLoop::TAcceptLoop(std::function<void(int fd)> handler) {
    FListener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(FListener, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
        getsockname(FListener, reinterpret_cast<sockaddr*>(&a), &len) != 0 ||
        listen(FListener, 16) != 0)
        throw std::runtime_error("cannot listen on loopback");
    FPort = ntohs(a.sin_port);
    FThread = std::thread([this, handler = std::move(handler)] {
        while (!FStop) {
            pollfd p{FListener, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            int c = accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) continue;
            handler(c);
            close(c);
        }
    });
}

TAcceptLoop::~TAcceptLoop() {
    FStop = true;
    FThread.join();
    close(FListener);
}

std::string AnswerFor(const std::map<std::string, std::string>& answers, const std::string& head,
                      std::string* path) {
    const size_t sp1 = head.find(' '), sp2 = head.find(' ', sp1 + 1);
    const std::string asked = sp1 == std::string::npos ? "" : head.substr(sp1 + 1, sp2 - sp1 - 1);
    if (path) *path = asked;
    auto it = answers.find(asked);
    return it != answers.end() ? it->second : "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
}

std::string HalfServerHello() {
    return std::string("\x16\x03\x03\x00\x7a\x02\x00\x00\x76\x03\x03"
                       "abcdefghi",
                       20);
}

int RunCommand(const std::string& command, std::string* output) {
    FILE* p = popen(command.c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    size_t n;
    std::string out;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int status = pclose(p);
    if (output) *output = out;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

TNginx::TNginx(const std::string& root, const std::string& extraServerConfig, bool https)
    : FHttps(https) {
    // A port taken by someone else between FreePort and nginx's bind is retried.
    for (int attempt = 0; attempt < 5; ++attempt) {
        FPort = FreePort();
        std::string d = FDir.Path();
        std::error_code ec;
        std::filesystem::create_directories(d + "temp", ec);
        std::filesystem::create_directories(d + "logs", ec);
        std::ostringstream conf;
        conf << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
             << "error_log " << d << "logs/error.log;\npid " << d << "nginx.pid;\n"
             << "events { worker_connections 512; }\n"
             << "http {\n  access_log off;\n  sendfile on;\n  default_type "
                "application/octet-stream;\n"
             << "  client_body_temp_path " << d << "temp/body;\n"
             << "  proxy_temp_path " << d << "temp/proxy;\n"
             << "  fastcgi_temp_path " << d << "temp/fastcgi;\n"
             << "  uwsgi_temp_path " << d << "temp/uwsgi;\n"
             << "  scgi_temp_path " << d << "temp/scgi;\n"
             << "  server {\n    listen 127.0.0.1:" << FPort << (https ? " ssl" : "")
             << ";\n    root " << root << ";\n"
             << extraServerConfig << "\n  }\n}\n";
        WriteFile(d + "nginx.conf", conf.str());
        FChild = TChild({"nginx", "-p", d, "-e", d + "logs/error.log", "-c", d + "nginx.conf"},
                        d + "logs/stderr.log");
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            if (!FChild.Running()) break;
            if (WaitForPort(FPort, 50)) return;
        }
        FChild.Stop();
    }
    throw std::runtime_error("nginx did not start; see " + FDir.Path() + "logs");
}

TNginx::~TNginx() {
    FChild.Stop();
}

std::string TNginx::Url(const std::string& path) const {
    return (FHttps ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(FPort) + path;
}

std::string TNginx::HostPort() const {
    return "127.0.0.1:" + std::to_string(FPort);
}

TTestPki::TTestPki() {
    const std::string d = Quote(FDir.Path());
    // EC keys: made in a moment, unlike RSA ones.
    const std::string newKey = "openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes ";
    const std::string sign = "openssl x509 -req -in " + d + "server.csr -CA " + d +
                             "ca.pem -CAkey " + d + "ca.key -extfile ";
    const std::string script =
        "cd " + d + " && printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\\n' > valid.ext" +
        " && printf 'subjectAltName=DNS:other.example\\n' > other.ext" + " && " + newKey +
        "-x509 -days 30 -subj /CN=kvtest-ca -keyout ca.key -out ca.pem" + " && " + newKey +
        "-subj /CN=127.0.0.1 -keyout server.key -out server.csr" + " && " + sign +
        "valid.ext -days 30 -out valid.pem" + " && " + sign +
        "valid.ext -days -1 -out expired.pem" + " && " + sign +
        "other.ext -days 30 -out other-name.pem" + " && " + newKey +
        "-x509 -days 30 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1,DNS:localhost"
        " -keyout self-signed.key -out self-signed.pem";
    std::string output;
    if (RunCommand("(" + script + ") 2>&1", &output) != 0)
        throw std::runtime_error("the test certificates could not be made: " + output);
}

std::string TTestPki::Key(const std::string& which) const {
    return FDir.File(which == "self-signed" ? "self-signed.key" : "server.key");
}

std::string TTestPki::NginxLines(const std::string& which) const {
    return "ssl_certificate " + Certificate(which) + ";\nssl_certificate_key " + Key(which) + ";\n";
}

TTinyproxy::TTinyproxy(const std::string& user, const std::string& password) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        FPort = FreePort();
        std::ostringstream conf;
        conf << "Port " << FPort << "\nListen 127.0.0.1\nTimeout 60\nMaxClients 50\n"
             << "LogLevel Error\nAllow 127.0.0.1\n";
        if (!user.empty()) conf << "BasicAuth " << user << " " << password << "\n";
        std::string d = FDir.Path();
        WriteFile(d + "tinyproxy.conf", conf.str());
        FChild = TChild({"tinyproxy", "-d", "-c", d + "tinyproxy.conf"}, d + "tinyproxy.log");
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            if (!FChild.Running()) break;
            if (WaitForPort(FPort, 50)) return;
        }
        FChild.Stop();
    }
    throw std::runtime_error("tinyproxy did not start; see " + FDir.Path());
}

TTinyproxy::~TTinyproxy() {
    FChild.Stop();
}

} // namespace kvtest
