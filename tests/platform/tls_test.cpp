// A TLS session over a scripted pipe: what it says when the server's bytes stop short, end or
// fail before the handshake is through.
#include "platform/tls.h"

#include <gtest/gtest.h>

#include "platform/errors.h"
#include "tests/support/support.h"

using namespace plat;

namespace {

// Takes whatever the session sends; hands out Incoming, then ends as End says.
class TScriptedPipe final : public TTlsPipe {
public:
    enum TEnd { Silence, Close, Fail };
    TScriptedPipe(std::string incoming, TEnd end) : FIncoming(std::move(incoming)), FEnd(end) {}
    int Send(const void*, int count) override { return count; }
    int Receive(void* buffer, int count) override {
        if (!FIncoming.empty()) {
            const int n = std::min(count, static_cast<int>(FIncoming.size()));
            FIncoming.copy(static_cast<char*>(buffer), static_cast<size_t>(n));
            FIncoming.erase(0, static_cast<size_t>(n));
            return n;
        }
        if (FEnd == Silence) return WouldBlock;
        if (FEnd == Close) return 0;
        SetLastError(10054);
        return -1;
    }

private:
    std::string FIncoming;
    TEnd FEnd;
};

TEST(TlsSession, AHandshakeThatStopsShortSaysWhy) {
    const std::string half = kvtest::HalfServerHello();
    struct TCase {
        const char* What;
        std::string Host, Incoming;
        TScriptedPipe::TEnd End;
        TTlsStatus Status;
        std::string Failure;
    } cases[] = {
        // Bytes that make no whole record are no bytes to read: a wait must sleep for more.
        {"half a ServerHello", "127.0.0.1", half, TScriptedPipe::Silence, TTlsStatus::WantRead, ""},
        {"a close before a word", "localhost", "", TScriptedPipe::Close, TTlsStatus::Failed,
         "the server closed the connection"},
        // The pipe's own failure: its last error tells, the session adds nothing.
        {"a failing pipe", "localhost", half, TScriptedPipe::Fail, TTlsStatus::Failed, ""},
        {"no host name", "", "", TScriptedPipe::Silence, TTlsStatus::Failed,
         "no host name to check the certificate against"},
    };
    TTlsTrust trust("");
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        TScriptedPipe pipe(c.Incoming, c.End);
        TTlsSession session(trust, c.Host, pipe);
        SetLastError(0);
        TTlsStatus status = session.Handshake();
        if (status == TTlsStatus::WantWrite) status = session.Handshake();
        EXPECT_EQ(status, c.Status);
        EXPECT_EQ(session.Failure(), c.Failure);
        EXPECT_FALSE(session.HoldsBytes());
        EXPECT_EQ(GetLastError(), c.End == TScriptedPipe::Fail ? 10054 : 0);
    }
}

} // namespace
