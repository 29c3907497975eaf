#include "tests/net/script_server.h"

#ifdef _WIN32
#include <winsock2.h> // the test's own sockets (ws2_32): only the program must bind by name
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <chrono>
#include <stdexcept>

namespace nettest {

namespace {

#ifdef _WIN32
using socklen_t = int;
constexpr int NoSignal = 0;
const int SocketStarted = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data);
}();
int NewSocket() {
    return static_cast<int>(::socket(AF_INET, SOCK_STREAM, 0));
}
int Accept(int listen) {
    return static_cast<int>(::accept(listen, nullptr, nullptr));
}
void CloseSocket(int fd) {
    ::closesocket(fd);
}
// Readable within ms, or closed.
bool Readable(int fd, int ms) {
    fd_set reads;
    FD_ZERO(&reads);
    FD_SET(static_cast<SOCKET>(fd), &reads);
    timeval wait{ms / 1000, (ms % 1000) * 1000};
    return ::select(0, &reads, nullptr, nullptr, &wait) > 0;
}
constexpr int ShutBoth = SD_BOTH;
#else
constexpr int NoSignal = MSG_NOSIGNAL;
int NewSocket() {
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}
int Accept(int listen) {
    return ::accept4(listen, nullptr, nullptr, SOCK_CLOEXEC);
}
void CloseSocket(int fd) {
    ::close(fd);
}
bool Readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}
constexpr int ShutBoth = SHUT_RDWR;
#endif

} // namespace

TScriptServer::TScriptServer(TScript script, bool readRequest) {
    FListen = NewSocket();
    int one = 1;
    ::setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one),
                 sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(FListen, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(FListen, 4) != 0 ||
        ::getsockname(FListen, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("script server: cannot listen");
    FPort = ntohs(address.sin_port);
    FThread =
        std::thread([this, script = std::move(script), readRequest] { Run(script, readRequest); });
}

TScriptServer::~TScriptServer() {
    // A client that never connected: wake the accept by connecting ourselves.
    int fd = NewSocket();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(FPort));
    ::shutdown(FListen, ShutBoth);
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    CloseSocket(fd);
    if (FThread.joinable()) FThread.join();
    CloseSocket(FListen);
}

std::string TScriptServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(FPort) + path;
}

std::string TScriptServer::Request() {
    if (FThread.joinable()) FThread.join();
    return FRequest;
}

void TScriptServer::Run(TScript script, bool readRequest) {
    int fd = Accept(FListen);
    if (fd < 0) return;
    if (readRequest) {
        char c;
        while (FRequest.find("\r\n\r\n") == std::string::npos && ::recv(fd, &c, 1, 0) == 1)
            FRequest += c;
    }
    script(fd, FRequest);
    CloseSocket(fd);
}

bool SendAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const auto n =
            ::send(fd, data.data() + done, static_cast<int>(data.size() - done), NoSignal);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void WaitForPeerClose(int fd, int maxSeconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(maxSeconds);
    char buffer[4096];
    while (std::chrono::steady_clock::now() < deadline) {
        if (Readable(fd, 200) && ::recv(fd, buffer, sizeof buffer, 0) <= 0) return;
    }
}

} // namespace nettest
