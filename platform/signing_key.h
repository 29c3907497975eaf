#pragma once
// The publisher's side of site signatures: making a P-256 key pair, reading the public key
// of one and signing with it. Only the publishing tool uses it, and it is built on POSIX
// only. A private key file is PEM (PKCS #8), so common tools read it too. Failures raise
// Exception with a message meant for the person running the tool.
#include <string>
#include <string_view>

namespace plat {

// Makes a new key pair and writes its private key to fileName, readable by its owner only.
// An existing file is never replaced. Returns the public key (65 bytes, signature.h).
std::string NewP256KeyFile(const std::string& fileName);
// The public key (65 bytes) of the private key in fileName.
std::string P256PublicKeyOf(const std::string& fileName);
// The signature (r and s, 64 bytes) of data with the private key in fileName.
std::string SignP256(const std::string& fileName, std::string_view data);

} // namespace plat
