#pragma once
// Signed update sites. A site is signed when "versions.sig" lies beside its manifest: the
// ECDSA P-256 signature with SHA-256 of the manifest's exact bytes, and every entry line
// carries, after its size field's comma, the SHA-256 of its cabinet as 64 lower-case hex
// digits and a comma. An updater that trusts at least one public key insists on both; one
// that trusts none reads the site as it always has, the extra field unread.
//
// Keys and signatures are written as Base64 of their raw bytes (platform/signature.h) on
// one line.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* SiteSignatureName = "versions.sig";

// Base64 of a raw key or signature.
std::string SiteText(std::string_view raw);
// The raw bytes of a key's or signature's text when it is Base64 of exactly size bytes in
// its one canonical spelling, blanks and line ends around it aside; nothing otherwise.
std::optional<std::string> DecodeSiteText(std::string_view text, size_t size);
// A public key's text that can verify something.
bool IsSitePublicKey(std::string_view text);

// The entries of a comma-separated list of keys, blanks around each removed, empty ones
// left out.
std::vector<std::string> SplitSiteKeys(std::string_view list);

// Whether signatureText is a signature of manifest by one of the keys (their texts).
bool SiteSignatureValid(const std::vector<std::string>& keys, std::string_view manifest,
                        std::string_view signatureText);

// The SHA-256 field at the start of what follows an entry's size field, when it is 64
// lower-case hex digits ended by a comma; empty otherwise.
std::string Sha256Field(std::string_view afterSize);
// The field's form of the SHA-256 of a file; empty, with the reason in the last error,
// when the file can't be read through.
std::string FileSha256Field(const std::string& fileName);
// The same of bytes in memory.
std::string Sha256FieldOf(std::string_view data);
