#include "net/headers.h"

#include "net/encodings.h"
#include "platform/exception.h"
#include "platform/text.h"

namespace {

constexpr size_t MaxShortText = 255;

std::string Decoded(const std::string& value, bool decode) {
    if (!decode) return value;
    std::string result;
    try {
        result = DecodeEncodedWords(value);
    } catch (const Exception&) {
        // A malformed encoded word stays as it came: a lookup never fails.
        result = value;
    }
    if (result.size() > MaxShortText) result.resize(MaxShortText);
    return result;
}

} // namespace

std::string FieldValue(const TmsHeaders& list, std::string_view name) {
    std::string upperName = plat::UpperCase(name);
    bool decode = upperName != "CONTENT-TYPE" && upperName != "X-UIDL";
    if (list.empty()) return {};
    std::string key = upperName;
    if (key.empty() || key.back() != ':') key += ':';

    size_t i = 0;
    while (i < list.size() && plat::UpperCase(list[i]).rfind(key, 0) != 0) ++i;
    if (i == list.size()) return {};

    const std::string& entry = list[i];
    std::string value =
        Decoded(plat::Trim(std::string_view(entry).substr(entry.find(':') + 1)), decode);
    for (++i; i < list.size(); ++i) {
        const std::string& line = list[i];
        if (line.empty() || (line[0] != ' ' && line[0] != '\t')) break;
        value += ' ';
        value += Decoded(plat::Trim(line), decode);
    }
    return value;
}

std::string WordAt(std::string_view text, int n, bool firstOnly) {
    std::string rest(text);
    for (int i = 0; i < n; ++i) {
        size_t blank = rest.find(' ');
        if (blank == std::string::npos) return {};
        rest = plat::Trim(std::string_view(rest).substr(blank + 1));
    }
    if (firstOnly) {
        size_t blank = rest.find(' ');
        if (blank != std::string::npos) rest.resize(blank);
    }
    return plat::Trim(rest);
}
