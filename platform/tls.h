#pragma once
// TLS client sessions: the platform's TLS library behind one header (OpenSSL's libssl on
// POSIX, openssl/tls.cpp). A session owns no socket: its records go through a pipe that its
// user gives it (the connection's transport), so every wait stays the user's own.
//
// What is trusted is fixed here, with no way to turn checking off: TLS 1.2 or newer, a
// certificate chain that ends in the system's trust store or in the certificates of one
// named file, and a certificate that names the host (or its IP address).
#include <memory>
#include <string>

namespace plat {

// What one call of a session came to.
enum class TTlsStatus {
    Done,      // finished (a handshake, a shutdown) or bytes moved (a read, a write)
    WantRead,  // call again once the connection is readable
    WantWrite, // call again once the connection is writable
    Closed,    // the peer ended the session properly (close-notify)
    Cut,       // the connection ended without close-notify: what came may be cut short
    Failed     // Failure() says why; empty when the pipe failed (its last error says why)
};

// The connection's raw bytes under a session.
class TTlsPipe {
public:
    static constexpr int WouldBlock = -2;
    // Bytes moved (1..count); 0: the peer has closed (Receive only); WouldBlock: again once
    // the connection is ready; -1: failed, with the reason in the thread's last error.
    virtual int Send(const void* buffer, int count) = 0;
    virtual int Receive(void* buffer, int count) = 0;

protected:
    ~TTlsPipe() = default;
};

// What sessions trust: the system's store and, when caFile is named, the PEM certificates of
// that file besides. Shared by the sessions of a client.
class TTlsTrust {
public:
    // Raises Exception, naming the file, when it can't be read or holds no certificate.
    explicit TTlsTrust(const std::string& caFile);
    ~TTlsTrust();
    TTlsTrust(const TTlsTrust&) = delete;
    TTlsTrust& operator=(const TTlsTrust&) = delete;
    const std::string& CAFile() const { return FCAFile; }

private:
    friend class TTlsSession;
    struct TState;
    std::unique_ptr<TState> FState;
    std::string FCAFile;
};

// One client session with host (a name, sent as the server name, or a dotted address).
class TTlsSession {
public:
    TTlsSession(const TTlsTrust& trust, const std::string& host, TTlsPipe& pipe);
    ~TTlsSession();
    TTlsSession(const TTlsSession&) = delete;
    TTlsSession& operator=(const TTlsSession&) = delete;

    // One step of the handshake: Done once the peer is verified and the session usable.
    TTlsStatus Handshake();
    // Bytes moved (1..count), or 0 with status saying why none.
    int Read(void* buffer, int count, TTlsStatus& status);
    int Write(const void* buffer, int count, TTlsStatus& status);
    // Says close-notify once, without waiting for the peer's: there is nothing left to read.
    void Shutdown();
    // Bytes taken from the pipe that can be read without more from it.
    bool HoldsBytes() const;
    // After Failed: what was wrong, as a reader of the log takes it.
    const std::string& Failure() const { return FFailure; }

private:
    struct TState;
    std::unique_ptr<TState> FState;
    std::string FFailure;
};

} // namespace plat
