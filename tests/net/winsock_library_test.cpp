// The socket binding when the library is missing, lacks functions or refuses its start-up: the
// program lies beside a wsock32.dll of ours with start-up and clean-up only, which the
// system's loader takes before its own; a second one of ours refuses version 1.1.
#include <gtest/gtest.h>

#include "net/http_client.h"
#include "net/socket.h"
#include "net/winsock_library.h"
#include "tests/net/net_test.h"

using nettest::MessageOf;

TEST(WinsockLibrary, MissingLibraryMissingFunctionsAndARefusedStartUpRaise) {
    // The program's own binding, over the library of ours: started, then short of socket().
    TmsClientSocket client;
    client.SetHost("127.0.0.1:80");
    EXPECT_EQ(MessageOf<EWinsockError>([&] { client.Connect(); }), "Function socket not found");
    TmsHTTPClient http;
    http.SetURL("http://127.0.0.1:80/versions.txt");
    EXPECT_EQ(MessageOf<EWinsockError>([&] { http.Get(); }), "Function socket not found");
    EXPECT_EQ(MessageOf<EWinsockError>([] { TmsWinsock::Instance().InetAddr("1.2.3.4"); }),
              "Function inet_addr not found");

    TWinsockLibrary absent("kvtest_absent_wsock.dll");
    EXPECT_FALSE(absent.Loaded());
    EXPECT_EQ(MessageOf<EWinsockError>([&] { absent.Start(); }), "Winsock not loaded");

    TWinsockLibrary refusing("kvtest_old_wsock.dll");
    ASSERT_TRUE(refusing.Loaded());
    EXPECT_EQ(MessageOf<EWinsockError>([&] { refusing.Start(); }), "Invalid winsock version");
}
