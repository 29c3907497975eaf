// TLS on the Windows build: until the system's own library serves it, every session fails its
// handshake, so an https:// site is refused and nothing goes out in the clear instead; a named
// CA file must still be there, as on POSIX.
#include "platform/tls.h"

#include <gtest/gtest.h>

#include "platform/exception.h"
#include "tests/support/support.h"

namespace {

struct TNoPipe final : plat::TTlsPipe {
    int Sends = 0;
    int Send(const void*, int) override { return ++Sends, -1; }
    int Receive(void*, int) override { return -1; }
};

} // namespace

TEST(TlsWin32, EverySessionFailsClosed) {
    kvtest::TTempDir t;
    EXPECT_THROW(plat::TTlsTrust(t.File("missing.pem")), Exception);
    const plat::TTlsTrust trust(t.Write("ca.pem", "-----BEGIN CERTIFICATE-----\n"));
    TNoPipe pipe;
    plat::TTlsSession session(trust, "localhost", pipe);
    EXPECT_EQ(session.Handshake(), plat::TTlsStatus::Failed);
    EXPECT_FALSE(session.Failure().empty());
    plat::TTlsStatus status = plat::TTlsStatus::Done;
    EXPECT_EQ(session.Write("GET", 3, status), 0);
    EXPECT_EQ(status, plat::TTlsStatus::Failed);
    EXPECT_EQ(pipe.Sends, 0); // not a byte, in the clear or otherwise
}
