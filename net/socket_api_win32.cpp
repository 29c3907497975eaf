// The socket binding over Windows Sockets 1.1 (wsock32.dll), bound by name at run time: every
// function is looked up by its name and called with the library's calling convention (stdcall
// on 32-bit Windows); the error numbers are the library's own. Notifications go to the
// presentation's message window (WSAAsyncSelect), where the waits sleep.
//
// The library keeps its last error in the thread's system slot, which any later call of the
// system's may clear (a message loop, the C++ runtime raising an exception): the code of each
// failing library call is kept here too, per thread, for LastSocketError to read after the
// failure has been raised and caught.
#include <winsock2.h> // types and constants only: no function of it is linked

#include <cstring>

#include "net/socket_api.h"
#include "net/socket_errors.h"
#include "net/winsock_library.h"
#include "platform/win32/message_loop.h"

namespace {

using TWSAStartup = int(WINAPI*)(WORD, WSADATA*);
using TWSACleanup = int(WINAPI*)();
using TWSAGetLastError = int(WINAPI*)();
using TWSAAsyncSelect = int(WINAPI*)(SOCKET, HWND, u_int, long);
using Tsocket = SOCKET(WINAPI*)(int, int, int);
using Tsetsockopt = int(WINAPI*)(SOCKET, int, int, const char*, int);
using Tgetsockopt = int(WINAPI*)(SOCKET, int, int, char*, int*);
using Tioctlsocket = int(WINAPI*)(SOCKET, long, u_long*);
using Tconnect = int(WINAPI*)(SOCKET, const sockaddr*, int);
using Tsend = int(WINAPI*)(SOCKET, const char*, int, int);
using Trecv = int(WINAPI*)(SOCKET, char*, int, int);
using Tshutdown = int(WINAPI*)(SOCKET, int);
using Tclosesocket = int(WINAPI*)(SOCKET);
using Thtons = u_short(WINAPI*)(u_short);
using Tinet_addr = unsigned long(WINAPI*)(const char*);
using Tinet_ntoa = char*(WINAPI*)(in_addr);
using Tgethostbyname = hostent*(WINAPI*)(const char*);
using Tselect = int(WINAPI*)(int, fd_set*, fd_set*, fd_set*, const timeval*);

SOCKET S(TSocket s) {
    return static_cast<SOCKET>(s);
}

thread_local int LastFailure = 0;

// Keeps code as the thread's last socket error (and the system's).
void Keep(int code) {
    LastFailure = code;
    ::SetLastError(static_cast<DWORD>(code));
}

} // namespace

// ---- TWinsockLibrary

TWinsockLibrary::TWinsockLibrary(const char* name) {
    // A missing library is a failure of ours to report, never a box of the system's.
    const UINT mode = ::SetErrorMode(SEM_NOOPENFILEERRORBOX);
    FModule.Reset(::LoadLibraryA(name));
    ::SetErrorMode(mode);
}

TWinsockLibrary::~TWinsockLibrary() {
    if (!FStarted) return;
    try {
        Function<TWSACleanup>("WSACleanup")();
    } catch (...) {
        // Nothing to clean up without the function.
    }
}

void TWinsockLibrary::Start() {
    WSADATA data;
    std::memset(&data, 0, sizeof data);
    if (Function<TWSAStartup>("WSAStartup")(MAKEWORD(1, 1), &data) != 0)
        throw EWinsockError(sInvalidWinsockVersion);
    FStarted = true;
}

FARPROC TWinsockLibrary::Address(const char* name) {
    if (!Loaded()) throw EWinsockError(sWinsockNotLoaded);
    for (TFound& found : FFound) {
        if (!found.Name) {
            const FARPROC address = ::GetProcAddress(FModule.Get(), name);
            if (!address) throw EWinsockError(FunctionNotFoundText(name));
            found = TFound{name, address};
            return address;
        }
        if (found.Name == name || std::strcmp(found.Name, name) == 0) return found.Address;
    }
    const FARPROC address = ::GetProcAddress(FModule.Get(), name);
    if (!address) throw EWinsockError(FunctionNotFoundText(name));
    return address;
}

// ---- TmsWinsock

namespace {

TWinsockLibrary& Library() {
    static TWinsockLibrary library("wsock32.dll");
    return library;
}

template <class TFunction> TFunction Fn(const char* name) {
    return Library().Function<TFunction>(name);
}

// A library call's result, its failure's code kept when it equals failure.
template <class T> T Checked(T result, T failure) {
    if (result == failure) Keep(Fn<TWSAGetLastError>("WSAGetLastError")());
    return result;
}

} // namespace

TmsWinsock& TmsWinsock::Instance() {
    static TmsWinsock instance;
    return instance;
}

TmsWinsock::TmsWinsock() : FLoaded(Library().Loaded()) {
    if (FLoaded) Library().Start();
}

TmsWinsock::~TmsWinsock() = default;

TSocket TmsWinsock::Socket(int af, int type, int protocol) {
    CheckLoaded();
    return static_cast<TSocket>(Checked(Fn<Tsocket>("socket")(af, type, protocol), INVALID_SOCKET));
}

TSocket TmsWinsock::NonBlockingSocket(int af, int type, int protocol) {
    const TSocket s = Socket(af, type, protocol);
    if (s == sock::InvalidSocket) return s;
    if (SetNonBlocking(s, true) != 0) {
        const int error = GetLastError();
        CloseSocket(s);
        Keep(error);
        return sock::InvalidSocket;
    }
    return s;
}

int TmsWinsock::SetLinger(TSocket s, uint16_t onoff, uint16_t linger) {
    CheckLoaded();
    // Windows Sockets 1.1 keeps both values in 16 bits.
    const uint16_t value[2] = {onoff, linger};
    return Checked(Fn<Tsetsockopt>("setsockopt")(S(s), SOL_SOCKET, SO_LINGER,
                                                 reinterpret_cast<const char*>(value),
                                                 sizeof value),
                   SOCKET_ERROR);
}

int TmsWinsock::SetNonBlocking(TSocket s, bool nonBlocking) {
    CheckLoaded();
    u_long value = nonBlocking ? 1 : 0;
    return Checked(Fn<Tioctlsocket>("ioctlsocket")(S(s), static_cast<long>(FIONBIO), &value),
                   SOCKET_ERROR);
}

int TmsWinsock::AsyncSelect(TSocket s, uint32_t eventMask) {
    CheckLoaded();
    const HWND window = plat::win32::SocketNotificationWindow();
    // Without a window of messages the waits end at the next tick instead.
    if (!window) return 0;
    return Checked(Fn<TWSAAsyncSelect>("WSAAsyncSelect")(S(s), window, sock::AsyncSelectMessage,
                                                         static_cast<long>(eventMask)),
                   SOCKET_ERROR);
}

int TmsWinsock::Connect(TSocket s, uint32_t address, uint16_t portNetOrder) {
    CheckLoaded();
    sockaddr_in target;
    std::memset(&target, 0, sizeof target);
    target.sin_family = AF_INET;
    target.sin_port = portNetOrder;
    target.sin_addr.s_addr = address;
    return Checked(
        Fn<Tconnect>("connect")(S(s), reinterpret_cast<const sockaddr*>(&target), sizeof target),
        SOCKET_ERROR);
}

int TmsWinsock::Send(TSocket s, const void* buffer, int count) {
    CheckLoaded();
    return Checked(Fn<Tsend>("send")(S(s), static_cast<const char*>(buffer), count, 0),
                   SOCKET_ERROR);
}

int TmsWinsock::Recv(TSocket s, void* buffer, int count) {
    CheckLoaded();
    return Checked(Fn<Trecv>("recv")(S(s), static_cast<char*>(buffer), count, 0), SOCKET_ERROR);
}

int TmsWinsock::Peek(TSocket s, void* buffer, int count) {
    CheckLoaded();
    return Checked(Fn<Trecv>("recv")(S(s), static_cast<char*>(buffer), count, MSG_PEEK),
                   SOCKET_ERROR);
}

int TmsWinsock::Shutdown(TSocket s, int how) {
    CheckLoaded();
    if (Checked(Fn<Tshutdown>("shutdown")(S(s), how), SOCKET_ERROR) == 0) return 0;
    // The peer may have reset or closed the connection already; the sending direction is
    // then shut down as far as anyone can tell.
    return GetLastError() == sockerr::NotConnected ? 0 : sock::SocketError;
}

int TmsWinsock::CloseSocket(TSocket s) {
    CheckLoaded();
    return Checked(Fn<Tclosesocket>("closesocket")(S(s)), SOCKET_ERROR);
}

int TmsWinsock::GetLastError() {
    CheckLoaded();
    Fn<TWSAGetLastError>("WSAGetLastError"); // raises when the library has none
    return LastFailure;
}

uint16_t TmsWinsock::Htons(uint16_t port) {
    CheckLoaded();
    return Fn<Thtons>("htons")(port);
}

uint32_t TmsWinsock::InetAddr(const std::string& text) {
    CheckLoaded();
    return static_cast<uint32_t>(Fn<Tinet_addr>("inet_addr")(text.c_str()));
}

std::string TmsWinsock::InetNtoa(uint32_t address) {
    CheckLoaded();
    in_addr a;
    a.s_addr = address;
    const char* text = Fn<Tinet_ntoa>("inet_ntoa")(a);
    return text ? text : "";
}

bool TmsWinsock::GetHostByName(const std::string& name, uint32_t& address) {
    CheckLoaded();
    if (FResolver) {
        int code = FResolver(name, address);
        if (code != 0) Keep(code);
        return code == 0;
    }
    const hostent* host =
        Checked<const hostent*>(Fn<Tgethostbyname>("gethostbyname")(name.c_str()), nullptr);
    if (!host) return false;
    if (host->h_addrtype != AF_INET || !host->h_addr_list || !host->h_addr_list[0]) {
        Keep(sockerr::NoData);
        return false;
    }
    std::memcpy(&address, host->h_addr_list[0], sizeof address);
    return true;
}

bool TmsWinsock::Ready(TSocket s, bool readable, bool writable) {
    fd_set reads, writes, failures;
    FD_ZERO(&reads);
    FD_ZERO(&writes);
    FD_ZERO(&failures);
    if (readable) FD_SET(S(s), &reads);
    // A connect that failed shows among the failures, not the writable sockets.
    if (writable) {
        FD_SET(S(s), &writes);
        FD_SET(S(s), &failures);
    }
    const timeval now = {0, 0};
    return Fn<Tselect>("select")(0, &reads, &writes, &failures, &now) > 0;
}

int TmsWinsock::PendingError(TSocket s) {
    int value = 0;
    int length = sizeof value;
    if (Checked(Fn<Tgetsockopt>("getsockopt")(S(s), SOL_SOCKET, SO_ERROR,
                                              reinterpret_cast<char*>(&value), &length),
                SOCKET_ERROR) != 0)
        value = LastFailure;
    return value;
}

// The code of the thread's last failing library call; it needs no library to read.
int32_t LastSocketError() {
    return LastFailure;
}
