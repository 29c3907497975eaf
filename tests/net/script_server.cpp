#include "tests/net/script_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace nettest {

TScriptServer::TScriptServer(TScript script, bool readRequest) {
    FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
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
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(FPort));
    ::shutdown(FListen, SHUT_RDWR);
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::close(fd);
    if (FThread.joinable()) FThread.join();
    ::close(FListen);
}

std::string TScriptServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(FPort) + path;
}

std::string TScriptServer::Request() {
    if (FThread.joinable()) FThread.join();
    return FRequest;
}

void TScriptServer::Run(TScript script, bool readRequest) {
    int fd = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    if (readRequest) {
        char c;
        while (FRequest.find("\r\n\r\n") == std::string::npos && ::recv(fd, &c, 1, 0) == 1)
            FRequest += c;
    }
    script(fd, FRequest);
    ::close(fd);
}

void SendAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

void WaitForPeerClose(int fd, int maxSeconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(maxSeconds);
    char buffer[4096];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 200) > 0 && ::recv(fd, buffer, sizeof buffer, 0) <= 0) return;
    }
}

} // namespace nettest
