#pragma once
// The socket components: TmsSocketBase (transport, mode, time counter), TmsSocket (state,
// events, send and receive) and TmsClientSocket (host, proxy, connect).
//
// In non-blocking mode (the default) every wait makes an attempt, sleeps in the event loop
// until the socket is ready as the transport wants it or an event or tick is due (never
// while the transport holds bytes already received), lets the user interface process its
// pending events, and tries again, until the work is done, the peer has closed, an error is
// reported, TimeOut seconds pass without progress, or Canceled is set.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "net/socket_api.h"
#include "net/time_counter.h"
#include "net/transport.h"
#include "platform/tls.h"

class TStream;
class TmsSocketBase;

using TmsNotifyEvent = std::function<void(TmsSocketBase* Sender)>;
using TmsProgressEvent =
    std::function<void(TmsSocketBase* Sender, int32_t Perc, int32_t ByteCount, int32_t LineCount)>;

class TmsSocketBase {
public:
    TmsSocketBase();
    // Releases the time counter and the transport, whose open socket is closed without a
    // word: no shutdown, no events, no errors.
    virtual ~TmsSocketBase();
    TmsSocketBase(const TmsSocketBase&) = delete;
    TmsSocketBase& operator=(const TmsSocketBase&) = delete;

    std::string Version() const { return "2.1"; }
    void SetVersion(const std::string&) {} // read-only: assigning has no effect

    int32_t BufferSize = 32768; // block size of stream transfers

    // Switches the open socket's mode (false: non-blocking with a time counter; true:
    // blocking, no notifications, no time-outs), then Blocking := flag. Raises on failure.
    void SetBlockingMode(bool blocking);

    // The time counter; each does nothing (or answers false) in blocking mode.
    void StartTimeCounter();
    void StopTimeCounter();
    void ResetTimeCounter();
    // Also true when a bound of Bounds is exceeded: it ends a wait as a time-out does.
    bool TimedOut() const;
    bool HasTimeCounter() const { return FTimeCounter != nullptr; }

    TSocket Socket() const { return FTransport->Socket(); }
    int32_t LastResult() const { return FLastResult; }
    uint16_t LastError() const { return FLastError; }

    // Bounds on the current phase beyond the inactivity time-out (non-blocking mode only).
    TTransferBounds Bounds;

    // A socket notification: for sock::AsyncSelectMessage the word is (error << 16) | event.
    virtual void HandleSocketNotification(uint32_t message, uint32_t word) = 0;

protected:
    // Bytes arrived: the inactivity counter starts again and the bounds count them.
    void NoteReceived(int64_t bytes);
    // The mode's own state (time counter, Blocking) for a socket already in that mode.
    void AdoptMode(bool blocking);

    int32_t FTimeOut = 60;
    bool FBlocking = false;
    std::unique_ptr<TmsTimeCounter> FTimeCounter;
    // Never empty: a plain transport without a socket until a connection opens.
    std::unique_ptr<TTransport> FTransport;
    int32_t FLastResult = 0;
    uint16_t FLastError = 0;
};

class TmsSocket : public TmsSocketBase {
public:
    TmsSocket();

    int32_t TimeOut() const { return FTimeOut; }
    void SetTimeOut(int32_t seconds); // also the time counter's

    TmsNotifyEvent OnConnected, OnDisconnected;
    TmsProgressEvent OnTransferProgress;
    // Events of their own for read, write and out-of-band notifications; unassigned here.
    TmsNotifyEvent OnRead, OnWrite, OnOOB;

    uint8_t LingerOnOff = 0;
    uint16_t LingerTime = 0;
    int32_t SocketType = 1; // stream
    int32_t Protocol = 0;

    bool Canceled = false; // ends every wait with EmsCanceledError when set
    bool Connected() const { return FConnected; }
    bool ClosedByPeer() const { return FClosedByPeer; }

    void HandleSocketNotification(uint32_t message, uint32_t word) override;
    // Connected, ClosedByPeer, Canceled and LastError cleared; the time counter reset.
    virtual void ResetState();

    void SendBuffer(const void* bytes, int32_t count);
    // Sends the stream from start in BufferSize blocks; nothing for an empty stream.
    void SendStream(TStream& stream, int64_t start);
    // One line up to its LF (the first CR removed); the bytes so far when the peer closes.
    // Raises EmsTooMuchDataError when 4094 bytes arrive without a line end.
    std::string ReceiveLine();
    // Reads expected bytes (0 or less: until the peer closes) into the stream from start.
    // Raises sockerr::ConnectionReset when the peer closes before all arrived.
    void ReceiveStream(TStream& stream, int32_t expected, int64_t start);
    // A chunked body into the stream. A size line that is not a hexadecimal number of at
    // most 32 bits raises Exception "Error receiving the stream".
    void ReceiveChunked(TStream& stream);
    // Shuts the sending direction down and closes; nothing when no socket is open.
    void Disconnect();

protected:
    // The wait between two attempts of an operation that waits for `operation`: sleeps (see
    // AwaitReady) and lets the user interface process its pending events. Nothing in blocking
    // mode.
    void WaitStep(TWaitFor operation);
    // Sleeps until the socket is ready as the transport wants it for the operation, an event
    // arrives or a tick is due; not at all while the transport holds bytes already received.
    void AwaitReady(TWaitFor operation);
    // The connection's bytes move through transport from now on (the old one is closed
    // without a word, the input buffer dropped). An encrypting transport wraps the plain one
    // this way; the fuzz targets feed the response parsing from memory.
    void UseTransport(std::unique_ptr<TTransport> transport);
    // Lets the open socket go without a word: no shutdown, no events, the last error kept.
    void DropTransport() { FTransport = std::make_unique<TPlainTransport>(); }
    // Delivers the close notification once, when a receive found the peer gone.
    void NoticeClose();
    // The wait rule's judgment of a failed attempt: returns normally to retry, raises otherwise.
    void CheckAttempt(int result);
    // Ends a wait: stops the counter, then raises for a time-out or a cancel.
    void EndWait();
    void FireProgress(int32_t perc, int32_t byteCount, int32_t lineCount);
    // ReceiveStream with the progress counted from base.
    void ReceiveInto(TStream& stream, int32_t expected, int64_t start, int64_t base);
    // Bytes received but not yet handed out: one receive takes a whole response head (and
    // what follows it) at once; lines are cut from here and a body takes what is left first.
    int32_t Buffered() const { return FInEnd - FInStart; }
    // One receive into the empty input buffer: its result, bytes or sock::SocketError.
    int32_t FillInput();
    // Moves up to count buffered bytes to target; the number moved.
    int32_t TakeInput(char* target, int32_t count);
    void DropInput() { FInStart = FInEnd = 0; }

    bool FConnected = false, FClosedByPeer = false;
    uint32_t FEventMask = 0;        // notifications asked for (AsyncSelect)
    bool FCloseNotified = false;    // the close notification was delivered for this socket
    bool FConnectNotified = false;  // the connect notification was delivered for this socket
    bool FAwaitingReply = false;    // sent since the last receive: the peer can't have answered
    std::unique_ptr<char[]> FInput; // allocated at the first receive
    int32_t FInStart = 0, FInEnd = 0;
};

class TmsClientSocket : public TmsSocket {
public:
    const std::string& Host() const { return FHost; }
    // "name:port" sets both when no proxy is set (a port that isn't a number gives
    // DefaultPort); otherwise the whole text, and Port := DefaultPort when above 0.
    void SetHost(const std::string& text);
    int16_t Port() const { return FPort; }
    void SetPort(int16_t port) { FPort = port; }
    const std::string& Proxy() const { return FProxy; }
    // "name:port" sets Proxy and ProxyPort (0 when not a number); an empty text switches
    // the proxy off and assigns Host again.
    void SetProxy(const std::string& text);
    int16_t ProxyPort() const { return FProxyPort; }
    void SetProxyPort(int16_t port) { FProxyPort = port; }
    bool Blocking() const { return FBlocking; }
    void SetBlocking(bool blocking) { FBlocking = blocking; } // used by the next Connect

    int16_t DefaultPort = 0;
    TmsNotifyEvent OnConnecting;

    // TLS on the next Connect: to Host (by name, or its address) through the proxy's tunnel
    // when a proxy is set, verified against the system's trust store and CAFile.
    bool Secure = false;
    const std::string& CAFile() const { return FCAFile; }
    // A file of PEM certificates trusted besides the system's store; empty for none.
    void SetCAFile(const std::string& name);
    // What the next TLS connection trusts, read now: raises, naming CAFile, when it can't
    // be read.
    const plat::TTlsTrust& Trust();

    // Connects to the proxy when one is set, else to Host:Port. A failed connect leaves
    // its socket closed.
    virtual void Connect();

protected:
    // The steps of Connect, in their order.
    struct TTarget {
        uint32_t Address; // network byte order
        uint16_t Port;    // network byte order
    };
    // A new socket, made in the mode it is used in, under a plain transport.
    void OpenSocket();
    // The proxy's address when one is set, else the host's.
    TTarget ResolveTarget();
    // The TCP connection; in non-blocking mode waits for the connect notification.
    void ConnectTcp(const TTarget& target);
    void AwaitConnect();
    // A tunnel through the proxy to TargetName():TargetPort(), for a connection secured end
    // to end; nothing at this level, which speaks no proxy's protocol.
    virtual void OpenTunnel() {}
    // The transport's handshake, once the connection (and a proxy's tunnel) stands.
    void Handshake();
    // The server's name and port, apart also when a proxy is set.
    std::string_view TargetName() const;
    uint16_t TargetPort() const;

    std::string FHost, FProxy;
    int16_t FPort = 0, FProxyPort = 0;

private:
    std::string FCAFile;
    std::unique_ptr<plat::TTlsTrust> FTrust; // made at the first TLS connection
};
