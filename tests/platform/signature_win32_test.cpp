// Site signatures through CNG, checked against OpenSSL on the host: what openssl hashed and
// signed (the openssl_vectors fixture) must verify here, and what CNG signs here openssl must
// verify (signature_cng_sign_test writes it, openssl_verifies_cng checks it).
#include "platform/signature.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/platform/der.h"
#include "tests/support/support.h"

using namespace plat;

namespace {

const std::string Vectors = kvtest::WinePath(KV_OPENSSL_VECTORS) + "\\";

std::string Hex(const TSha256Digest& d) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : d) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

} // namespace

TEST(Sha256, KnownAnswersAndFilesAroundTheReadBlockAgreeWithOpenssl) {
    EXPECT_EQ(Hex(Sha256("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Hex(Sha256("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string digests = kvtest::ReadFile(Vectors + "digests.txt");
    ASSERT_FALSE(digests.empty()) << "no " << Vectors << "digests.txt";
    for (size_t at = 0; at < digests.size();) {
        const size_t end = digests.find('\n', at);
        const std::string line = digests.substr(at, end - at);
        at = end + 1;
        TSha256Digest digest;
        ASSERT_TRUE(Sha256File(Vectors + line.substr(65), digest)) << line;
        EXPECT_EQ(Hex(digest), line.substr(0, 64)) << line;
    }
    TSha256Digest digest;
    EXPECT_FALSE(Sha256File(Vectors + "missing", digest));
}

TEST(VerifyP256, TakesWhatOpensslSignedAndNothingNearIt) {
    const std::string key = kvtest::PointOfDer(kvtest::ReadFile(Vectors + "key.der"));
    const std::string other = kvtest::PointOfDer(kvtest::ReadFile(Vectors + "other.der"));
    const std::string data = kvtest::ReadFile(Vectors + "data.txt");
    const std::string sig = kvtest::RawOfDerSignature(kvtest::ReadFile(Vectors + "sig.der"));
    ASSERT_EQ(key.size(), P256PublicKeySize);
    ASSERT_EQ(sig.size(), P256SignatureSize);

    auto flip = [](std::string s, size_t at) {
        s[at] = static_cast<char>(s[at] ^ 1);
        return s;
    };
    // The curve's order n: s = n is out of range, as is r = 0.
    const std::string order =
        kvtest::Bytes("FFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551");
    struct TCase {
        const char* What;
        std::string Key, Data, Sig;
        bool Valid;
    } cases[] = {
        {"the signature", key, data, sig, true},
        {"one data bit", key, flip(data, 3), sig, false},
        {"one more data byte", key, data + " ", sig, false},
        {"one bit of r", key, data, flip(sig, 31), false},
        {"one bit of s", key, data, flip(sig, 63), false},
        {"r zero", key, data, std::string(32, '\0') + sig.substr(32), false},
        {"s the order", key, data, sig.substr(0, 32) + order, false},
        {"signature short by a byte", key, data, sig.substr(0, 63), false},
        {"signature long by a byte", key, data, sig + '\0', false},
        {"point off the curve", flip(key, 64), data, sig, false},
        {"compressed-point prefix", "\x02" + key.substr(1), data, sig, false},
        {"key short by a byte", key.substr(0, 64), data, sig, false},
        {"another key", other, data, sig, false},
    };
    for (const TCase& c : cases) EXPECT_EQ(VerifyP256(c.Key, c.Data, c.Sig), c.Valid) << c.What;
}
