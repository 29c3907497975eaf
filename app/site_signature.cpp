#include "app/site_signature.h"

#include "net/encodings.h"
#include "platform/exception.h"
#include "platform/signature.h"
#include "platform/text.h"

std::string SiteText(std::string_view raw) {
    return EncodeBase64(raw);
}

std::optional<std::string> DecodeSiteText(std::string_view text, size_t size) {
    const std::string trimmed = plat::Trim(text);
    std::string raw;
    try {
        raw = DecodeBase64(trimmed);
    } catch (const Exception&) {
        return std::nullopt;
    }
    // The decoder forgives what mail needs forgiven; only the one spelling of the bytes
    // passes here.
    if (raw.size() != size || EncodeBase64(raw) != trimmed) return std::nullopt;
    return raw;
}

bool IsSitePublicKey(std::string_view text) {
    const auto raw = DecodeSiteText(text, plat::P256PublicKeySize);
    return raw && (*raw)[0] == 0x04;
}

std::vector<std::string> SplitSiteKeys(std::string_view list) {
    std::vector<std::string> keys;
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        if (comma == std::string_view::npos) comma = list.size();
        std::string key = plat::Trim(list.substr(start, comma - start));
        if (!key.empty()) keys.push_back(std::move(key));
        start = comma + 1;
    }
    return keys;
}

bool SiteSignatureValid(const std::vector<std::string>& keys, std::string_view manifest,
                        std::string_view signatureText) {
    const auto signature = DecodeSiteText(signatureText, plat::P256SignatureSize);
    if (!signature) return false;
    for (const std::string& text : keys) {
        const auto key = DecodeSiteText(text, plat::P256PublicKeySize);
        if (key && plat::VerifyP256(*key, manifest, *signature)) return true;
    }
    return false;
}

std::string Sha256Field(std::string_view afterSize) {
    if (afterSize.size() < 65 || afterSize[64] != ',') return "";
    for (char c : afterSize.substr(0, 64))
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return "";
    return std::string(afterSize.substr(0, 64));
}

namespace {

std::string DigestField(const plat::TSha256Digest& digest) {
    static const char Hex[] = "0123456789abcdef";
    std::string field;
    for (uint8_t b : digest) {
        field += Hex[b >> 4];
        field += Hex[b & 15];
    }
    return field;
}

} // namespace

std::string FileSha256Field(const std::string& fileName) {
    plat::TSha256Digest digest;
    if (!plat::Sha256File(fileName, digest)) return "";
    return DigestField(digest);
}

std::string Sha256FieldOf(std::string_view data) {
    return DigestField(plat::Sha256(data));
}
