#include "app/password.h"

#include "platform/text.h"

uint8_t RotateByte(uint8_t b, int count) {
    const int r = count % 8; // truncates toward zero: -7..7 with the sign of count
    if (r == 0) return b;
    const unsigned v = b;
    if (r > 0) return static_cast<uint8_t>((v >> r) | (v << (8 - r)));
    return static_cast<uint8_t>((v << -r) | (v >> (8 + r)));
}

std::string ScramblePassword(const std::string& text, const std::string& key, bool decode) {
    int keySum = 0;
    for (unsigned char c : key) keySum += c;
    const int sign = decode ? 1 : -1;
    std::string result = text;
    size_t j = 0;
    for (size_t i = 0; i < result.size(); ++i) {
        const size_t p = i + 1; // positions count from 1
        const int64_t k = key.empty() ? static_cast<int64_t>(p)
                                      : static_cast<int64_t>(static_cast<unsigned char>(key[j]));
        const int64_t n = (p % 2 == 1) ? (k + keySum) * -sign : (k + keySum) * sign;
        const int count = static_cast<int>(n % 8); // the same remainder, in range for int
        result[i] = static_cast<char>(RotateByte(static_cast<uint8_t>(result[i]), count));
        if (!key.empty() && ++j >= key.size()) j = 0;
    }
    return result;
}

std::string HexEncode(const std::string& text) {
    static const char Digits[] = "0123456789abcdef";
    std::string result;
    result.reserve(text.size() * 2);
    for (unsigned char c : text) {
        result += Digits[c >> 4];
        result += Digits[c & 15];
    }
    return result;
}

std::string HexDecode(const std::string& text) {
    const std::string lower = plat::LowerCase(text);
    std::string result;
    result.reserve(lower.size() / 2);
    for (size_t i = 0; i + 1 < lower.size(); i += 2)
        result += static_cast<char>(plat::StrToInt("$" + lower.substr(i, 2)));
    return result;
}

bool IsHexText(const std::string& text) {
    const std::string t = plat::LowerCase(plat::Trim(text));
    if (t.empty() || t.size() % 2 != 0) return false;
    for (char c : t)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}
