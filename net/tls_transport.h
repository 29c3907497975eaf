#pragma once
// TLS over another transport (plain TCP, or a proxy's tunnel through it): the records go
// through the inner transport, and the waits watch its socket for what the session wants.
#include <memory>
#include <string>

#include "net/transport.h"
#include "platform/exception.h"
#include "platform/tls.h"

// What a TLS session found wrong: an untrusted, expired or misnamed certificate, a protocol
// too old, a handshake or record the peer got wrong.
class ETlsError : public Exception {
public:
    using Exception::Exception;
};

class TTlsTransport final : public TTransport {
public:
    // host: the name the certificate must carry (or the dotted address it must hold).
    TTlsTransport(std::unique_ptr<TTransport> inner, const plat::TTlsTrust& trust,
                  const std::string& host);

    TSocket Socket() const override { return FInner->Socket(); }
    THandshakeStep Handshake() override;
    int Send(const void* buffer, int count) override;
    // A close without close-notify fails as a reset connection does: what came may be cut.
    int Receive(void* buffer, int count) override;
    TWaitFor WaitFor(TWaitFor operation) const override;
    bool HoldsBytes() const override { return FSession.HoldsBytes(); }
    // Says close-notify once (the peer may be gone: nothing is waited for), then ends the
    // sending direction.
    int Shutdown() override;
    int Close() override { return FInner->Close(); }
    // What the session found wrong, or the inner transport's error.
    [[noreturn]] void RaiseError(int code) const override;

private:
    // The inner transport as the session's pipe.
    class TPipe final : public plat::TTlsPipe {
    public:
        explicit TPipe(TTransport& inner) : FInner(inner) {}
        int Send(const void* buffer, int count) override;
        int Receive(void* buffer, int count) override;

    private:
        TTransport& FInner;
    };

    // A call's result in the transport's terms (bytes, 0 or sock::SocketError with its code).
    int Result(int bytes, plat::TTlsStatus status, bool receiving);

    std::unique_ptr<TTransport> FInner;
    TPipe FPipe;
    plat::TTlsSession FSession;
    std::string FHost;
    TWaitFor FWant = TWaitFor::Read; // what the session waits for after its last call
    bool FWanting = false;           // whether its last call is waiting
    std::string FFailure;            // the message of what the session found wrong
};
