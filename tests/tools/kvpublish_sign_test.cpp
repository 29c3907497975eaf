// kvpublish's keys and signed sites, run as a program on real folders.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/support.h"

namespace {

class SignTest : public ::testing::Test {
protected:
    kvtest::TTempDir Dir;
    std::string Out, Err;

    int Run(const std::string& args) {
        std::string cmd = std::string(KVPUBLISH) + " " + args + " 2>'" + Dir.File("stderr") + "'";
        int rc = kvtest::RunCommand(cmd, &Out);
        Err = Dir.Read("stderr");
        return rc;
    }
    std::string Q(const std::string& rel) { return "'" + Dir.File(rel) + "'"; }
};

} // namespace

TEST_F(SignTest, NewKeyIsTheOwnersAloneAndPrintedAgainByPublicKey) {
    ASSERT_EQ(Run("--new-key " + Q("site.key")), 0) << Err;
    const std::string printed = Out;
    ASSERT_EQ(printed.size(), 89u);
    EXPECT_EQ(printed.substr(0, 1), "B"); // Base64 of a point that starts with 4
    EXPECT_EQ(printed.back(), '\n');
    struct stat st;
    ASSERT_EQ(::stat(Dir.File("site.key").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(Run("--public-key=" + Q("site.key")), 0) << Err;
    EXPECT_EQ(Out, printed);
}

TEST_F(SignTest, KeyFailuresGiveAMessageAndAnExitStatus) {
    Dir.Write("taken.key", "keep me");
    Dir.Write("text.key", "not a key\n");
    ASSERT_EQ(kvtest::RunCommand("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-384 "
                                 "-out " +
                                 Q("p384.key") + " 2>/dev/null"),
              0);
    Dir.Write("product/a.txt", "a");
    struct TCase {
        std::string Args;
        int Status;
        std::string Message;
    } cases[] = {
        {"--new-key " + Q("taken.key"), 1, "it exists; a key is never replaced"},
        {"--public-key " + Q("missing.key"), 1, "cannot read key file"},
        {"--public-key " + Q("text.key"), 1, "holds no private key"},
        {"--public-key " + Q("p384.key"), 1, "holds no P-256 private key"},
        {"--sign-key " + Q("p384.key") + " " + Q("product") + " " + Q("site"), 1,
         "holds no P-256 private key"},
        {"--new-key " + Q("new.key") + " " + Q("product"), 2, "extra operand"},
        {"--new-key= ", 2, "requires a key file"},
        {"--new-key " + Q("a.key") + " --public-key " + Q("a.key"), 2, "can't be given together"},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(Run(c.Args), c.Status) << c.Args;
        EXPECT_NE(Err.find(c.Message), std::string::npos) << c.Args << "\n" << Err;
        EXPECT_EQ(Out, "") << c.Args;
    }
    EXPECT_EQ(Dir.Read("taken.key"), "keep me");
    EXPECT_FALSE(Dir.Exists("site")); // a key that can't sign stops the publish before it starts
    EXPECT_FALSE(Dir.Exists("new.key"));
}

TEST_F(SignTest, SignedSiteCarriesHashesAndSignatureUntilPublishedUnsigned) {
    Dir.Write("product/a.txt", "abc");
    ASSERT_EQ(Run("--new-key " + Q("site.key")), 0) << Err;
    ASSERT_EQ(Run("-q --sign-key " + Q("site.key") + " " + Q("product") + " " + Q("site")), 0)
        << Err;
    std::string digest;
    kvtest::RunCommand("openssl dgst -sha256 -r " + Q("site/a.cab"), &digest);
    EXPECT_EQ(Dir.Read("site/versions.txt"),
              "File Name,Checksum,Size,SHA-256,\r\na.txt,293,3," + digest.substr(0, 64) + ",\r\n");
    EXPECT_EQ(Dir.Read("site/versions.sig").size(), 89u);

    // Signed again, the fields are replaced, not added to.
    ASSERT_EQ(Run("-q --sign-key " + Q("site.key") + " " + Q("product") + " " + Q("site")), 0);
    EXPECT_EQ(Dir.Read("site/versions.txt"),
              "File Name,Checksum,Size,SHA-256,\r\na.txt,293,3," + digest.substr(0, 64) + ",\r\n");

    ASSERT_EQ(Run("-q " + Q("product") + " " + Q("site")), 0) << Err;
    EXPECT_EQ(Dir.Read("site/versions.txt"), "File Name,Checksum,Size,\r\na.txt,293,3,\r\n");
    EXPECT_FALSE(Dir.Exists("site/versions.sig"));
}
