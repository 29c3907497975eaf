#include "net/tls_transport.h"

#include <utility>

#include "net/socket_errors.h"
#include "platform/errors.h"

int TTlsTransport::TPipe::Send(const void* buffer, int count) {
    const int n = FInner.Send(buffer, count);
    if (n != sock::SocketError) return n;
    return plat::GetLastError() == sockerr::WouldBlock ? WouldBlock : -1;
}

int TTlsTransport::TPipe::Receive(void* buffer, int count) {
    const int n = FInner.Receive(buffer, count);
    if (n != sock::SocketError) return n;
    return plat::GetLastError() == sockerr::WouldBlock ? WouldBlock : -1;
}

TTlsTransport::TTlsTransport(std::unique_ptr<TTransport> inner, const plat::TTlsTrust& trust,
                             const std::string& host)
    : FInner(std::move(inner)), FPipe(*FInner), FSession(trust, host, FPipe), FHost(host) {}

THandshakeStep TTlsTransport::Handshake() {
    switch (FSession.Handshake()) {
    case plat::TTlsStatus::Done:
        return THandshakeStep::Done;
    case plat::TTlsStatus::WantRead:
        return THandshakeStep::WantRead;
    case plat::TTlsStatus::WantWrite:
        return THandshakeStep::WantWrite;
    default:
        break;
    }
    // The inner transport's failure keeps its own code; what the session found wrong is
    // no socket error, and must not read as a missing connection.
    FFailure.clear();
    if (!FSession.Failure().empty()) {
        FFailure = "TLS handshake with " + FHost + " failed: " + FSession.Failure();
        plat::SetLastError(sockerr::ConnectionAborted);
    }
    return THandshakeStep::Failed;
}

int TTlsTransport::Result(int bytes, plat::TTlsStatus status, bool receiving) {
    FWanting = false;
    if (bytes > 0) return bytes;
    switch (status) {
    case plat::TTlsStatus::WantRead:
    case plat::TTlsStatus::WantWrite:
        FWanting = true;
        FWant = status == plat::TTlsStatus::WantRead ? TWaitFor::Read : TWaitFor::Write;
        plat::SetLastError(sockerr::WouldBlock);
        return sock::SocketError;
    case plat::TTlsStatus::Closed:
        if (receiving) return 0;
        plat::SetLastError(sockerr::Shutdown);
        return sock::SocketError;
    case plat::TTlsStatus::Cut:
        plat::SetLastError(sockerr::ConnectionReset);
        return sock::SocketError;
    default:
        FFailure.clear();
        if (!FSession.Failure().empty()) {
            FFailure = "TLS connection with " + FHost + " failed: " + FSession.Failure();
            plat::SetLastError(sockerr::ConnectionAborted);
        }
        return sock::SocketError;
    }
}

int TTlsTransport::Send(const void* buffer, int count) {
    plat::TTlsStatus status;
    const int n = FSession.Write(buffer, count, status);
    return Result(n, status, false);
}

int TTlsTransport::Receive(void* buffer, int count) {
    plat::TTlsStatus status;
    const int n = FSession.Read(buffer, count, status);
    return Result(n, status, true);
}

TWaitFor TTlsTransport::WaitFor(TWaitFor operation) const {
    return FWanting ? FWant : operation;
}

int TTlsTransport::Shutdown() {
    // close-notify is a courtesy to a peer that may have closed already: whatever its send
    // meets leaves no trace.
    const int error = plat::GetLastError();
    FSession.Shutdown();
    plat::SetLastError(error);
    const int r = FInner->Shutdown();
    // A peer that had closed may answer close-notify with a reset: the sending direction
    // is over all the same.
    if (r != 0 && plat::GetLastError() == sockerr::NotConnected) {
        plat::SetLastError(error);
        return 0;
    }
    return r;
}

void TTlsTransport::RaiseError(int code) const {
    if (!FFailure.empty()) throw ETlsError(FFailure);
    RaiseSocketError(code);
}
