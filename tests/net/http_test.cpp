// The HTTP client: URL parsing, the request head, and responses from real nginx and from a
// scripted server for what nginx won't do.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/socket.h>
#endif

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "net/http_client.h"
#include "platform/files.h"
#include "platform/ui.h"
#include "tests/net/net_test.h"

using namespace nettest;

namespace {

TEST(HttpUrl, HostPortAndPath) {
    TmsHTTPClient c;
    EXPECT_EQ(c.Port(), 80);
    c.SetURL("http://host");
    EXPECT_EQ(c.Host(), "host");
    EXPECT_EQ(c.Port(), 80);
    EXPECT_EQ(c.Path(), "/");
    c.SetURL("HTTP://Host:8080/a/b.txt?q=1#f");
    EXPECT_EQ(c.Host(), "Host");
    EXPECT_EQ(c.Port(), 8080);
    EXPECT_EQ(c.Path(), "/a/b.txt?q=1#f");
    c.SetURL("host/x");
    EXPECT_EQ(c.Host(), "host");
    EXPECT_EQ(c.Port(), 80);
    EXPECT_EQ(c.Path(), "/x");
    c.SetURL("http://host:abc/x");
    EXPECT_EQ(c.Port(), 80);
    c.SetURL("ftp://host/x"); // not a scheme we know: part of the host text
    EXPECT_EQ(c.Host(), "ftp");
    EXPECT_FALSE(c.Secure);
    c.SetURL("https://host");
    EXPECT_EQ(c.Host(), "host");
    EXPECT_EQ(c.Port(), 443);
    EXPECT_EQ(c.Path(), "/");
    EXPECT_TRUE(c.Secure);
    c.SetURL("HTTPS://Host:8443/a");
    EXPECT_EQ(c.Host(), "Host");
    EXPECT_EQ(c.Port(), 8443);
    EXPECT_EQ(c.Path(), "/a");
    c.SetURL("http://host");
    EXPECT_EQ(c.Port(), 80);
    EXPECT_FALSE(c.Secure);
    c.SetProxy("proxy:3128");
    c.SetURL("http://host:8080");
    EXPECT_EQ(c.Host(), "host:8080");
    EXPECT_EQ(c.Port(), 80);
}

TEST(HttpUrl, BackslashesInThePathAreSlashes) {
    TmsHTTPClient c;
    const std::string url = "http://site/downloads\\components/\\sub\\versions.txt";
    c.SetURL(url);
    EXPECT_EQ(c.URL(), url);
    EXPECT_EQ(c.Host(), "site");
    EXPECT_EQ(c.Path(), "/downloads/components//sub/versions.txt");
    c.SetURL("http://site\\a.cab");
    EXPECT_EQ(c.Host(), "site");
    EXPECT_EQ(c.Path(), "/a.cab");
}

// A scripted server that answers with `response` and closes; the client's request is kept.
struct TAnswer {
    explicit TAnswer(std::string response, bool waitForClose = false)
        : Server([response, waitForClose](int fd, const std::string&) {
              SendAll(fd, response);
              if (waitForClose) nettest::WaitForPeerClose(fd);
          }) {}
    TScriptServer Server;
};

TEST(HttpRequest, HeadDirectIsExact) {
    TAnswer a("HTTP/1.1 204 No Content\r\nContent-Length: 0\r\n\r\n");
    TmsHTTPClient c;
    c.SetURL(a.Server.Url("/downloads/versions.txt"));
    EXPECT_EQ(c.Get(), 204);
    EXPECT_EQ(a.Server.Request(), "GET /downloads/versions.txt HTTP/1.1\r\n"
                                  "Host: 127.0.0.1\r\n"
                                  "Accept: */*\r\n"
                                  "Connection: close\r\n\r\n");
}

TEST(HttpRequest, CredentialsAndAgentInOrder) {
    TAnswer a("HTTP/1.1 200 OK\r\n\r\n");
    TmsHTTPClient c;
    c.Authorization = true;
    c.UserName = "user";
    c.Password = "pass";
    c.ProxyAuthorization = true; // without a proxy it still goes, to the server
    c.ProxyUserName = "pu";
    c.ProxyPassword = "pp";
    c.UserAgent = "KVUpdater";
    c.SetHeaders({"X-Not-Sent: 1"});
    c.SetURL(a.Server.Url("/x"));
    EXPECT_EQ(c.Get(), 200);
    EXPECT_EQ(a.Server.Request(), "GET /x HTTP/1.1\r\n"
                                  "Host: 127.0.0.1\r\n"
                                  "Accept: */*\r\n"
                                  "Authorization: Basic dXNlcjpwYXNz\r\n"
                                  "Proxy-Authorization: Basic cHU6cHA=\r\n"
                                  "User-Agent: KVUpdater\r\n"
                                  "Connection: close\r\n\r\n");
}

TEST(HttpRequest, ThroughAProxyTheTargetIsTheWholeUrl) {
    TAnswer a("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    TmsHTTPClient c;
    c.SetProxy("127.0.0.1:" + std::to_string(a.Server.Port()));
    c.SetURL("http://host:8080");
    EXPECT_EQ(c.Get(), 200);
    EXPECT_EQ(c.ResponseStream().DataString(), "ok");
    EXPECT_EQ(a.Server.Request(), "GET http://host:8080/ HTTP/1.1\r\n"
                                  "Host: host:8080\r\n"
                                  "Accept: */*\r\n"
                                  "Connection: close\r\n\r\n");

    TAnswer b("HTTP/1.1 200 OK\r\n\r\n");
    c.SetProxy("127.0.0.1:" + std::to_string(b.Server.Port()));
    c.SetURL("http://site/dl/\\versions.txt");
    c.Get();
    EXPECT_EQ(b.Server.Request().substr(0, b.Server.Request().find("\r\n")),
              "GET http://site/dl//versions.txt HTTP/1.1");
    EXPECT_EQ(c.URL(), "http://site/dl/\\versions.txt");
}

TEST(HttpResponse, EventsInOrderForABodyReadUntilClose) {
    TAnswer a("HTTP/1.1 200 OK\r\nServer: script\r\n\r\nbody bytes");
    TmsHTTPClient c;
    std::vector<std::string> events;
    c.OnConnecting = [&](TmsSocketBase*) { events.push_back("connecting"); };
    c.OnConnected = [&](TmsSocketBase*) { events.push_back("connected"); };
    c.OnDisconnected = [&](TmsSocketBase*) { events.push_back("disconnected"); };
    c.OnSendingRequest = [&](TmsSocketBase*) { events.push_back("sending"); };
    c.OnRequestSent = [&](TmsSocketBase*) { events.push_back("sent"); };
    c.OnTransferProgress = [&](TmsSocketBase*, int32_t perc, int32_t bytes, int32_t lines) {
        events.push_back("progress " + std::to_string(perc) + " " + std::to_string(bytes) + " " +
                         std::to_string(lines));
    };
    c.SetURL(a.Server.Url("/f"));
    EXPECT_EQ(c.Get(), 200);
    std::string head = a.Server.Request();
    ASSERT_GE(events.size(), 8u);
    std::vector<std::string> start(events.begin(), events.begin() + 6);
    EXPECT_EQ(start, (std::vector<std::string>{
                         "connecting", "connected", "connected", "sending",
                         "progress 100 " + std::to_string(head.size()) + " -1", "sent"}));
    // Body progress without a known length says -1; the server's close is noticed, then
    // the client's own close.
    for (size_t i = 6; i + 2 < events.size(); ++i)
        EXPECT_EQ(events[i].rfind("progress -1 ", 0), 0u);
    EXPECT_EQ(events[events.size() - 2], "disconnected");
    EXPECT_EQ(events.back(), "disconnected");
    EXPECT_EQ(c.ResponseStream().DataString(), "body bytes");
    EXPECT_EQ(c.ResponseStream().Position(), 0);
    EXPECT_EQ(c.Headers(), (TmsHeaders{"HTTP/1.1 200 OK", "Server: script", ""}));
}

TEST(HttpResponse, CloseWithoutAnyResponse) {
    TAnswer a("");
    TmsHTTPClient c;
    c.SetURL(a.Server.Url("/"));
    EXPECT_EQ(c.Get(), -1);
    EXPECT_EQ(c.Headers(), TmsHeaders{""});
    EXPECT_EQ(c.ResponseStream().Size(), 0);
}

TEST(HttpResponse, HeadLinesLetPendingEventsRunInBlockingModeToo) {
    // The socket waits process nothing in blocking mode, but reading the head still lets
    // the user interface run what waits before each line.
    TAnswer a("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    TmsHTTPClient c;
    c.SetBlocking(true);
    auto ran = std::make_shared<int>(0);
    int ranBeforeDisconnect = -1;
    c.OnRequestSent = [ran](TmsSocketBase*) { plat::Presentation().Post([ran] { ++*ran; }); };
    c.OnDisconnected = [&](TmsSocketBase*) { ranBeforeDisconnect = *ran; };
    c.SetURL(a.Server.Url("/"));
    EXPECT_EQ(c.Get(), 200);
    EXPECT_EQ(c.ResponseStream().DataString(), "ok");
    EXPECT_EQ(ranBeforeDisconnect, 1);
    plat::Presentation().ProcessMessages(); // nothing of this test stays queued
}

TEST(HttpResponse, StatusWordThatIsNoNumber) {
    TAnswer a("HTTP/1.1 OK\r\n\r\n");
    TmsHTTPClient c;
    c.SetURL(a.Server.Url("/"));
    EXPECT_EQ(c.Get(), -1);
    TAnswer b("HTTP/1.0 404\r\n\r\nmissing");
    c.SetURL(b.Server.Url("/"));
    EXPECT_EQ(c.Get(), 404);
    EXPECT_EQ(c.ResponseStream().DataString(), "missing");
}

TEST(HttpResponse, BodyCutShortKeepsWhatArrived) {
    TAnswer a("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + std::string(60, 'b'));
    TmsHTTPClient c;
    c.SetURL(a.Server.Url("/"));
    EXPECT_EQ(MessageOf<EWinsockError>([&] { c.Get(); }), "[10054] Connection reset by peer");
    EXPECT_EQ(c.ResponseStream().DataString(), std::string(60, 'b'));
    EXPECT_EQ(c.ResponseStream().Position(), 60);
    EXPECT_EQ(c.Headers().size(), 3u);
    EXPECT_EQ(c.Socket(), sock::InvalidSocket);
}

TEST(HttpResponse, AnnouncedLengthThatNeverArrivesCostsNoMemory) {
    TAnswer a("HTTP/1.1 200 OK\r\nContent-Length: 2000000000\r\n\r\n0123456789");
    TmsHTTPClient c;
    c.SetURL(a.Server.Url("/"));
    EXPECT_THROW(c.Get(), EWinsockError);
    EXPECT_EQ(c.ResponseStream().DataString(), "0123456789");
    EXPECT_LE(c.ResponseStream().Capacity(), 1 << 20);
}

TEST(HttpResponse, LengthThatIsNoNumberReadsUntilClose) {
    for (std::string length : {"abc", "99999999999", "-5", "0", "12 34"}) {
        TAnswer a("HTTP/1.1 200 OK\r\nContent-Length: " + length + "\r\n\r\nall of it");
        TmsHTTPClient c;
        c.SetURL(a.Server.Url("/"));
        EXPECT_EQ(c.Get(), 200) << length;
        EXPECT_EQ(c.ResponseStream().DataString(), "all of it") << length;
    }
}

TEST(HttpResponse, ChunkedBodies) {
    TAnswer a("HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n"
              "5\r\nhello\r\n1a\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n",
              true);
    TmsHTTPClient c;
    c.SetURL(a.Server.Url("/"));
    EXPECT_EQ(c.Get(), 200);
    EXPECT_EQ(c.ResponseStream().DataString(), "helloabcdefghijklmnopqrstuvwxyz");

    // Not "chunked" exactly: read as it comes.
    TAnswer b("HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n");
    c.SetURL(b.Server.Url("/"));
    EXPECT_EQ(c.Get(), 200);
    EXPECT_EQ(c.ResponseStream().DataString(), "5\r\nhello\r\n0\r\n\r\n");

    TAnswer bad(
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;ext=1\r\nhello\r\n0\r\n\r\n");
    c.SetURL(bad.Server.Url("/"));
    EXPECT_EQ(MessageOf<Exception>([&] { c.Get(); }), "Error receiving the stream");

    TAnswer huge("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n100000000\r\nab");
    c.SetURL(huge.Server.Url("/"));
    EXPECT_EQ(MessageOf<Exception>([&] { c.Get(); }), "Error receiving the stream");
}

TEST(HttpResponse, OverlongHeaderLine) {
    TAnswer before("HTTP/1.1 200 OK\r\n\r\nearlier body");
    TmsHTTPClient c;
    c.SetURL(before.Server.Url("/"));
    ASSERT_EQ(c.Get(), 200);
    TAnswer a("HTTP/1.1 200 OK\r\nX-Long: " + std::string(5000, 'l') + "\r\n\r\n", true);
    c.SetURL(a.Server.Url("/"));
    EXPECT_EQ(MessageOf<EmsTooMuchDataError>([&] { c.Get(); }), "Buffer is full. Will disconnect.");
    EXPECT_EQ(c.Headers(), TmsHeaders{"HTTP/1.1 200 OK"}); // the lines read so far
    EXPECT_EQ(c.ResponseStream().DataString(), "earlier body");
}

// 256 lines with the status and the blank line pass, one more does not; 64 KiB with the line
// ends pass, one byte more does not, though the lines' text alone stays below the cap.
TEST(HttpResponse, HeadIsBoundedInLinesAndBytes) {
    auto fields = [](int count) {
        std::string head = "HTTP/1.1 200 OK\r\n";
        for (int i = 0; i < count; ++i) head += "X-A: b\r\n";
        return head + "\r\n";
    };
    auto bytes = [](size_t count) {
        std::string head = "HTTP/1.1 200 OK\r\n";
        for (int i = 0; i < 16; ++i) head += "X-W: " + std::string(3995, 'w') + "\r\n";
        head += "X-F: " + std::string(count - head.size() - 9, 'f') + "\r\n\r\n";
        EXPECT_EQ(head.size(), count);
        return head;
    };
    const struct {
        std::string Head;
        bool Passes;
    } cases[] = {
        {fields(254), true}, {fields(255), false}, {bytes(65536), true}, {bytes(65537), false}};
    TmsHTTPClient c;
    for (const auto& t : cases) {
        SCOPED_TRACE(t.Head.size());
        TAnswer a(t.Head + "body", !t.Passes);
        c.SetURL(a.Server.Url("/"));
        if (t.Passes)
            EXPECT_EQ(c.Get(), 200);
        else
            EXPECT_EQ(MessageOf<EmsTooMuchDataError>([&] { c.Get(); }),
                      "Buffer is full. Will disconnect.");
    }
}

TEST(HttpResponse, SilentServerTimesOut) {
    TAnswer a("", true);
    TmsHTTPClient c;
    c.SetTimeOut(1);
    c.SetURL(a.Server.Url("/"));
    EXPECT_EQ(MessageOf<EmsTimedOutError>([&] { c.Get(); }), "Operation timed out");
    EXPECT_EQ(c.Socket(), sock::InvalidSocket);
}

// A body past SpillSize goes on in a file (unnamed at once, so nothing is left behind),
// byte for byte; one past Limit fails, however it is framed, and an announced length past
// it fails before a byte is read.
TEST(HttpResponse, BodySpillsToAFileAndStopsAtTheLimit) {
    kvtest::TTempDir spill;
    std::string body;
    for (int i = 0; body.size() < 6000; ++i) body += std::to_string(i) + ",";
    auto counted = [](const std::string& b) {
        return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(b.size()) + "\r\n\r\n" + b;
    };
    auto chunked = [](const std::string& b) {
        char size[16];
        std::snprintf(size, sizeof size, "%zx", b.size() - 10);
        return "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\na\r\n" + b.substr(0, 10) +
               "\r\n" + size + "\r\n" + b.substr(10) + "\r\n0\r\n\r\n";
    };
    auto untilClose = [](const std::string& b) { return "HTTP/1.1 200 OK\r\n\r\n" + b; };
    const std::string tooLarge = "Response larger than 5000 bytes";
    // The last two rows' bodies stay in memory, where they are received straight into it.
    struct TCase {
        size_t Size;
        int64_t SpillSize;
        bool Spilled;
        const char* Error;
    } cases[] = {{1000, 1000, false, ""},    {1001, 1000, true, ""},
                 {5000, 1000, true, ""},     {5001, 1000, true, "limit"},
                 {5000, 1 << 20, false, ""}, {5001, 1 << 20, false, "limit"}};
    const std::pair<const char*, std::string (*)(const std::string&)> frames[] = {
        {"counted", +counted}, {"chunked", +chunked}, {"until close", +untilClose}};
    for (auto [name, frame] : frames) {
        for (const TCase& t : cases) {
            SCOPED_TRACE(std::string(name) + " " + std::to_string(t.Size) + " spilled past " +
                         std::to_string(t.SpillSize));
            const std::string b = body.substr(0, t.Size);
            TAnswer a(frame(b));
            TmsHTTPClient c;
            c.ResponseStream().SpillSize = t.SpillSize;
            c.ResponseStream().Limit = 5000;
            c.ResponseStream().SpillFolder = spill.Path();
            c.SetURL(a.Server.Url("/"));
            if (*t.Error) {
                EXPECT_EQ(MessageOf<EmsBodyTooLargeError>([&] { c.Get(); }), tooLarge);
                continue;
            }
            EXPECT_EQ(c.Get(), 200);
            EXPECT_EQ(c.ResponseStream().Spilled(), t.Spilled);
            EXPECT_EQ(c.ResponseStream().Capacity() == 0, t.Spilled);
            std::vector<plat::TDirEntry> left;
#ifndef _WIN32 // Windows keeps a file's name until its last handle goes
            ASSERT_TRUE(plat::ListDirectory(spill.Path(), left));
            EXPECT_TRUE(left.empty()); // a spilled body has no name
#endif

            c.ResponseStream().SaveToFile(spill.File("saved"));
            EXPECT_EQ(spill.Read("saved"), b);
            EXPECT_EQ(c.ResponseStream().DataString(), b);
            ASSERT_TRUE(plat::DeleteFile(spill.File("saved")));
            c.ResponseStream().Clear(); // nothing of the body stays behind
            ASSERT_TRUE(plat::ListDirectory(spill.Path(), left));
            EXPECT_TRUE(left.empty());
        }
    }
    TAnswer announced("HTTP/1.1 200 OK\r\nContent-Length: 5001\r\n\r\n", true);
    TmsHTTPClient c;
    c.ResponseStream().Limit = 5000;
    c.SetURL(announced.Server.Url("/"));
    EXPECT_EQ(MessageOf<EmsBodyTooLargeError>([&] { c.Get(); }), tooLarge);
}

// Bytes now and then keep the inactivity time-out from ending a Get, but not for ever: the
// head must arrive within the time-out, and a body must bring its floor of bytes in every
// window of its own, shorter here than the time-out. A body just above the floor is read
// whole.
TEST(HttpResponse, SlowServersAreBounded) {
    auto trickle = [](std::string head, int pieces, size_t piece, int pauseMs) {
        return [=](int fd, const std::string&) {
            SendAll(fd, head);
            for (int i = 0; i < pieces; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
                if (!SendAll(fd, std::string(piece, 'x'))) return;
            }
        };
    };
    struct TCase {
        const char* Name;
        TScriptServer::TScript Script;
        bool TimesOut;
    } cases[] = {
        {"head a byte at a time", trickle("HTTP/1.1 200 OK\r\nX-Slow: ", 100, 1, 100), true},
        // About 600 bytes a second: below the floor in every second, above it over the
        // time-out's three.
        {"body below the floor", trickle("HTTP/1.1 200 OK\r\n\r\n", 40, 300, 500), true},
        {"body above the floor",
         trickle("HTTP/1.1 200 OK\r\nContent-Length: 12000\r\n\r\n", 24, 500, 200), false},
    };
    for (const TCase& t : cases) {
        SCOPED_TRACE(t.Name);
        TScriptServer server(t.Script);
        TmsHTTPClient c;
        c.SetTimeOut(3);
        c.MinBodyBytes = 1024;
        c.MinBodyWindow = 1;
        c.SetURL(server.Url("/"));
        if (t.TimesOut)
            EXPECT_EQ(MessageOf<EmsTimedOutError>([&] { c.Get(); }), "Operation timed out");
        else
            EXPECT_EQ(c.ResponseStream().Size(), c.Get() == 200 ? 12000 : -1);
    }
}

TEST(HttpResponse, FailedConnectLeavesTheLastResponse) {
    TAnswer a("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nold");
    TmsHTTPClient c;
    c.SetURL(a.Server.Url("/"));
    ASSERT_EQ(c.Get(), 200);
    c.SetURL("http://127.0.0.1:" + std::to_string(kvtest::FreePort()) + "/");
    EXPECT_EQ(MessageOf<EWinsockError>([&] { c.Get(); }), "[10061] Connection refused");
    EXPECT_EQ(c.ResponseStream().DataString(), "old");
    EXPECT_EQ(c.Headers().front(), "HTTP/1.1 200 OK");
}

// ---- real nginx

class NginxSite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Dir = new kvtest::TTempDir();
        for (size_t size : Sizes)
            Dir->Write("files/f" + std::to_string(size), kvtest::RandomBytes(size, uint32_t(size)));
        Dir->Write("components/versions.txt", "versions\r\n");
        Dir->Write("components/sub/a.cab", "cabinet");
        Dir->Write("components/my plugins/b \xE9.cab", "blank and 8-bit");
        Server = new kvtest::TNginx(Dir->Path());
    }
    static void TearDownTestSuite() {
        delete Server;
        delete Dir;
    }
    static constexpr size_t Sizes[] = {0, 1, 32767, 32768, 32769, 1000000, 64u << 20};
    static kvtest::TTempDir* Dir;
    static kvtest::TNginx* Server;
};
kvtest::TTempDir* NginxSite::Dir = nullptr;
kvtest::TNginx* NginxSite::Server = nullptr;

TEST_F(NginxSite, FilesArriveByteForByte) {
    TmsHTTPClient c;
    int last = -2; // as long-lived as the handler that sets it
    c.OnTransferProgress = [&](TmsSocketBase*, int32_t perc, int32_t, int32_t) { last = perc; };
    for (size_t size : Sizes) {
        c.SetURL(Server->Url("/files/f" + std::to_string(size)));
        last = -2;
        ASSERT_EQ(c.Get(), 200) << size;
        EXPECT_EQ(FieldValue(c.Headers(), "Content-Length"), std::to_string(size));
        ASSERT_EQ(c.ResponseStream().Size(), int64_t(size));
        EXPECT_TRUE(c.ResponseStream().View() == Dir->Read("files/f" + std::to_string(size)))
            << size;
        EXPECT_EQ(c.ResponseStream().Position(), 0);
        if (size > 0) {
            EXPECT_EQ(last, 100);
        }
    }
}

TEST_F(NginxSite, ASmallBodyAfterALargeOneGivesTheMemoryBack) {
    TmsHTTPClient c;
    c.SetURL(Server->Url("/files/f" + std::to_string(64u << 20)));
    ASSERT_EQ(c.Get(), 200);
    c.SetURL(Server->Url("/files/f1"));
    ASSERT_EQ(c.Get(), 200);
    EXPECT_EQ(c.ResponseStream().Size(), 1);
    EXPECT_LE(c.ResponseStream().Capacity(), 1 << 20);
}

TEST_F(NginxSite, MissingFileGivesItsErrorPage) {
    TmsHTTPClient c;
    c.SetURL(Server->Url("/files/absent.cab"));
    EXPECT_EQ(c.Get(), 404);
    EXPECT_NE(c.ResponseStream().DataString().find("404 Not Found"), std::string::npos);
    EXPECT_EQ(c.Headers().front().substr(0, 12), "HTTP/1.1 404");
}

TEST_F(NginxSite, BackslashPathsFindTheFiles) {
    // As start-up builds them in clone mode: a folder URL ending in "\", and manifest
    // names with "\" folders.
    TmsHTTPClient c;
    c.SetURL(Server->Url("/components/\\versions.txt"));
    EXPECT_EQ(c.Get(), 200);
    EXPECT_EQ(c.ResponseStream().DataString(), "versions\r\n");
    c.SetURL(Server->Url("/components\\sub\\a.cab"));
    EXPECT_EQ(c.Get(), 200);
    EXPECT_EQ(c.ResponseStream().DataString(), "cabinet");
    EXPECT_EQ(c.URL(), Server->Url("/components\\sub\\a.cab"));
}

#ifndef _WIN32 // an 8-bit name is the code page's character on Windows, UTF-8 on the host
TEST_F(NginxSite, NamesWithBlanksAndEightBitBytesFindTheFiles) {
    // Sent escaped; a URL that is escaped already goes as it is.
    for (const char* path :
         {"/components\\my plugins\\b \xE9.cab", "/components/my%20plugins/b%20%E9.cab"}) {
        TmsHTTPClient c;
        c.SetURL(Server->Url(path));
        EXPECT_EQ(c.Get(), 200) << path;
        EXPECT_EQ(c.ResponseStream().DataString(), "blank and 8-bit") << path;
    }
}
#endif

TEST_F(NginxSite, CancelFromAHandlerEndsTheGet) {
    TmsHTTPClient c;
    c.SetURL(Server->Url("/files/f1000000"));
    int events = 0;
    c.OnTransferProgress = [&](TmsSocketBase*, int32_t perc, int32_t, int32_t) {
        if (perc >= 0 && perc < 100 && ++events == 2) c.Canceled = true;
    };
    EXPECT_EQ(MessageOf<EmsCanceledError>([&] { c.Get(); }), "Operation has been canceled");
    EXPECT_GT(c.ResponseStream().Size(), 0);
    EXPECT_LT(c.ResponseStream().Size(), 1000000);
    EXPECT_EQ(c.Socket(), sock::InvalidSocket);
    // The next Get starts afresh.
    EXPECT_EQ(c.Get(), 200);
    EXPECT_EQ(c.ResponseStream().Size(), 1000000);
}

TEST_F(NginxSite, BlockingModeGet) {
    TmsHTTPClient c;
    int connected = 0, disconnected = 0;
    c.OnConnected = [&](TmsSocketBase*) { ++connected; };
    c.OnDisconnected = [&](TmsSocketBase*) { ++disconnected; };
    c.SetBlocking(true);
    c.SetURL(Server->Url("/files/f1000000"));
    EXPECT_EQ(c.Get(), 200);
    EXPECT_TRUE(c.ResponseStream().View() == Dir->Read("files/f1000000"));
    // No notifications in blocking mode: one event each, from Connect and Disconnect.
    EXPECT_EQ(connected, 1);
    EXPECT_EQ(disconnected, 1);
    c.SetBlocking(false);
    EXPECT_EQ(c.Get(), 200);
    EXPECT_EQ(connected, 3);
}

TEST_F(NginxSite, OneClientManyGets) {
    // Every Get is complete in itself: fresh connection, fresh headers and body.
    TmsHTTPClient c;
    for (int i = 0; i < 20; ++i) {
        c.SetURL(Server->Url(i % 2 ? "/components/versions.txt" : "/nothing"));
        EXPECT_EQ(c.Get(), i % 2 ? 200 : 404);
        EXPECT_EQ(c.Socket(), sock::InvalidSocket);
    }
}

} // namespace
