#pragma once
// The few DER forms OpenSSL reads and writes for P-256: a public key (SubjectPublicKeyInfo)
// and an ECDSA signature (a sequence of r and s), to and from the raw forms of signature.h.
#include <cstdint>
#include <string>

namespace kvtest {

inline std::string Bytes(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// The point of a P-256 public key in DER: its last 65 bytes.
inline std::string PointOfDer(const std::string& der) {
    return der.size() >= 65 ? der.substr(der.size() - 65) : std::string();
}

inline std::string DerOfPoint(const std::string& point) {
    return Bytes("3059301306072a8648ce3d020106082a8648ce3d030107034200") + point;
}

// r and s, 32 bytes each, of a DER signature; empty when it is not one.
inline std::string RawOfDerSignature(const std::string& der) {
    std::string raw;
    size_t at = 2; // SEQUENCE, its length (short form: a P-256 signature is under 128 bytes)
    for (int i = 0; i < 2; ++i) {
        if (at + 2 > der.size() || der[at] != 0x02) return {};
        size_t length = static_cast<uint8_t>(der[at + 1]);
        std::string value = der.substr(at + 2, length);
        at += 2 + length;
        while (value.size() > 32 && value[0] == '\0') value.erase(0, 1);
        if (value.size() > 32) return {};
        raw += std::string(32 - value.size(), '\0') + value;
    }
    return raw;
}

inline std::string DerOfRawSignature(const std::string& raw) {
    std::string body;
    for (int i = 0; i < 2; ++i) {
        std::string value = raw.substr(i * 32, 32);
        while (value.size() > 1 && value[0] == '\0' && !(static_cast<uint8_t>(value[1]) & 0x80))
            value.erase(0, 1);
        if (static_cast<uint8_t>(value[0]) & 0x80) value.insert(0, 1, '\0');
        body += '\x02';
        body += static_cast<char>(value.size());
        body += value;
    }
    return std::string("\x30", 1) + static_cast<char>(body.size()) + body;
}

} // namespace kvtest
