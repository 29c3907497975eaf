// The socket binding over POSIX sockets: the one file of net/ that uses the operating
// system's headers. Every failure is turned into the Windows Sockets numbering.
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

namespace {

thread_local int tLastError = 0;

int MapErrno(int e) {
    switch (e) {
    case 0:
        return 0;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
#endif
    case EWOULDBLOCK:
    case EINPROGRESS:
        return 10035;
    case EINTR:
        return 10004;
    case EBADF:
        return 10009;
    case EACCES:
    case EPERM:
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return 10022;
    case EMFILE:
    case ENFILE:
        return 10024;
    case EALREADY:
        return 10037;
    case ENOTSOCK:
        return 10038;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return 10040;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case ESOCKTNOSUPPORT:
        return 10044;
    case EOPNOTSUPP:
        return 10045;
    case EPFNOSUPPORT:
        return 10046;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return 10048;
    case EADDRNOTAVAIL:
        return 10049;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return 10051;
    case ENETRESET:
        return 10052;
    case ECONNABORTED:
        return 10053;
    case ECONNRESET:
    case EPIPE:
        return 10054;
    case ENOBUFS:
    case ENOMEM:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return 10057;
    case ESHUTDOWN:
        return 10058;
    case ETOOMANYREFS:
        return 10059;
    case ETIMEDOUT:
        return 10060;
    case ECONNREFUSED:
        return 10061;
    case ELOOP:
        return 10062;
    case ENAMETOOLONG:
        return 10063;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return 10065;
    case ENOTEMPTY:
        return 10066;
    case EUSERS:
        return 10068;
    case EDQUOT:
        return 10069;
    case ESTALE:
        return 10070;
    case EREMOTE:
        return 10071;
    default:
        return e; // no counterpart: reported as "Winsock error no " and the number
    }
}

int Fail(int e) {
    tLastError = MapErrno(e);
    return SOCKET_ERROR;
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
        return MapErrno(errno);
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

TSocket TmsWinsock::Socket(int af, int type, int protocol) {
    CheckLoaded();
    int domain = af == 2 ? AF_INET : af;
    int kind = type == 1 ? SOCK_STREAM : type == 2 ? SOCK_DGRAM : type;
    int fd = ::socket(domain, kind | SOCK_CLOEXEC, protocol);
    if (fd < 0) return Fail(errno);
    return fd;
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
    if (s == INVALID_SOCKET) return Fail(EBADF);
    return 0;
}

int TmsWinsock::Connect(TSocket s, uint32_t address, uint16_t portNetOrder) {
    CheckLoaded();
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = portNetOrder;
    target.sin_addr.s_addr = address;
    int r;
    do r = ::connect(Fd(s), reinterpret_cast<sockaddr*>(&target), sizeof target);
    while (r != 0 && errno == EINTR);
    if (r != 0) return Fail(errno);
    return 0;
}

int TmsWinsock::Send(TSocket s, const void* buffer, int count) {
    CheckLoaded();
    ssize_t n;
    // No SIGPIPE: a peer that has gone is an error code like any other.
    do n = ::send(Fd(s), buffer, static_cast<size_t>(count), MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    if (n < 0) return Fail(errno);
    return static_cast<int>(n);
}

int TmsWinsock::Recv(TSocket s, void* buffer, int count) {
    CheckLoaded();
    ssize_t n;
    do n = ::recv(Fd(s), buffer, static_cast<size_t>(count), 0);
    while (n < 0 && errno == EINTR);
    if (n < 0) return Fail(errno);
    return static_cast<int>(n);
}

int TmsWinsock::Peek(TSocket s, void* buffer, int count) {
    CheckLoaded();
    ssize_t n;
    do n = ::recv(Fd(s), buffer, static_cast<size_t>(count), MSG_PEEK);
    while (n < 0 && errno == EINTR);
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
    return tLastError;
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
        if (code != 0) tLastError = code;
        return code == 0;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    int e = ::getaddrinfo(name.c_str(), nullptr, &hints, &result);
    if (e != 0) {
        tLastError = MapAddrInfoError(e);
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
    if (!found) tLastError = sockerr::NoData;
    return found;
}

bool TmsWinsock::Ready(TSocket s, bool readable, bool writable) {
    pollfd p{Fd(s), static_cast<short>((readable ? POLLIN : 0) | (writable ? POLLOUT : 0)), 0};
    int r;
    do r = ::poll(&p, 1, 0);
    while (r < 0 && errno == EINTR);
    return r > 0 && p.revents != 0;
}

int TmsWinsock::PendingError(TSocket s) {
    int value = 0;
    socklen_t length = sizeof value;
    if (::getsockopt(Fd(s), SOL_SOCKET, SO_ERROR, &value, &length) != 0) value = errno;
    return MapErrno(value);
}

int32_t LastSocketError() {
    return TmsWinsock::Instance().GetLastError();
}
