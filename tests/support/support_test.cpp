// The real servers the other tests rely on: they start, serve and refuse as expected.
#include <gtest/gtest.h>

#include "tests/support/support.h"

using namespace kvtest;

TEST(Servers, NginxServesFilesAnd404) {
    TTempDir site;
    std::string body = RandomBytes(100000, 7);
    site.Write("a.bin", body);
    TNginx nginx(site.Path());
    TTempDir out;
    std::string code;
    ASSERT_EQ(0, RunCommand("curl -s -o " + out.File("a.bin") + " -w '%{http_code}' " +
                                nginx.Url("/a.bin"),
                            &code));
    EXPECT_EQ("200", code);
    EXPECT_EQ(body, out.Read("a.bin"));
    RunCommand("curl -s -o /dev/null -w '%{http_code}' " + nginx.Url("/missing"), &code);
    EXPECT_EQ("404", code);
}

TEST(Servers, TinyproxyAsksForCredentials) {
    TTempDir site;
    site.Write("x.txt", "hello");
    TNginx nginx(site.Path());
    TTinyproxy proxy("alice", "s3cret");
    std::string p = "127.0.0.1:" + std::to_string(proxy.Port());
    std::string out;
    RunCommand("curl -s -o /dev/null -w '%{http_code}' -x http://" + p + " " + nginx.Url("/x.txt"),
               &out);
    EXPECT_EQ("407", out);
    RunCommand("curl -s -x http://alice:s3cret@" + p + " " + nginx.Url("/x.txt"), &out);
    EXPECT_EQ("hello", out);
}

TEST(TempDir, WritesNestedFilesAndCleansUp) {
    std::string path;
    {
        TTempDir dir;
        path = dir.Path();
        dir.Write("a/b/c.txt", "x");
        EXPECT_TRUE(dir.Exists("a/b/c.txt"));
        EXPECT_EQ("x", dir.Read("a/b/c.txt"));
    }
    EXPECT_NE(0, RunCommand("test -e " + path));
}
