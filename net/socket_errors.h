#pragma once
// The socket error table (the Windows Sockets error numbers, their names and their stored
// texts) and the error classes of the internet components.
#include <cstdint>
#include <optional>
#include <string>

#include "net/messages.h"
#include "platform/exception.h"

// The socket error numbers, one row each: X(name, number, text). The texts are the stored
// string resources 40000 + number as the user reads them (the base's says "[0]"). The names
// live in sockerr because the Windows headers define the WSAE... names as macros.
#define KV_SOCKET_ERROR_MAP(X)                                                                     \
    X(Base, 10000, "[0] No Error")                                                                 \
    X(Interrupted, 10004, "[10004] Interrupted function call")                                     \
    X(BadFile, 10009, "[10009] Bad file number")                                                   \
    X(AccessDenied, 10013, "[10013] Permission denied.")                                           \
    X(BadAddress, 10014, "[10014] Bad address")                                                    \
    X(InvalidArgument, 10022, "[10022] Invalid argument")                                          \
    X(TooManyOpenFiles, 10024, "[10024] Too many open files")                                      \
    X(WouldBlock, 10035, "[10035] Resource temporarily not available")                             \
    X(InProgress, 10036, "[10036] Operation now in progress")                                      \
    X(AlreadyInProgress, 10037, "[10037] Operation already in progress")                           \
    X(NotSocket, 10038, "[10038] Socket operation on non-socket")                                  \
    X(DestinationRequired, 10039, "[10039] Destination address required")                          \
    X(MessageTooLong, 10040, "[10040] Message too long")                                           \
    X(WrongProtocolType, 10041, "[10041] Protocol wrong type for socket")                          \
    X(BadProtocolOption, 10042, "[10042] Bad protocol option")                                     \
    X(ProtocolNotSupported, 10043, "[10043] Protocol not supported")                               \
    X(SocketTypeNotSupported, 10044, "[10044] Socket type not supported")                          \
    X(OperationNotSupported, 10045, "[10045] Operation not supported")                             \
    X(ProtocolFamilyNotSupported, 10046, "[10046] Protocol family not supported")                  \
    X(AddressFamilyNotSupported, 10047, "[10047] Address family not supported by protocol family") \
    X(AddressInUse, 10048, "[10048] Address already in use")                                       \
    X(AddressNotAvailable, 10049, "[10049] Cannot assign requested address")                       \
    X(NetworkDown, 10050, "[10050] Network is down")                                               \
    X(NetworkUnreachable, 10051, "[10051] Network is unreachable")                                 \
    X(NetworkReset, 10052, "[10052] Network dropped connection or reset")                          \
    X(ConnectionAborted, 10053, "[10053] Software caused connection abort")                        \
    X(ConnectionReset, 10054, "[10054] Connection reset by peer")                                  \
    X(NoBufferSpace, 10055, "[10055] No buffer space available")                                   \
    X(AlreadyConnected, 10056, "[10056] Socket is already connected")                              \
    X(NotConnected, 10057, "[10057] Socket is not connected")                                      \
    X(Shutdown, 10058, "[10058] Can't send after socket shutdown")                                 \
    X(TooManyReferences, 10059, "[10059] Too many references, can't splice")                       \
    X(TimedOut, 10060, "[10060] Connection timed out")                                             \
    X(ConnectionRefused, 10061, "[10061] Connection refused")                                      \
    X(TooManyLinks, 10062, "[10062] Too many levels of symbolic links")                            \
    X(NameTooLong, 10063, "[10063] File name too long")                                            \
    X(HostDown, 10064, "[10064] Host is down")                                                     \
    X(HostUnreachable, 10065, "[10065] No Route to Host")                                          \
    X(NotEmpty, 10066, "[10066] Directory not empty")                                              \
    X(TooManyProcesses, 10067, "[10067] Too many processes")                                       \
    X(TooManyUsers, 10068, "[10068] Too many users")                                               \
    X(DiskQuota, 10069, "[10069] Disc Quota Exceeded")                                             \
    X(StaleHandle, 10070, "[10070] Stale NFS file handle")                                         \
    X(TooManyRemotes, 10071, "[10071] Too many levels of remote in path")                          \
    X(SystemNotReady, 10091, "[10091] Network subsystem is unavailable")                           \
    X(VersionNotSupported, 10092, "[10092] WINSOCK DLL Version out of range")                      \
    X(NotInitialised, 10093, "[10093] Successful WSAStartup() not yet performed")                  \
    X(Disconnecting, 10094, "[10094] Graceful shutdown in progress")                               \
    X(HostNotFound, 11001, "[11001] Host not found")                                               \
    X(TryAgain, 11002, "[11002] Non-Authoritative Host not found")                                 \
    X(NoRecovery, 11003, "[11003] Non-Recoverable errors: FORMERR, REFUSED, NOTIMP")               \
    X(NoData, 11004, "[11004] Valid name, no data record of requested type")

namespace sockerr {
#define KV_SOCKET_ERROR_NAME(name, number, text) inline constexpr int name = number;
KV_SOCKET_ERROR_MAP(KV_SOCKET_ERROR_NAME)
#undef KV_SOCKET_ERROR_NAME
} // namespace sockerr

// The stored text for a socket error number, or none.
std::optional<std::string> SocketErrorText(int code);

// The suite's general error class; none of the socket or HTTP operations raises it.
class EmsError : public Exception {
public:
    using Exception::Exception;
};

class EmsTimedOutError : public Exception {
public:
    EmsTimedOutError() : Exception(sTimedOut) {}
};

class EmsCanceledError : public Exception {
public:
    EmsCanceledError() : Exception(sCanceled) {}
};

class EmsTooMuchDataError : public Exception {
public:
    EmsTooMuchDataError() : Exception(sTooMuchData) {}
};

// A response body longer than the client takes (its Limit in bytes).
class EmsBodyTooLargeError : public Exception {
public:
    explicit EmsBodyTooLargeError(int64_t limit) : Exception(BodyTooLargeText(limit)) {}
};

// Socket library errors. ErrorCode is the Windows Sockets error number when the error came
// from a code (RaiseSocketError), 0 for the binding's own messages.
class EWinsockError : public Exception {
public:
    explicit EWinsockError(std::string message, int errorCode = 0)
        : Exception(std::move(message)), ErrorCode(errorCode) {}
    int ErrorCode;
};

// Raises EWinsockError with the text for the code (read as unsigned 16 bits), or
// "Winsock error no " and the code when the table holds none.
[[noreturn]] void RaiseSocketError(int code);
