#pragma once
// The socket library binding: one process-wide object over the platform's socket functions.
// Every failure is reported in the Windows Sockets error numbering of the table in
// socket_errors.h, kept per thread as the library keeps it.
#include <cstdint>
#include <functional>
#include <string>

#include "net/socket_errors.h"
#include "platform/handle.h"
#include "platform/socket_type.h"

using TSocket = plat::TSocket;

// The library's constants by name, kept in sock apart from the Windows headers' macros of
// the same meaning (INVALID_SOCKET, SOCKET_ERROR, FD_READ...).
namespace sock {
inline constexpr TSocket InvalidSocket = plat::NoSocket;
inline constexpr int SocketError = -1;
// Socket notification events (the event word's low 16 bits; the error code is the high 16).
inline constexpr uint16_t FdRead = 1, FdWrite = 2, FdOob = 4, FdAccept = 8, FdConnect = 16,
                          FdClose = 32;
// The message that carries a socket notification.
inline constexpr uint32_t AsyncSelectMessage = 0x862;
// What InetAddr answers for a text that is not a dotted address.
inline constexpr uint32_t NoAddress = 0xFFFFFFFFu;
} // namespace sock

// A host name lookup: returns 0 and the IPv4 address (network byte order) or an error code
// (sockerr::HostNotFound ... sockerr::NoData).
using THostResolver = std::function<int(const std::string& name, uint32_t& address)>;

class TmsWinsock {
public:
    // The process's binding; started on first use, cleaned up at exit.
    static TmsWinsock& Instance();
    bool Loaded() const { return FLoaded; }

    // The wrapped functions (socket, setsockopt SO_LINGER, ioctlsocket FIONBIO, WSAAsyncSelect,
    // connect, send, recv, shutdown, closesocket, WSAGetLastError, htons, inet_addr,
    // inet_ntoa, gethostbyname): results as the library gives them, -1 on failure with the
    // code in LastSocketError. Each raises "Winsock not loaded" when there is no library.
    TSocket Socket(int af, int type, int protocol);
    // The same, made non-blocking at once: no mode switch after it.
    TSocket NonBlockingSocket(int af, int type, int protocol);
    int SetLinger(TSocket s, uint16_t onoff, uint16_t linger);
    int SetNonBlocking(TSocket s, bool nonBlocking);
    // Records which events the component wants reported; delivery is done by the waits.
    int AsyncSelect(TSocket s, uint32_t eventMask);
    int Connect(TSocket s, uint32_t address, uint16_t portNetOrder);
    int Send(TSocket s, const void* buffer, int count);
    int Recv(TSocket s, void* buffer, int count);
    // recv with the peek flag: the bytes stay waiting for the next Recv.
    int Peek(TSocket s, void* buffer, int count);
    int Shutdown(TSocket s, int how);
    int CloseSocket(TSocket s);
    int GetLastError();
    uint16_t Htons(uint16_t port);
    uint32_t InetAddr(const std::string& text); // NoAddress when not a dotted address
    std::string InetNtoa(uint32_t address);
    // Returns false and sets the last error when the name has no IPv4 address.
    bool GetHostByName(const std::string& name, uint32_t& address);

    // Notification emulation: which of the asked conditions hold now (no waiting), and the
    // pending error of a connecting socket (SO_ERROR, in the table's numbering).
    bool Ready(TSocket s, bool readable, bool writable);
    int PendingError(TSocket s);

    // Dotted text of the name: the name itself when already dotted, else its first address.
    // Raises EWinsockError with the last error when it has none.
    std::string ResolveHost(const std::string& name);
    // The address of a dotted text; raises with the last error when it is not one.
    uint32_t AddressOf(const std::string& text);

    // Replaces the name lookup (tests: answers without the machine's resolver). An empty
    // function restores the platform's lookup.
    void SetHostResolver(THostResolver resolver) { FResolver = std::move(resolver); }

private:
    TmsWinsock();
    ~TmsWinsock();
    void CheckLoaded() const; // raises "Winsock not loaded"
    bool FLoaded = false;
    THostResolver FResolver;
};

// Sockets for the one handle owner: closed by the binding's closesocket.
struct TSocketTraits {
    using TValue = TSocket;
    static TSocket Invalid() noexcept { return sock::InvalidSocket; }
    static bool Close(TSocket socket) noexcept;
};
using TSocketHandle = plat::THandle<TSocketTraits>;

// The thread's last socket error in the table's numbering (0 when none).
int32_t LastSocketError();
