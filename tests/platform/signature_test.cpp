#include "platform/signature.h"

#include <gtest/gtest.h>

#include "platform/signing_key.h"
#include "tests/support/support.h"

using namespace plat;

namespace {

std::string Hex(const TSha256Digest& d) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : d) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string Bytes(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

} // namespace

TEST(Sha256, KnownAnswersAndFilesAroundTheReadBlockAgreeWithOpenssl) {
    EXPECT_EQ(Hex(Sha256("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Hex(Sha256("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    kvtest::TTempDir t;
    for (size_t size : {size_t{0}, size_t{1} << 20, (size_t{1} << 20) + 1}) {
        const std::string name = t.Write("f" + std::to_string(size), kvtest::RandomBytes(size, 5));
        std::string reference;
        ASSERT_EQ(kvtest::RunCommand("openssl dgst -sha256 -r '" + name + "'", &reference), 0);
        TSha256Digest digest;
        ASSERT_TRUE(Sha256File(name, digest));
        EXPECT_EQ(Hex(digest), reference.substr(0, 64)) << size;
    }
    TSha256Digest digest;
    EXPECT_FALSE(Sha256File(t.File("missing"), digest));
}

TEST(VerifyP256, TakesTheSignatureAndNothingNearIt) {
    kvtest::TTempDir t;
    const std::string key = NewP256KeyFile(t.File("k.pem"));
    const std::string data = "File Name,Checksum,Size,\r\na.txt,1,2,\r\n";
    const std::string sig = SignP256(t.File("k.pem"), data);
    ASSERT_EQ(key.size(), P256PublicKeySize);
    ASSERT_EQ(sig.size(), P256SignatureSize);
    EXPECT_EQ(P256PublicKeyOf(t.File("k.pem")), key);

    auto flip = [](std::string s, size_t at) {
        s[at] = static_cast<char>(s[at] ^ 1);
        return s;
    };
    // The curve's order n: s = n is out of range, as is r = 0.
    const std::string order =
        Bytes("FFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551");
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
        {"another key", NewP256KeyFile(t.File("other.pem")), data, sig, false},
    };
    for (const TCase& c : cases) EXPECT_EQ(VerifyP256(c.Key, c.Data, c.Sig), c.Valid) << c.What;
}
