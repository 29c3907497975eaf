// The socket binding over POSIX sockets: the one file of net/ that uses the operating
// system's headers. Every failure is turned into the Windows Sockets numbering by the
// platform's one errno table and kept in the platform's one last error.
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/socket_api.h"
#include "net/socket_errors.h"
#include "platform/errors.h"
#include "platform/posix/eintr.h"

namespace {

int Fail(int e) {
    plat::SetLastError(plat::SocketErrorFromOs(e));
    return sock::SocketError;
}

int MapAddrInfoError(int e) {
    switch (e) {
    case EAI_NONAME:
        return sockerr::HostNotFound;
    case EAI_AGAIN:
        return sockerr::TryAgain;
    case EAI_FAIL:
        return sockerr::NoRecovery;
#ifdef EAI_NODATA
    case EAI_NODATA:
        return sockerr::NoData;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
        return sockerr::NoData;
#endif
    case EAI_MEMORY:
        return sockerr::NoBufferSpace;
    case EAI_SYSTEM:
        return plat::SocketErrorFromOs(errno);
    default:
        return sockerr::NoRecovery;
    }
}

int Fd(TSocket s) {
    return static_cast<int>(s);
}

} // namespace

TmsWinsock& TmsWinsock::Instance() {
    static TmsWinsock instance;
    return instance;
}

// POSIX sockets need no start-up: the library is always there.
TmsWinsock::TmsWinsock() : FLoaded(true) {}
TmsWinsock::~TmsWinsock() = default;

namespace {

TSocket NewSocket(int af, int type, int protocol, int flags) {
    int domain = af == 2 ? AF_INET : af;
    int kind = type == 1 ? SOCK_STREAM : type == 2 ? SOCK_DGRAM : type;
    int fd = ::socket(domain, kind | SOCK_CLOEXEC | flags, protocol);
    if (fd < 0) return Fail(errno);
    return fd;
}

} // namespace

TSocket TmsWinsock::Socket(int af, int type, int protocol) {
    CheckLoaded();
    return NewSocket(af, type, protocol, 0);
}

TSocket TmsWinsock::NonBlockingSocket(int af, int type, int protocol) {
    CheckLoaded();
    return NewSocket(af, type, protocol, SOCK_NONBLOCK);
}

int TmsWinsock::SetLinger(TSocket s, uint16_t onoff, uint16_t linger) {
    CheckLoaded();
    struct linger value {
        onoff, linger
    };
    if (::setsockopt(Fd(s), SOL_SOCKET, SO_LINGER, &value, sizeof value) != 0) return Fail(errno);
    return 0;
}

int TmsWinsock::SetNonBlocking(TSocket s, bool nonBlocking) {
    CheckLoaded();
    int flags = ::fcntl(Fd(s), F_GETFL);
    if (flags < 0) return Fail(errno);
    flags = nonBlocking ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
    if (::fcntl(Fd(s), F_SETFL, flags) != 0) return Fail(errno);
    return 0;
}

int TmsWinsock::AsyncSelect(TSocket s, uint32_t) {
    CheckLoaded();
    // Notifications are produced by the waits themselves from the socket's readiness.
    if (s == sock::InvalidSocket) return Fail(EBADF);
    return 0;
}

int TmsWinsock::Connect(TSocket s, uint32_t address, uint16_t portNetOrder) {
    CheckLoaded();
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = portNetOrder;
    target.sin_addr.s_addr = address;
    const int r = plat::posix::RetryInterrupted(
        [&] { return ::connect(Fd(s), reinterpret_cast<sockaddr*>(&target), sizeof target); });
    if (r != 0) return Fail(errno);
    return 0;
}

int TmsWinsock::Send(TSocket s, const void* buffer, int count) {
    CheckLoaded();
    // No SIGPIPE: a peer that has gone is an error code like any other.
    const ssize_t n = plat::posix::RetryInterrupted(
        [&] { return ::send(Fd(s), buffer, static_cast<size_t>(count), MSG_NOSIGNAL); });
    if (n < 0) return Fail(errno);
    return static_cast<int>(n);
}

int TmsWinsock::Recv(TSocket s, void* buffer, int count) {
    CheckLoaded();
    const ssize_t n = plat::posix::RetryInterrupted(
        [&] { return ::recv(Fd(s), buffer, static_cast<size_t>(count), 0); });
    if (n < 0) return Fail(errno);
    return static_cast<int>(n);
}

int TmsWinsock::Peek(TSocket s, void* buffer, int count) {
    CheckLoaded();
    const ssize_t n = plat::posix::RetryInterrupted(
        [&] { return ::recv(Fd(s), buffer, static_cast<size_t>(count), MSG_PEEK); });
    if (n < 0) return Fail(errno);
    return static_cast<int>(n);
}

int TmsWinsock::Shutdown(TSocket s, int how) {
    CheckLoaded();
    int mode = how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : SHUT_RDWR;
    if (::shutdown(Fd(s), mode) != 0) {
        // The peer may have reset or closed the connection already; the sending direction
        // is then shut down as far as anyone can tell.
        if (errno == ENOTCONN) return 0;
        return Fail(errno);
    }
    return 0;
}

int TmsWinsock::CloseSocket(TSocket s) {
    CheckLoaded();
    // close() releases the descriptor even when it reports EINTR; never retry it.
    if (::close(Fd(s)) != 0 && errno != EINTR) return Fail(errno);
    return 0;
}

int TmsWinsock::GetLastError() {
    CheckLoaded();
    return plat::GetLastError();
}

uint16_t TmsWinsock::Htons(uint16_t port) {
    CheckLoaded();
    return htons(port);
}

uint32_t TmsWinsock::InetAddr(const std::string& text) {
    CheckLoaded();
    return ::inet_addr(text.c_str());
}

std::string TmsWinsock::InetNtoa(uint32_t address) {
    CheckLoaded();
    char buffer[INET_ADDRSTRLEN] = {};
    in_addr a{};
    a.s_addr = address;
    ::inet_ntop(AF_INET, &a, buffer, sizeof buffer);
    return buffer;
}

bool TmsWinsock::GetHostByName(const std::string& name, uint32_t& address) {
    CheckLoaded();
    if (FResolver) {
        int code = FResolver(name, address);
        if (code != 0) plat::SetLastError(code);
        return code == 0;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    int e = ::getaddrinfo(name.c_str(), nullptr, &hints, &result);
    if (e != 0) {
        plat::SetLastError(MapAddrInfoError(e));
        return false;
    }
    bool found = false;
    for (addrinfo* ai = result; ai; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && ai->ai_addr) {
            address = reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
            found = true;
            break;
        }
    }
    ::freeaddrinfo(result);
    if (!found) plat::SetLastError(sockerr::NoData);
    return found;
}

bool TmsWinsock::Ready(TSocket s, bool readable, bool writable) {
    pollfd p{Fd(s), static_cast<short>((readable ? POLLIN : 0) | (writable ? POLLOUT : 0)), 0};
    const int r = plat::posix::RetryInterrupted([&] { return ::poll(&p, 1, 0); });
    return r > 0 && p.revents != 0;
}

int TmsWinsock::PendingError(TSocket s) {
    int value = 0;
    socklen_t length = sizeof value;
    if (::getsockopt(Fd(s), SOL_SOCKET, SO_ERROR, &value, &length) != 0) value = errno;
    return plat::SocketErrorFromOs(value);
}

int32_t LastSocketError() {
    return plat::GetLastError();
}
