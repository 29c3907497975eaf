#pragma once
// The transport under the socket components: what moves a connection's bytes. The
// components make every attempt and every wait through it and call the socket binding only
// to make and connect the socket. Plain TCP over the binding is one transport; an encrypting
// one wraps another (its records go through the inner one) and adds a handshake.
//
// No call blocks in non-blocking mode. A call that would block answers sock::SocketError with
// sockerr::WouldBlock as the last error (a handshake step WantRead or WantWrite); the caller
// waits for what WaitFor answers and calls again. Any other failure leaves its code, in the
// table's numbering, as the last error.
#include <memory>

#include "net/socket_api.h"

// The readiness of the socket that a wait waits for.
enum class TWaitFor { Read, Write };

// What one handshake step came to.
enum class THandshakeStep { Done, WantRead, WantWrite, Failed };

class TTransport {
public:
    virtual ~TTransport() = default;

    // The socket the waits watch; sock::InvalidSocket when none is open.
    virtual TSocket Socket() const = 0;
    // One step towards a usable connection, once the TCP connection (and a proxy's tunnel)
    // stands: Done when it is usable; WantRead or WantWrite: call again once the socket is
    // ready so; Failed: the last error says why.
    virtual THandshakeStep Handshake() = 0;
    // Bytes accepted (1..count), or sock::SocketError.
    virtual int Send(const void* buffer, int count) = 0;
    // Bytes received (1..count), 0 once the peer has closed, or sock::SocketError.
    virtual int Receive(void* buffer, int count) = 0;
    // What the socket must become before an operation that waits for `operation` (Read for a
    // receive, Write for a send or the TCP connect) can go on: mostly the operation's own, but
    // an encrypting transport may have to write a record before it can go on receiving, or
    // read one before it can go on sending.
    virtual TWaitFor WaitFor(TWaitFor operation) const = 0;
    // Bytes taken from the socket that Receive has not handed out yet. While it holds some, a
    // wait must not sleep: the socket may never become readable for them.
    virtual bool HoldsBytes() const = 0;
    // Ends the sending direction (an encrypting transport says so to its peer first):
    // 0 or sock::SocketError.
    virtual int Shutdown() = 0;
    // Releases the socket: 0 or sock::SocketError; no socket afterwards either way.
    virtual int Close() = 0;
    // Raises the error of the failure that left code as the last error: the socket error
    // of the code, unless the transport knows better what went wrong.
    [[noreturn]] virtual void RaiseError(int code) const;
};

// Plain TCP over the socket binding.
class TPlainTransport final : public TTransport {
public:
    TPlainTransport() = default; // no socket yet
    explicit TPlainTransport(TSocketHandle socket) : FSocket(std::move(socket)) {}

    TSocket Socket() const override { return FSocket.Get(); }
    THandshakeStep Handshake() override { return THandshakeStep::Done; }
    int Send(const void* buffer, int count) override;
    int Receive(void* buffer, int count) override;
    TWaitFor WaitFor(TWaitFor operation) const override { return operation; }
    // What arrived waits in the socket, where the waits see it.
    bool HoldsBytes() const override { return false; }
    int Shutdown() override;
    int Close() override;

private:
    TSocketHandle FSocket;
};
