// SHA-256 and the ECDSA P-256 check on OpenSSL's libcrypto.
#include "platform/signature.h"

#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include "platform/exception.h"
#include "platform/openssl/openssl_handles.h"

namespace plat {

namespace ossl {

TKey P256PublicKey(std::string_view point) {
    TKeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    if (!context || EVP_PKEY_fromdata_init(context.get()) != 1) return nullptr;
    char group[] = "prime256v1";
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
                           OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY,
                                                             const_cast<char*>(point.data()),
                                                             point.size()),
                           OSSL_PARAM_construct_end()};
    EVP_PKEY* key = nullptr;
    // Decoding the point checks that it lies on the curve.
    if (EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, params) != 1) return nullptr;
    return TKey(key);
}

} // namespace ossl

namespace {
const char* const HashFailure = "SHA-256 could not be worked out";
} // namespace

struct TSha256::TState {
    ossl::TDigestContext Context{EVP_MD_CTX_new()};
};

TSha256::TSha256() : FState(std::make_unique<TState>()) {
    // A digest that could not be worked out must never pass for one: failures raise.
    if (!FState->Context || EVP_DigestInit_ex(FState->Context.get(), EVP_sha256(), nullptr) != 1)
        throw Exception(HashFailure);
}

TSha256::~TSha256() = default;

void TSha256::Update(const void* data, size_t size) {
    if (EVP_DigestUpdate(FState->Context.get(), data, size) != 1) throw Exception(HashFailure);
}

TSha256Digest TSha256::Final() {
    TSha256Digest digest{};
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(FState->Context.get(), digest.data(), &size) != 1 ||
        size != digest.size())
        throw Exception(HashFailure);
    return digest;
}

bool VerifyP256(std::string_view publicKey, std::string_view data, std::string_view signature) {
    if (publicKey.size() != P256PublicKeySize || publicKey[0] != 0x04 ||
        signature.size() != P256SignatureSize)
        return false;
    ossl::TKey key = ossl::P256PublicKey(publicKey);
    if (!key) return false;

    // libcrypto checks the DER form of the signature; r and s are put into it here.
    const auto* raw = reinterpret_cast<const unsigned char*>(signature.data());
    ossl::TEcdsaSig sig(ECDSA_SIG_new());
    BIGNUM* r = BN_bin2bn(raw, 32, nullptr);
    BIGNUM* s = BN_bin2bn(raw + 32, 32, nullptr);
    if (!sig || !r || !s || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
        BN_free(r);
        BN_free(s);
        return false;
    }
    unsigned char* der = nullptr;
    const int derSize = i2d_ECDSA_SIG(sig.get(), &der);
    if (derSize <= 0) return false;
    ossl::TBytes derOwner(der);

    ossl::TDigestContext context(EVP_MD_CTX_new());
    if (!context ||
        EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1)
        return false;
    return EVP_DigestVerify(context.get(), der, static_cast<size_t>(derSize),
                            reinterpret_cast<const unsigned char*>(data.data()), data.size()) == 1;
}

} // namespace plat
