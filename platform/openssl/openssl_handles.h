#pragma once
// Owners for libcrypto's objects, and the one way a raw public key becomes one.
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include <memory>
#include <string_view>

namespace plat::ossl {

template <typename T, void (*Free)(T*)> struct TFree {
    void operator()(T* p) const { Free(p); }
};

using TKey = std::unique_ptr<EVP_PKEY, TFree<EVP_PKEY, EVP_PKEY_free>>;
using TKeyContext = std::unique_ptr<EVP_PKEY_CTX, TFree<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using TDigestContext = std::unique_ptr<EVP_MD_CTX, TFree<EVP_MD_CTX, EVP_MD_CTX_free>>;
using TEcdsaSig = std::unique_ptr<ECDSA_SIG, TFree<ECDSA_SIG, ECDSA_SIG_free>>;

struct TCryptoFree {
    void operator()(unsigned char* p) const { OPENSSL_free(p); }
};
using TBytes = std::unique_ptr<unsigned char, TCryptoFree>;

// The P-256 public key of an uncompressed point; empty when the point is not on the curve.
TKey P256PublicKey(std::string_view point);

} // namespace plat::ossl
