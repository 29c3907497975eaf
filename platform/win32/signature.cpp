// SHA-256 and the ECDSA P-256 check on the system's own cryptography (CNG, bcrypt.dll). CNG
// takes the public key as its point (x, y) after a small header, and an ECDSA signature as r
// and s, 32 bytes each: the raw forms of signature.h, without conversion.
#include "platform/signature.h"

#include <cstring>

#include "platform/exception.h"
#include "platform/win32/win32_api.h"

#include <bcrypt.h>

namespace plat {

namespace {

const char* const HashFailure = "SHA-256 could not be worked out";

bool Ok(NTSTATUS status) {
    return status >= 0;
}

// An algorithm provider and a key, each closed by its own call.
struct TAlgorithm {
    BCRYPT_ALG_HANDLE Handle = nullptr;
    explicit TAlgorithm(const wchar_t* name) {
        if (!Ok(::BCryptOpenAlgorithmProvider(&Handle, name, nullptr, 0))) Handle = nullptr;
    }
    ~TAlgorithm() {
        if (Handle) ::BCryptCloseAlgorithmProvider(Handle, 0);
    }
    TAlgorithm(const TAlgorithm&) = delete;
    TAlgorithm& operator=(const TAlgorithm&) = delete;
};

struct TKey {
    BCRYPT_KEY_HANDLE Handle = nullptr;
    TKey() = default;
    ~TKey() {
        if (Handle) ::BCryptDestroyKey(Handle);
    }
    TKey(const TKey&) = delete;
    TKey& operator=(const TKey&) = delete;
};

} // namespace

struct TSha256::TState {
    TAlgorithm Algorithm{BCRYPT_SHA256_ALGORITHM};
    BCRYPT_HASH_HANDLE Hash = nullptr;
    ~TState() {
        if (Hash) ::BCryptDestroyHash(Hash);
    }
};

TSha256::TSha256() : FState(std::make_unique<TState>()) {
    // A digest that could not be worked out must never pass for one: failures raise.
    if (!FState->Algorithm.Handle ||
        !Ok(::BCryptCreateHash(FState->Algorithm.Handle, &FState->Hash, nullptr, 0, nullptr, 0, 0)))
        throw Exception(HashFailure);
}

TSha256::~TSha256() = default;

void TSha256::Update(const void* data, size_t size) {
    const auto* p = static_cast<const UCHAR*>(data);
    while (size > 0) {
        const ULONG chunk = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
        if (!Ok(::BCryptHashData(FState->Hash, const_cast<UCHAR*>(p), chunk, 0)))
            throw Exception(HashFailure);
        p += chunk;
        size -= chunk;
    }
}

TSha256Digest TSha256::Final() {
    TSha256Digest digest{};
    if (!Ok(::BCryptFinishHash(FState->Hash, digest.data(), static_cast<ULONG>(digest.size()), 0)))
        throw Exception(HashFailure);
    return digest;
}

bool VerifyP256(std::string_view publicKey, std::string_view data, std::string_view signature) {
    if (publicKey.size() != P256PublicKeySize || publicKey[0] != 0x04 ||
        signature.size() != P256SignatureSize)
        return false;
    TAlgorithm algorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    if (!algorithm.Handle) return false;
    // The public blob: its header, then x and y.
    unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
    const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::memcpy(blob, &header, sizeof header);
    std::memcpy(blob + sizeof header, publicKey.data() + 1, 64);
    TKey key;
    // Importing the point checks that it lies on the curve.
    if (!Ok(::BCryptImportKeyPair(algorithm.Handle, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key.Handle,
                                  blob, sizeof blob, 0)))
        return false;
    TSha256Digest digest;
    try {
        digest = Sha256(data);
    } catch (const Exception&) {
        return false;
    }
    unsigned char raw[P256SignatureSize];
    std::memcpy(raw, signature.data(), sizeof raw);
    return ::BCryptVerifySignature(key.Handle, nullptr, digest.data(),
                                   static_cast<ULONG>(digest.size()), raw, sizeof raw, 0) == 0;
}

} // namespace plat
