#include "platform/text.h"

#include "platform/exception.h"

namespace plat {

namespace {
char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
}
char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? char(c - 32) : c;
}
bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}
int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
} // namespace

std::string LowerCase(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = Lower(c);
    return r;
}

std::string UpperCase(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = Upper(c);
    return r;
}

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

bool StartsText(std::string_view prefix, std::string_view s) {
    return s.size() >= prefix.size() && SameText(prefix, s.substr(0, prefix.size()));
}

bool EndsText(std::string_view suffix, std::string_view s) {
    return s.size() >= suffix.size() && SameText(suffix, s.substr(s.size() - suffix.size()));
}

std::string TrimLeft(std::string_view s) {
    size_t b = 0;
    while (b < s.size() && IsBlank(s[b])) ++b;
    return std::string(s.substr(b));
}

std::string TrimRight(std::string_view s) {
    size_t e = s.size();
    while (e > 0 && IsBlank(s[e - 1])) --e;
    return std::string(s.substr(0, e));
}

std::string Trim(std::string_view s) {
    return TrimLeft(TrimRight(s));
}

std::optional<int32_t> TryDecimalToInt(std::string_view s) {
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i >= s.size()) return std::nullopt;
    int64_t v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return std::nullopt;
        v = v * 10 + (s[i] - '0');
        if (v > 2147483648LL) return std::nullopt;
    }
    if (negative) v = -v;
    if (v > 2147483647LL) return std::nullopt;
    return static_cast<int32_t>(v);
}

std::optional<int32_t> TryStrToInt(std::string_view s) {
    size_t start = 0;
    while (start < s.size() && s[start] == ' ') ++start;
    size_t i = start;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    size_t digits = i;
    if (i < s.size() && (s[i] == '$' || s[i] == 'x' || s[i] == 'X'))
        digits = i + 1;
    else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X'))
        digits = i + 2;
    if (digits == i) return TryDecimalToInt(s.substr(start));
    if (digits >= s.size() || s.size() - digits > 8) return std::nullopt;
    uint32_t v = 0;
    for (i = digits; i < s.size(); ++i) {
        int d = HexValue(s[i]);
        if (d < 0) return std::nullopt;
        v = (v << 4) | uint32_t(d);
    }
    if (negative) v = 0u - v;
    return static_cast<int32_t>(v);
}

int32_t StrToInt(std::string_view s) {
    if (auto v = TryStrToInt(s)) return *v;
    throw EConvertError("'" + std::string(s) + "' is not a valid integer value");
}

int32_t StrToIntDef(std::string_view s, int32_t def) {
    auto v = TryStrToInt(s);
    return v ? *v : def;
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t nul = text.find('\0');
    if (nul != std::string_view::npos) text = text.substr(0, nul);
    size_t start = 0, i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.emplace_back(text.substr(start, i - start));
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            start = ++i;
        } else {
            ++i;
        }
    }
    if (start < text.size()) lines.emplace_back(text.substr(start));
    return lines;
}

} // namespace plat
