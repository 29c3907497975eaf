#include "net/socket.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "net/socket_errors.h"
#include "net/stream.h"
#include "net/tls_transport.h"
#include "platform/text.h"
#include "platform/ui.h"

namespace {

constexpr int LineBufferSize = 4096;
constexpr int MaxLineBytes = 4094; // a line this long, its line end included, is too much
// One receive of a response head: a whole head and the start of its body fit.
constexpr int InputBufferSize = 16384;
constexpr size_t MaxNameLength = 255;

TmsWinsock& Winsock() {
    return TmsWinsock::Instance();
}

// Stops the time counter however a wait ends, so no tick source outlives the operation.
class TCounterGuard {
public:
    explicit TCounterGuard(TmsSocketBase& socket) : FSocket(socket) {}
    ~TCounterGuard() { FSocket.StopTimeCounter(); }
    TCounterGuard(const TCounterGuard&) = delete;
    TCounterGuard& operator=(const TCounterGuard&) = delete;

private:
    TmsSocketBase& FSocket;
};

int32_t Percent(int64_t part, int64_t whole) {
    // Nearest integer, halves to even (the default rounding mode).
    return static_cast<int32_t>(std::nearbyint(static_cast<double>(part) / whole * 100.0));
}

int16_t PortOf(std::string_view text, int16_t fallback) {
    auto value = plat::TryDecimalToInt(text);
    return value ? static_cast<int16_t>(static_cast<uint16_t>(*value)) : fallback;
}

std::string ShortText(const std::string& text) {
    return text.size() > MaxNameLength ? text.substr(0, MaxNameLength) : text;
}

// A chunk size: hexadecimal digits only, at most what a signed 32-bit count holds.
bool ParseChunkSize(const std::string& text, int32_t& size) {
    if (text.empty()) return false;
    uint64_t value = 0;
    for (char c : text) {
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
        if (digit < 0) return false;
        value = value * 16 + static_cast<unsigned>(digit);
        if (value > 0x7FFFFFFF) return false;
    }
    size = static_cast<int32_t>(value);
    return true;
}

} // namespace

// ---- TmsSocketBase

TmsSocketBase::TmsSocketBase()
    : FTimeCounter(std::make_unique<TmsTimeCounter>()),
      FTransport(std::make_unique<TPlainTransport>()) {
    FTimeCounter->SetTimeOut(FTimeOut);
}

TmsSocketBase::~TmsSocketBase() = default;

void TmsSocketBase::SetBlockingMode(bool blocking) {
    auto& ws = Winsock();
    if (Socket() != sock::InvalidSocket) {
        if (blocking && ws.AsyncSelect(Socket(), 0) != 0) RaiseSocketError(ws.GetLastError());
        if (ws.SetNonBlocking(Socket(), !blocking) != 0) RaiseSocketError(ws.GetLastError());
    }
    AdoptMode(blocking);
}

void TmsSocketBase::AdoptMode(bool blocking) {
    if (!blocking) {
        if (!FTimeCounter) {
            FTimeCounter = std::make_unique<TmsTimeCounter>();
            FTimeCounter->SetTimeOut(FTimeOut);
        }
    } else {
        FTimeCounter.reset(); // blocking mode has no time-outs
    }
    FBlocking = blocking;
}

void TmsSocketBase::StartTimeCounter() {
    if (FTimeCounter) FTimeCounter->Start();
}

void TmsSocketBase::StopTimeCounter() {
    if (FTimeCounter) FTimeCounter->Stop();
}

void TmsSocketBase::ResetTimeCounter() {
    if (FTimeCounter) FTimeCounter->Reset();
}

bool TmsSocketBase::TimedOut() const {
    return FTimeCounter && (FTimeCounter->TimedOut() || Bounds.Exceeded());
}

void TmsSocketBase::NoteReceived(int64_t bytes) {
    ResetTimeCounter();
    Bounds.Note(bytes);
}

// ---- TmsSocket

TmsSocket::TmsSocket() = default;

void TmsSocket::SetTimeOut(int32_t seconds) {
    FTimeOut = seconds;
    if (FTimeCounter) FTimeCounter->SetTimeOut(seconds);
}

void TmsSocket::HandleSocketNotification(uint32_t message, uint32_t word) {
    if (message != sock::AsyncSelectMessage) return;
    FLastError = static_cast<uint16_t>(word >> 16);
    if (FLastError != 0) return;
    switch (word & 0xFFFF) {
    case sock::FdConnect:
        FConnected = true;
        if (OnConnected) OnConnected(this);
        break;
    case sock::FdClose:
        FClosedByPeer = true;
        if (OnDisconnected) OnDisconnected(this);
        break;
    case sock::FdRead:
        if (OnRead) OnRead(this);
        break;
    case sock::FdWrite:
        if (OnWrite) OnWrite(this);
        break;
    case sock::FdOob:
        if (OnOOB) OnOOB(this);
        break;
    default:
        break;
    }
}

void TmsSocket::ResetState() {
    FConnected = false;
    FClosedByPeer = false;
    Canceled = false;
    FLastError = 0;
    FAwaitingReply = false;
    ResetTimeCounter();
}

void TmsSocket::WaitStep(TWaitFor operation) {
    if (FBlocking) return;
    AwaitReady(operation);
    plat::Presentation().ProcessMessages();
}

void TmsSocket::AwaitReady(TWaitFor operation) {
    if (FTransport->HoldsBytes()) return;
    const TWaitFor want = FTransport->WaitFor(operation);
    plat::Presentation().WaitForSocket(Socket(), want == TWaitFor::Read, want == TWaitFor::Write);
}

void TmsSocket::UseTransport(std::unique_ptr<TTransport> transport) {
    FTransport = std::move(transport);
    DropInput();
}

void TmsSocket::NoticeClose() {
    FClosedByPeer = true;
    if (FBlocking || !(FEventMask & sock::FdClose) || FCloseNotified) return;
    FCloseNotified = true;
    HandleSocketNotification(sock::AsyncSelectMessage, sock::FdClose);
}

void TmsSocket::CheckAttempt(int result) {
    if (result != sock::SocketError) return;
    int code = Winsock().GetLastError();
    if (FBlocking) FTransport->RaiseError(code);
    if (code == sockerr::WouldBlock || Canceled || TimedOut()) return;
    FTransport->RaiseError(code);
}

void TmsSocket::EndWait() {
    StopTimeCounter();
    if (TimedOut()) throw EmsTimedOutError();
    if (Canceled) throw EmsCanceledError();
}

void TmsSocket::FireProgress(int32_t perc, int32_t byteCount, int32_t lineCount) {
    if (OnTransferProgress) OnTransferProgress(this, perc, byteCount, lineCount);
}

void TmsSocket::SendBuffer(const void* bytes, int32_t count) {
    const char* data = static_cast<const char*>(bytes);
    TCounterGuard guard(*this);
    StartTimeCounter();
    int32_t sent = 0;
    while (sent < count && !Canceled && !TimedOut()) {
        int r = FTransport->Send(data + sent, count - sent);
        FLastResult = r;
        if (r > 0) {
            sent += r;
            ResetTimeCounter();
            if (!FBlocking) plat::Presentation().ProcessMessages();
        } else {
            CheckAttempt(r);
            WaitStep(TWaitFor::Write);
        }
    }
    EndWait();
    FAwaitingReply = !FBlocking;
}

void TmsSocket::SendStream(TStream& stream, int64_t start) {
    int64_t size = stream.Size();
    if (size == 0) return;
    stream.SetPosition(start);
    const int32_t block = std::max(BufferSize, 1);
    std::vector<char> buffer(static_cast<size_t>(block));
    int64_t n;
    do {
        n = stream.Read(buffer.data(), block);
        SendBuffer(buffer.data(), static_cast<int32_t>(n));
        int64_t position = stream.Position();
        FireProgress(Percent(position, size), static_cast<int32_t>(position), -1);
    } while (n == block);
}

int32_t TmsSocket::FillInput() {
    if (!FInput) FInput = std::make_unique<char[]>(InputBufferSize);
    DropInput();
    int r = FTransport->Receive(FInput.get(), InputBufferSize);
    if (r > 0) FInEnd = r;
    return r;
}

int32_t TmsSocket::TakeInput(char* target, int32_t count) {
    int32_t n = std::min(count, Buffered());
    std::memcpy(target, FInput.get() + FInStart, static_cast<size_t>(n));
    FInStart += n;
    return n;
}

std::string TmsSocket::ReceiveLine() {
    auto& ws = Winsock();
    char buffer[LineBufferSize] = {};
    int received = 0;
    TCounterGuard guard(*this);
    StartTimeCounter();
    // A reply to what was just sent is waited for before the first look: the look would
    // find nothing yet.
    if (std::exchange(FAwaitingReply, false) && Buffered() == 0) WaitStep(TWaitFor::Read);
    while (!Canceled && !TimedOut()) {
        // A line is cut from the received bytes up to and including its line feed, never
        // more: what follows stays buffered for the next line or the body.
        int r = Buffered() > 0 ? Buffered() : FillInput();
        FLastResult = r;
        if (Canceled) throw EmsCanceledError();
        if (r > 0) {
            const char* start = FInput.get() + FInStart;
            int want = std::min(Buffered(), MaxLineBytes - received);
            if (const void* lf = std::memchr(start, '\n', static_cast<size_t>(want)))
                want = static_cast<int>(static_cast<const char*>(lf) - start) + 1;
            r = TakeInput(buffer + received, want);
            FLastResult = r;
            received += r;
            NoteReceived(r);
            bool complete = buffer[received - 1] == '\n';
            if (received >= MaxLineBytes) throw EmsTooMuchDataError();
            if (!FBlocking) plat::Presentation().ProcessMessages();
            if (complete) break;
        } else if (r == 0) {
            NoticeClose();
            if (!FBlocking) plat::Presentation().ProcessMessages();
            break;
        } else {
            // A failure without a code is retried like a receive that would block.
            if (ws.GetLastError() != 0) CheckAttempt(r);
            WaitStep(TWaitFor::Read);
        }
    }
    EndWait();
    // The text ends before the line feed and before any zero byte; the first carriage
    // return, wherever it stands, goes.
    std::string line(buffer, strnlen(buffer, static_cast<size_t>(received)));
    if (size_t lf = line.find('\n'); lf != std::string::npos) line.resize(lf);
    if (size_t cr = line.find('\r'); cr != std::string::npos) line.erase(cr, 1);
    return line;
}

void TmsSocket::ReceiveStream(TStream& stream, int32_t expected, int64_t start) {
    ReceiveInto(stream, expected, start, 0);
}

void TmsSocket::ReceiveInto(TStream& stream, int32_t expected, int64_t start, int64_t base) {
    stream.SetPosition(start);
    FAwaitingReply = false;
    if (expected == 0) expected = -1;
    const int32_t block = std::max(BufferSize, 1);
    std::vector<char> buffer;
    int64_t received = 0;
    {
        TCounterGuard guard(*this);
        StartTimeCounter();
        while (!(expected > 0 && received >= expected) && !Canceled && !TimedOut()) {
            int32_t want = block;
            if (expected > 0)
                want = static_cast<int32_t>(std::min<int64_t>(want, expected - received));
            // Straight into the stream where it can take the bytes: no copy per block.
            char* target = stream.ReceiveTail(want, expected > 0 ? start + expected : -1);
            if (!target) {
                buffer.resize(static_cast<size_t>(block));
                target = buffer.data();
            }
            // What an earlier line read took past its line goes first.
            int r = Buffered() > 0 ? TakeInput(target, want) : FTransport->Receive(target, want);
            FLastResult = r;
            if (r > 0) {
                if (target == buffer.data())
                    stream.Write(buffer.data(), r);
                else
                    stream.Commit(r);
            }
            if (Canceled) throw EmsCanceledError();
            if (r > 0) {
                received += r;
                NoteReceived(r);
                int64_t position = stream.Position() - base;
                FireProgress(expected > 0 ? Percent(position, expected) : -1,
                             static_cast<int32_t>(position), -1);
                if (!FBlocking) plat::Presentation().ProcessMessages();
            } else if (r == 0) {
                NoticeClose();
                if (!FBlocking) plat::Presentation().ProcessMessages();
                break;
            } else {
                CheckAttempt(r);
                WaitStep(TWaitFor::Read);
            }
        }
        EndWait();
    }
    if (expected > 0 && received < expected) RaiseSocketError(sockerr::ConnectionReset);
}

void TmsSocket::ReceiveChunked(TStream& stream) {
    stream.SetPosition(0);
    int32_t size;
    do {
        if (!ParseChunkSize(plat::Trim(ReceiveLine()), size))
            throw Exception(sErrorReceivingStream);
        // Each chunk goes straight to the end of the body (what did arrive of a broken one
        // stays there), with its progress counted within the chunk.
        if (size != 0) {
            const int64_t end = stream.Position();
            ReceiveInto(stream, size, end, end);
        }
        ReceiveLine(); // the line end after the data, or the body's last line
    } while (size != 0);
}

void TmsSocket::Disconnect() {
    if (Socket() == sock::InvalidSocket) return;
    auto& ws = Winsock();
    DropInput(); // what the peer sent past the last read is not read any more
    int r = FTransport->Shutdown();
    FLastResult = r;
    if (r != 0) {
        int code = ws.GetLastError();
        // The socket is released all the same; keeping it would only leak it.
        FTransport->Close();
        RaiseSocketError(code);
    }
    // A failed close has released the socket too: it is gone either way.
    r = FTransport->Close();
    FLastResult = r;
    if (r != 0) RaiseSocketError(ws.GetLastError());
    if (OnDisconnected) OnDisconnected(this);
}

// ---- TmsClientSocket

void TmsClientSocket::SetHost(const std::string& text) {
    std::string value = ShortText(text);
    size_t colon = value.find(':');
    if (colon != std::string::npos && FProxy.empty()) {
        FHost = value.substr(0, colon);
        FPort = PortOf(std::string_view(value).substr(colon + 1), DefaultPort);
    } else {
        FHost = value;
        if (DefaultPort > 0) FPort = DefaultPort;
    }
}

void TmsClientSocket::SetProxy(const std::string& text) {
    std::string value = ShortText(text);
    size_t colon = value.find(':');
    if (colon != std::string::npos) {
        FProxy = value.substr(0, colon);
        FProxyPort = PortOf(std::string_view(value).substr(colon + 1), 0);
    } else {
        FProxy = value;
        FProxyPort = 0;
        // A host text with a port, kept whole while a proxy was set, is split now.
        if (FProxy.empty()) SetHost(FHost);
    }
}

void TmsClientSocket::Connect() {
    // A socket left open by an earlier connection is released before the next.
    DropTransport();
    ResetState();
    if (OnConnecting) OnConnecting(this);
    try {
        // What a TLS connection trusts is known before any connection is made.
        const plat::TTlsTrust* trust = Secure ? &Trust() : nullptr;
        OpenSocket();
        ConnectTcp(ResolveTarget());
        if (trust) {
            // Through a proxy, TLS runs end to end inside its tunnel.
            if (!FProxy.empty()) OpenTunnel();
            UseTransport(std::make_unique<TTlsTransport>(std::move(FTransport), *trust,
                                                         std::string(TargetName())));
        }
        Handshake();
    } catch (...) {
        // A connection that failed to open is closed here: nobody else would close it.
        StopTimeCounter();
        DropTransport();
        throw;
    }
    if (OnConnected) OnConnected(this);
}

void TmsClientSocket::SetCAFile(const std::string& name) {
    if (name != FCAFile) FTrust.reset();
    FCAFile = name;
}

const plat::TTlsTrust& TmsClientSocket::Trust() {
    if (!FTrust) FTrust = std::make_unique<plat::TTlsTrust>(FCAFile);
    return *FTrust;
}

std::string_view TmsClientSocket::TargetName() const {
    // With a proxy set, Host keeps the port as the URL wrote it.
    const std::string_view host(FHost);
    return FProxy.empty() ? host : host.substr(0, host.find(':'));
}

uint16_t TmsClientSocket::TargetPort() const {
    if (FProxy.empty()) return static_cast<uint16_t>(FPort);
    const size_t colon = FHost.find(':');
    if (colon == std::string::npos) return static_cast<uint16_t>(DefaultPort);
    return static_cast<uint16_t>(PortOf(std::string_view(FHost).substr(colon + 1), DefaultPort));
}

void TmsClientSocket::OpenSocket() {
    auto& ws = Winsock();
    // Made in the mode it is used in: no switch afterwards.
    TSocketHandle socket(FBlocking ? ws.Socket(2, SocketType, Protocol)
                                   : ws.NonBlockingSocket(2, SocketType, Protocol));
    if (!socket.Valid()) RaiseSocketError(ws.GetLastError());
    UseTransport(std::make_unique<TPlainTransport>(std::move(socket)));
    FEventMask = 0;
    FCloseNotified = FConnectNotified = false;
    // A new socket does not linger: only lingering needs asking for.
    if (Protocol == 0 && LingerOnOff != 0 && ws.SetLinger(Socket(), LingerOnOff, LingerTime) != 0)
        RaiseSocketError(ws.GetLastError());
}

TmsClientSocket::TTarget TmsClientSocket::ResolveTarget() {
    auto& ws = Winsock();
    const bool viaProxy = !FProxy.empty();
    const uint32_t address = ws.AddressOf(ws.ResolveHost(viaProxy ? FProxy : FHost));
    return {address, ws.Htons(static_cast<uint16_t>(viaProxy ? FProxyPort : FPort))};
}

void TmsClientSocket::ConnectTcp(const TTarget& target) {
    auto& ws = Winsock();
    AdoptMode(FBlocking);
    if (!FBlocking) {
        constexpr uint32_t mask =
            sock::FdRead | sock::FdWrite | sock::FdOob | sock::FdConnect | sock::FdClose;
        if (ws.AsyncSelect(Socket(), mask) != 0) RaiseSocketError(ws.GetLastError());
        FEventMask = mask;
    }
    int r = ws.Connect(Socket(), target.Address, target.Port);
    FLastResult = r;
    if (r != 0) {
        int code = ws.GetLastError();
        if (FBlocking || code != sockerr::WouldBlock) RaiseSocketError(code);
    }
    if (!FBlocking && SocketType == 1) AwaitConnect();
}

void TmsClientSocket::AwaitConnect() {
    auto& ws = Winsock();
    TCounterGuard guard(*this);
    StartTimeCounter();
    // A near peer has mostly accepted already: the first look comes before any sleep.
    for (bool sleep = false; !FConnected && FLastError == 0 && !TimedOut() && !Canceled;
         sleep = true) {
        if (sleep) AwaitReady(TWaitFor::Write);
        // The connect notification: the socket became writable, or failed.
        if (!FConnectNotified && ws.Ready(Socket(), false, true)) {
            FConnectNotified = true;
            uint32_t error = static_cast<uint16_t>(ws.PendingError(Socket()));
            HandleSocketNotification(sock::AsyncSelectMessage, error << 16 | sock::FdConnect);
        }
        plat::Presentation().ProcessMessages();
    }
    StopTimeCounter();
    if (FLastError != 0) RaiseSocketError(FLastError);
    if (TimedOut()) throw EmsTimedOutError();
    if (Canceled) throw EmsCanceledError();
}

void TmsClientSocket::Handshake() {
    THandshakeStep step = FTransport->Handshake();
    if (step == THandshakeStep::Done) return; // plain TCP has none
    TCounterGuard guard(*this);
    StartTimeCounter();
    while (step != THandshakeStep::Done && !Canceled && !TimedOut()) {
        if (step == THandshakeStep::Failed) FTransport->RaiseError(Winsock().GetLastError());
        WaitStep(step == THandshakeStep::WantRead ? TWaitFor::Read : TWaitFor::Write);
        step = FTransport->Handshake();
    }
    EndWait();
}
