// The publisher's key pairs and signatures on OpenSSL's libcrypto. The publishing tool is
// built on POSIX only, so the owner-only key file is made with the POSIX calls here.
#include "platform/signing_key.h"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/exception.h"
#include "platform/files.h"
#include "platform/openssl/openssl_handles.h"
#include "platform/posix/files_posix.h"
#include "platform/signature.h"

namespace plat {

namespace {

using TBio = std::unique_ptr<BIO, ossl::TFree<BIO, BIO_free_all>>;

// libcrypto's reason for the last failure, for a message.
std::string CryptoReason() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return "unknown reason";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

// A key file is never read with a pass phrase: the tool runs unattended.
int NoPassphrase(char*, int, int, void*) {
    return -1;
}

std::string PublicKeyOf(EVP_PKEY* key) {
    EVP_PKEY_set_utf8_string_param(key, OSSL_PKEY_PARAM_EC_POINT_CONVERSION_FORMAT, "uncompressed");
    unsigned char point[P256PublicKeySize + 1];
    size_t size = 0;
    if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &size) !=
            1 ||
        size != P256PublicKeySize || point[0] != 0x04)
        throw Exception("cannot work out the public key: " + CryptoReason());
    return std::string(reinterpret_cast<const char*>(point), size);
}

ossl::TKey ReadKeyFile(const std::string& fileName) {
    std::string pem;
    if (!ReadFileText(fileName, pem))
        throw Exception("cannot read key file '" + fileName +
                        "': " + SysErrorMessage(GetLastError()));
    TBio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    ossl::TKey key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, NoPassphrase, nullptr)
                       : nullptr);
    if (!key) throw Exception("'" + fileName + "' holds no private key: " + CryptoReason());
    char group[64] = "";
    size_t size = 0;
    if (!EVP_PKEY_is_a(key.get(), "EC") ||
        EVP_PKEY_get_utf8_string_param(key.get(), OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                       &size) != 1 ||
        (std::strcmp(group, "prime256v1") != 0 && std::strcmp(group, "P-256") != 0))
        throw Exception("'" + fileName + "' holds no P-256 private key");
    return key;
}

// Writes data to a new file that only its owner can read; an existing file is left alone.
void WriteNewPrivateFile(const std::string& fileName, const std::string& data) {
    plat::posix::TFd fd(::open(fileName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd.Valid()) {
        const int error = errno;
        throw Exception("cannot create key file '" + fileName + "': " +
                        (error == EEXIST ? std::string("it exists; a key is never replaced")
                                         : std::string(std::strerror(error))));
    }
    const bool ok = plat::posix::WriteAll(fd.Get(), data.data(), data.size()) &&
                    ::fsync(fd.Get()) == 0 && fd.Close();
    const int error = errno;
    if (!ok) {
        fd.Reset();
        ::unlink(fileName.c_str());
        throw Exception("cannot write key file '" + fileName + "': " + std::strerror(error));
    }
}

} // namespace

std::string NewP256KeyFile(const std::string& fileName) {
    ossl::TKey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    if (!key) throw Exception("cannot make a key pair: " + CryptoReason());
    TBio bio(BIO_new(BIO_s_mem()));
    if (!bio ||
        PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        throw Exception("cannot encode the private key: " + CryptoReason());
    char* text = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &text);
    const std::string publicKey = PublicKeyOf(key.get());
    WriteNewPrivateFile(fileName, std::string(text, static_cast<size_t>(size)));
    return publicKey;
}

std::string P256PublicKeyOf(const std::string& fileName) {
    ossl::TKey key = ReadKeyFile(fileName);
    return PublicKeyOf(key.get());
}

std::string SignP256(const std::string& fileName, std::string_view data) {
    ossl::TKey key = ReadKeyFile(fileName);
    ossl::TDigestContext context(EVP_MD_CTX_new());
    size_t size = 0;
    if (!context ||
        EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &size,
                       reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1)
        throw Exception("cannot sign: " + CryptoReason());
    std::string der(size, '\0');
    auto* out = reinterpret_cast<unsigned char*>(der.data());
    if (EVP_DigestSign(context.get(), out, &size,
                       reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1)
        throw Exception("cannot sign: " + CryptoReason());

    // libcrypto signs in DER; the site keeps r and s as they are.
    const auto* in = reinterpret_cast<const unsigned char*>(der.data());
    ossl::TEcdsaSig sig(d2i_ECDSA_SIG(nullptr, &in, static_cast<long>(size)));
    const BIGNUM* r = nullptr;
    const BIGNUM* s = nullptr;
    if (sig) ECDSA_SIG_get0(sig.get(), &r, &s);
    unsigned char raw[P256SignatureSize];
    if (!r || !s || BN_bn2binpad(r, raw, 32) != 32 || BN_bn2binpad(s, raw + 32, 32) != 32)
        throw Exception("cannot sign: the signature has no P-256 form");
    return std::string(reinterpret_cast<const char*>(raw), sizeof raw);
}

} // namespace plat
