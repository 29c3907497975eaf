#pragma once
// Signatures of update sites: SHA-256, and ECDSA over the P-256 curve with SHA-256 checked
// against a public key. Keys and signatures are kept in the raw forms every cryptographic
// interface reads without conversion: the public key as the 65-byte uncompressed point
// (0x04, x, y), the signature as r and s, 32 big-endian bytes each. The file hash is
// portable (signature.cpp); the hash and the check are the side's (openssl/ on POSIX).
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace plat {

using TSha256Digest = std::array<uint8_t, 32>;

// SHA-256 over data given in pieces.
class TSha256 {
public:
    TSha256();
    ~TSha256();
    TSha256(const TSha256&) = delete;
    TSha256& operator=(const TSha256&) = delete;
    void Update(const void* data, size_t size);
    // The digest of everything given; the object is then spent.
    TSha256Digest Final();

private:
    struct TState;
    std::unique_ptr<TState> FState;
};

TSha256Digest Sha256(std::string_view data);
// The digest of a file's contents; false with the reason in the last error when it can't
// be read through.
bool Sha256File(const std::string& name, TSha256Digest& digest);

constexpr size_t P256PublicKeySize = 65;
constexpr size_t P256SignatureSize = 64;

// Whether signature is an ECDSA P-256 signature with SHA-256 of data by the holder of
// publicKey. A key or signature of the wrong size or form is no error: it verifies nothing.
bool VerifyP256(std::string_view publicKey, std::string_view data, std::string_view signature);

} // namespace plat
