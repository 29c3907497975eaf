// Through a real proxy with Basic credentials: the right ones fetch the file, none or wrong
// ones leave the proxy's own page and status.
#include <gtest/gtest.h>

#include "net/http_client.h"
#include "tests/support/support.h"

namespace {

class ProxySite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Dir = new kvtest::TTempDir();
        Dir->Write("site/versions.txt", kvtest::RandomBytes(100000, 11));
        Server = new kvtest::TNginx(Dir->File("site"));
        Proxy = new kvtest::TTinyproxy("kvuser", "s3cret");
    }
    static void TearDownTestSuite() {
        delete Proxy;
        delete Server;
        delete Dir;
    }
    static void Configure(TmsHTTPClient& c, bool credentials, const std::string& password) {
        c.SetProxy("127.0.0.1:" + std::to_string(Proxy->Port()));
        c.ProxyAuthorization = credentials;
        c.ProxyUserName = "kvuser";
        c.ProxyPassword = password;
        c.SetURL(Server->Url("/versions.txt"));
    }
    static kvtest::TTempDir* Dir;
    static kvtest::TNginx* Server;
    static kvtest::TTinyproxy* Proxy;
};
kvtest::TTempDir* ProxySite::Dir = nullptr;
kvtest::TNginx* ProxySite::Server = nullptr;
kvtest::TTinyproxy* ProxySite::Proxy = nullptr;

TEST_F(ProxySite, RightCredentialsFetchTheFile) {
    TmsHTTPClient c;
    Configure(c, true, "s3cret");
    EXPECT_EQ(c.Get(), 200);
    EXPECT_TRUE(c.ResponseStream().View() == Dir->Read("site/versions.txt"));
    // The same client again, and a missing file through the proxy.
    c.SetURL(Server->Url("/absent"));
    EXPECT_EQ(c.Get(), 404);
}

TEST_F(ProxySite, NoCredentialsGiveTheProxyPage) {
    TmsHTTPClient c;
    Configure(c, false, "");
    EXPECT_EQ(c.Get(), 407);
    EXPECT_GT(c.ResponseStream().Size(), 0);
    EXPECT_TRUE(c.ResponseStream().View() != Dir->Read("site/versions.txt"));
    EXPECT_NE(FieldValue(c.Headers(), "Proxy-Authenticate"), "");
}

TEST_F(ProxySite, WrongCredentialsGiveTheRefusal) {
    TmsHTTPClient c;
    Configure(c, true, "wrong");
    int status = c.Get();
    EXPECT_TRUE(status == 407 || status == 401 || status == 403) << status;
    EXPECT_GT(c.ResponseStream().Size(), 0);
    EXPECT_TRUE(c.ResponseStream().View() != Dir->Read("site/versions.txt"));
}

} // namespace
