// CNG signs a manifest with a key of its own making and leaves the public key, the signature
// and the manifest in OpenSSL's DER forms for the host's openssl to verify
// (openssl_verifies_cng).
#include <windows.h>

#include <bcrypt.h>
#include <gtest/gtest.h>

#include <cstring>

#include "platform/signature.h"
#include "tests/platform/der.h"
#include "tests/support/support.h"

TEST(CngSigns, AManifestForOpensslToVerify) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    ASSERT_EQ(0,
              ::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0));
    BCRYPT_KEY_HANDLE key = nullptr;
    ASSERT_EQ(0, ::BCryptGenerateKeyPair(algorithm, &key, 256, 0));
    ASSERT_EQ(0, ::BCryptFinalizeKeyPair(key, 0));
    unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
    ULONG size = 0;
    ASSERT_EQ(0,
              ::BCryptExportKey(key, nullptr, BCRYPT_ECCPUBLIC_BLOB, blob, sizeof blob, &size, 0));
    ASSERT_EQ(size, sizeof blob);
    const std::string point =
        "\x04" + std::string(reinterpret_cast<const char*>(blob) + sizeof(BCRYPT_ECCKEY_BLOB), 64);

    const std::string data = "File Name,Checksum,Size,\r\nb.dll,7,9,\r\n";
    plat::TSha256Digest digest = plat::Sha256(data);
    unsigned char raw[64];
    ASSERT_EQ(0, ::BCryptSignHash(key, nullptr, digest.data(), 32, raw, sizeof raw, &size, 0));
    ASSERT_EQ(size, 64u);
    const std::string sig(reinterpret_cast<const char*>(raw), 64);
    // What it signed, our own check takes.
    EXPECT_TRUE(plat::VerifyP256(point, data, sig));
    ::BCryptDestroyKey(key);
    ::BCryptCloseAlgorithmProvider(algorithm, 0);

    const std::string out = kvtest::WinePath(KV_OPENSSL_VECTORS) + "\\cng\\";
    kvtest::WriteFile(out + "pub.der", kvtest::DerOfPoint(point));
    kvtest::WriteFile(out + "sig.der", kvtest::DerOfRawSignature(sig));
    kvtest::WriteFile(out + "data.txt", data);
}
