// The socket components against a scripted peer on loopback: lines, counted and chunked
// streams, time-outs, over-long lines, closed ports and names that don't resolve.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <poll.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <memory>
#include <vector>

#include "net/socket.h"
#include "net/socket_errors.h"
#include "net/stream.h"
#include "platform/errors.h"
#include "platform/ui.h"
#include "tests/net/net_test.h"
#ifndef _WIN32
#include "tests/support/socket_pair.h"
#endif

using namespace nettest;

namespace {

// A client connected to a scripted server that sends `data` and closes.
struct TConnected {
    explicit TConnected(const std::string& data, bool keepOpen = false)
        : Server(
              [data, keepOpen](int fd, const std::string&) {
                  SendAll(fd, data);
                  if (keepOpen) nettest::WaitForPeerClose(fd);
              },
              false) {
        Client.SetHost("127.0.0.1:" + std::to_string(Server.Port()));
        Client.Connect();
    }
    TScriptServer Server;
    TmsClientSocket Client;
};

TEST(ClientSocket, HostAndProxyTexts) {
    TmsClientSocket s;
    s.DefaultPort = 80;
    s.SetHost("a:81");
    EXPECT_EQ(s.Host(), "a");
    EXPECT_EQ(s.Port(), 81);
    // Only a decimal number is a port; anything else gives the default.
    for (const char* text : {"b:abc", "b:0x50", "b:$1F90", "b: 81", "b:x10", "b:81 ", "b:"}) {
        s.SetHost("a:81");
        s.SetHost(text);
        EXPECT_EQ(s.Host(), "b") << text;
        EXPECT_EQ(s.Port(), 80) << text;
    }
    s.SetHost("c");
    EXPECT_EQ(s.Port(), 80);
    s.SetHost("d:65535"); // ports are 16 bits; the high ones are stored negative
    EXPECT_EQ(static_cast<uint16_t>(s.Port()), 65535);

    s.SetProxy("proxy:8080");
    EXPECT_EQ(s.Proxy(), "proxy");
    EXPECT_EQ(s.ProxyPort(), 8080);
    s.SetHost("a:81"); // kept whole while a proxy is set
    EXPECT_EQ(s.Host(), "a:81");
    s.SetProxy("");
    EXPECT_EQ(s.Proxy(), "");
    EXPECT_EQ(s.ProxyPort(), 0);
    EXPECT_EQ(s.Host(), "a");
    EXPECT_EQ(s.Port(), 81);
    s.SetProxy("p:x");
    EXPECT_EQ(s.ProxyPort(), 0);
    s.SetProxy("p:0x50");
    EXPECT_EQ(s.ProxyPort(), 0);
    s.SetHost(std::string(300, 'h'));
    EXPECT_EQ(s.Host().size(), 255u);
}

TEST(ClientSocket, ReceiveLineHandlesLineEnds) {
    TConnected c("abc\r\na\rb\nno cr\n\nlast without end");
    EXPECT_EQ(c.Client.ReceiveLine(), "abc");
    EXPECT_EQ(c.Client.ReceiveLine(), "ab");
    EXPECT_EQ(c.Client.ReceiveLine(), "no cr");
    EXPECT_EQ(c.Client.ReceiveLine(), "");
    EXPECT_FALSE(c.Client.ClosedByPeer());
    EXPECT_EQ(c.Client.ReceiveLine(), "last without end");
    EXPECT_TRUE(c.Client.ClosedByPeer());
    EXPECT_EQ(c.Client.ReceiveLine(), "");
    c.Client.Disconnect();
}

#ifndef _WIN32 // the peer's close is waited for with POLLRDHUP
TEST(ClientSocket, TheAttemptThatEndsAWaitLetsPendingEventsRun) {
    // Everything, the peer's close included, is already waiting, so each wait below is one
    // attempt; the user interface still runs what is pending after it.
    TConnected c("line\r\n");
    pollfd p{static_cast<int>(c.Client.Socket()), POLLRDHUP, 0};
    ASSERT_EQ(::poll(&p, 1, 30000), 1);
    auto ran = std::make_shared<int>(0);
    auto post = [ran] { plat::Presentation().Post([ran] { ++*ran; }); };
    post();
    EXPECT_EQ(c.Client.ReceiveLine(), "line"); // complete at the first attempt
    EXPECT_EQ(*ran, 1);
    post();
    EXPECT_EQ(c.Client.ReceiveLine(), ""); // the peer has closed
    EXPECT_EQ(*ran, 2);
    post();
    TMemoryStream s;
    c.Client.ReceiveStream(s, -1, 0); // closed: nothing to read
    EXPECT_EQ(*ran, 3);
    c.Client.Disconnect();
    plat::Presentation().ProcessMessages(); // nothing of this test stays queued
}
#endif

TEST(ClientSocket, LineLengthLimit) {
    // Up to 4093 bytes with the line end are a line; from 4094 on, line end or not, too much.
    for (const std::string& end : {std::string("\r\n"), std::string("\n")}) {
        TConnected ok(std::string(4093 - end.size(), 'x') + end);
        EXPECT_EQ(ok.Client.ReceiveLine(), std::string(4093 - end.size(), 'x'));
        ok.Client.Disconnect();
        for (size_t length : {size_t(4094), size_t(5000)}) {
            TConnected tooLong(std::string(length - end.size(), 'y') + end, true);
            EXPECT_EQ(MessageOf<EmsTooMuchDataError>([&] { tooLong.Client.ReceiveLine(); }),
                      "Buffer is full. Will disconnect.")
                << length;
            tooLong.Client.Disconnect();
        }
    }
}

TEST(ClientSocket, ReceiveStreamReadsExactlyTheExpectedBytes) {
    TConnected c("0123456789abcdef\n", true);
    TMemoryStream s;
    std::vector<int> percs;
    c.Client.OnTransferProgress = [&](TmsSocketBase*, int32_t perc, int32_t bytes, int32_t lines) {
        percs.push_back(perc);
        EXPECT_EQ(lines, -1);
        EXPECT_LE(bytes, 10);
    };
    c.Client.ReceiveStream(s, 10, 0);
    EXPECT_EQ(s.DataString(), "0123456789");
    ASSERT_FALSE(percs.empty());
    EXPECT_EQ(percs.back(), 100);
    EXPECT_EQ(c.Client.ReceiveLine(), "abcdef");
    c.Client.Disconnect();
}

TEST(ClientSocket, LinesAndABodyFromOneSendEachGetTheirOwnBytes) {
    // One receive takes more than a line: a line may end past it, a body may start in it.
    struct TCase {
        std::vector<size_t> Lines; // lengths with the line end
        int32_t Body;
    };
    for (const TCase& t : {TCase{{17, 30, 2}, 40000}, TCase{{4000, 4000, 4000, 4000, 4000}, 10},
                           TCase{{4000, 4000, 4000, 4000, 384, 2}, 1}, TCase{{}, 70000}}) {
        std::string data, body;
        for (size_t i = 0; i < t.Lines.size(); ++i)
            data += std::string(t.Lines[i] - 1, char('a' + i % 26)) + '\n';
        for (int32_t i = 0; i < t.Body; ++i) body += char(i * 7);
        TConnected c(data + body + "after\r\n", true);
        std::vector<int32_t> counts;
        c.Client.OnTransferProgress = [&](TmsSocketBase*, int32_t, int32_t bytes, int32_t) {
            counts.push_back(bytes);
        };
        for (size_t i = 0; i < t.Lines.size(); ++i)
            ASSERT_EQ(c.Client.ReceiveLine(), std::string(t.Lines[i] - 1, char('a' + i % 26)));
        EXPECT_TRUE(counts.empty()); // lines are no body bytes
        TMemoryStream s;
        c.Client.ReceiveStream(s, t.Body, 0);
        EXPECT_TRUE(s.DataString() == body) << t.Body;
        ASSERT_FALSE(counts.empty());
        EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end()));
        EXPECT_EQ(counts.back(), t.Body);
        EXPECT_EQ(c.Client.ReceiveLine(), "after");
        c.Client.Disconnect();
    }
}

TEST(ClientSocket, ReceiveStreamCutShortKeepsTheBytesAndRaises) {
    TConnected c(std::string(60, 'z'));
    TMemoryStream s;
    EXPECT_EQ(MessageOf<EWinsockError>([&] { c.Client.ReceiveStream(s, 100, 0); }),
              "[10054] Connection reset by peer");
    EXPECT_EQ(s.DataString(), std::string(60, 'z'));
    EXPECT_EQ(s.Position(), 60);
    c.Client.Disconnect();
}

TEST(ClientSocket, ChunkedBodies) {
    TConnected good("5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n");
    TMemoryStream s;
    good.Client.ReceiveChunked(s);
    EXPECT_EQ(s.DataString(), "hello world");
    good.Client.Disconnect();

    TConnected upper("A\r\n0123456789\r\n0\r\n\r\n");
    TMemoryStream u;
    upper.Client.ReceiveChunked(u);
    EXPECT_EQ(u.DataString(), "0123456789");
    upper.Client.Disconnect();

    // A size line with an extension, garbage, a size past 32 bits or past a signed 32-bit
    // count, and a body that ends before its size line: each is a broken stream, and no
    // byte after the bad line is taken for the body.
    for (std::string bad : {"5;x=1\r\nhello\r\n0\r\n\r\n", "zz\r\n", "1FFFFFFFF\r\nab\r\n",
                            "80000000\r\nab\r\n", ""}) {
        TConnected c(bad);
        TMemoryStream t;
        EXPECT_EQ(MessageOf<Exception>([&] { c.Client.ReceiveChunked(t); }),
                  "Error receiving the stream")
            << bad;
        EXPECT_EQ(t.DataString(), "") << bad;
        c.Client.Disconnect();
    }
}

#ifndef _WIN32 // a socket pair of the test's own: on Windows a wait wakes on the notifications
               // of sockets the binding registered, which a pair never is
// A transport over a socket whose peer stays silent (writable, never readable) that hands
// out one line, holding it from the start or after a receive and a handshake that each want
// the socket writable first. A wait that sleeps on readability meanwhile times out.
class TScriptedTransport final : public TTransport {
public:
    TScriptedTransport(TSocket socket, bool holds, int receiveWrites, int handshakeWrites)
        : FSocket(socket), FHolds(holds), FReceiveWrites(receiveWrites),
          FHandshakeWrites(handshakeWrites) {}
    TSocket Socket() const override { return FSocket; }
    THandshakeStep Handshake() override {
        if (FHandshakeWrites == 0) return THandshakeStep::Done;
        --FHandshakeWrites;
        return THandshakeStep::WantWrite;
    }
    int Send(const void*, int count) override { return count; }
    int Receive(void* buffer, int count) override {
        FTurned = FReceiveWrites > 0;
        if (FTurned) {
            --FReceiveWrites;
            plat::SetLastError(sockerr::WouldBlock);
            return sock::SocketError;
        }
        int n = std::min(count, static_cast<int>(FLine.size()));
        FLine.copy(static_cast<char*>(buffer), static_cast<size_t>(n));
        FLine.erase(0, static_cast<size_t>(n));
        return n;
    }
    TWaitFor WaitFor(TWaitFor operation) const override {
        return FTurned ? TWaitFor::Write : operation;
    }
    bool HoldsBytes() const override { return FHolds && !FLine.empty(); }
    int Shutdown() override { return 0; }
    int Close() override { return 0; }
    int HandshakeLeft() const { return FHandshakeWrites; }

private:
    TSocket FSocket;
    bool FHolds, FTurned = false;
    int FReceiveWrites, FHandshakeWrites;
    std::string FLine = "line\r\n";
};

class TOverTransport : public TmsClientSocket {
public:
    using TmsClientSocket::Handshake;
    using TmsSocket::UseTransport;
};

TEST(ClientSocket, WaitsForWhatTheTransportWantsAndNeverSleepsOnHeldBytes) {
    struct TRow {
        const char* Name;
        bool Holds;
        int ReceiveWrites, HandshakeWrites;
    };
    for (const TRow& r : {TRow{"held before the first receive", true, 0, 0},
                          TRow{"a receive wants to write", false, 1, 0},
                          TRow{"the handshake wants to write", false, 0, 2}}) {
        kvtest::TSocketPair pair;
        TOverTransport client;
        client.SetTimeOut(1);
        auto owned = std::make_unique<TScriptedTransport>(pair.Fd[0], r.Holds, r.ReceiveWrites,
                                                          r.HandshakeWrites);
        TScriptedTransport* transport = owned.get();
        client.UseTransport(std::move(owned));
        client.Handshake();
        EXPECT_EQ(transport->HandshakeLeft(), 0) << r.Name;
        // After a send the reply is awaited before the first receive: held, it is there.
        if (r.Holds) client.SendBuffer("GET\r\n", 5);
        EXPECT_EQ(client.ReceiveLine(), "line") << r.Name;
    }
}

#endif

TEST(ClientSocket, SilentPeerTimesOut) {
    TScriptServer server([](int fd, const std::string&) { nettest::WaitForPeerClose(fd); }, false);
    TmsClientSocket client;
    client.SetTimeOut(1);
    client.SetHost("127.0.0.1:" + std::to_string(server.Port()));
    client.Connect();
    EXPECT_EQ(MessageOf<EmsTimedOutError>([&] { client.ReceiveLine(); }), "Operation timed out");
    EXPECT_TRUE(client.TimedOut());
    client.Disconnect();
}

TEST(ClientSocket, ConnectEventsAndDisconnect) {
    TScriptServer server([](int fd, const std::string&) { nettest::WaitForPeerClose(fd); }, false);
    TmsClientSocket client;
    std::vector<std::string> events;
    client.OnConnecting = [&](TmsSocketBase*) { events.push_back("connecting"); };
    client.OnConnected = [&](TmsSocketBase*) { events.push_back("connected"); };
    client.OnDisconnected = [&](TmsSocketBase*) { events.push_back("disconnected"); };
    client.SetHost("127.0.0.1:" + std::to_string(server.Port()));
    client.Connect();
    EXPECT_TRUE(client.Connected());
    EXPECT_NE(client.Socket(), sock::InvalidSocket);
    client.Disconnect();
    EXPECT_EQ(client.Socket(), sock::InvalidSocket);
    client.Disconnect(); // nothing open: nothing happens
    EXPECT_EQ(events,
              (std::vector<std::string>{"connecting", "connected", "connected", "disconnected"}));
}

TEST(ClientSocket, BlockingModeReadsWithoutEvents) {
    TScriptServer server([](int fd, const std::string&) { SendAll(fd, "line\r\nrest"); }, false);
    TmsClientSocket client;
    int connected = 0;
    client.OnConnected = [&](TmsSocketBase*) { ++connected; };
    client.SetBlocking(true);
    client.SetHost("127.0.0.1:" + std::to_string(server.Port()));
    client.Connect();
    EXPECT_FALSE(client.HasTimeCounter());
    EXPECT_EQ(connected, 1); // no notification in blocking mode
    EXPECT_EQ(client.ReceiveLine(), "line");
    TMemoryStream s;
    client.ReceiveStream(s, -1, 0);
    EXPECT_EQ(s.DataString(), "rest");
    client.Disconnect();
}

TEST(ClientSocket, ClosedPortIsRefused) {
    int port = kvtest::FreePort();
    TmsClientSocket client;
    client.SetHost("127.0.0.1:" + std::to_string(port));
    EXPECT_EQ(MessageOf<EWinsockError>([&] { client.Connect(); }), "[10061] Connection refused");
    // The failed connection's socket is not left open.
    EXPECT_EQ(client.Socket(), sock::InvalidSocket);
    EXPECT_FALSE(client.HasTimeCounter() && client.TimedOut());
}

TEST(ClientSocket, UnresolvableNameIsHostNotFound) {
    // The lookup answers from a table of its own, so the machine's resolver plays no part.
    TmsWinsock::Instance().SetHostResolver([](const std::string& name, uint32_t& address) {
        if (name == "localhost") {
            address = TmsWinsock::Instance().InetAddr("127.0.0.1");
            return 0;
        }
        return 11001;
    });
    TmsClientSocket client;
    bool connecting = false;
    client.OnConnecting = [&](TmsSocketBase*) { connecting = true; };
    client.SetHost("no-such-host.invalid:80");
    std::string message = MessageOf<EWinsockError>([&] { client.Connect(); });
    int last = LastSocketError();
    TmsWinsock::Instance().SetHostResolver(nullptr);
    EXPECT_EQ(message, "[11001] Host not found");
    EXPECT_EQ(last, 11001);
    EXPECT_TRUE(connecting);
    EXPECT_EQ(client.Socket(), sock::InvalidSocket);
    EXPECT_EQ(TmsWinsock::Instance().ResolveHost("10.1.2.3"), "10.1.2.3");
}

TEST(ClientSocket, RefusedByNotificationLeavesWouldBlockAsLastError) {
    int port = kvtest::FreePort();
    TmsClientSocket client;
    client.SetHost("127.0.0.1:" + std::to_string(port));
    EXPECT_THROW(client.Connect(), EWinsockError);
    // Either the connect call itself refused (10061) or it was under way (10035) and the
    // refusal came as a notification; both are what the library leaves.
    int last = LastSocketError();
    EXPECT_TRUE(last == 10035 || last == 10061) << last;
}

} // namespace
