#include "net/encodings.h"

#include <chrono>
#include <cstdio>

#include "net/socket_errors.h"
#include "net/stream.h"
#include "platform/clock.h"
#include "platform/exception.h"
#include "platform/text.h"

namespace {

constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t MaxParagraph = 24575;
constexpr char EndOfFile = 26;

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    if (c == '=') return 0;
    return -1;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string DecodeQuotedLine(std::string_view line) {
    std::string out;
    out.reserve(line.size());
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '=' && i + 2 < line.size() && HexValue(line[i + 1]) >= 0 &&
            HexValue(line[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(line[i + 1]) * 16 + HexValue(line[i + 2]));
            i += 2;
        } else {
            out += line[i];
        }
    }
    return out;
}

bool IsMarkerLetter(char c) {
    return c == 'B' || c == 'b' || c == 'Q' || c == 'q';
}

} // namespace

std::string EncodeBase64(std::string_view text) {
    std::string out;
    out.reserve((text.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= text.size(); i += 3) {
        uint32_t v = static_cast<uint8_t>(text[i]) << 16 | static_cast<uint8_t>(text[i + 1]) << 8 |
                     static_cast<uint8_t>(text[i + 2]);
        out += Alphabet[v >> 18 & 63];
        out += Alphabet[v >> 12 & 63];
        out += Alphabet[v >> 6 & 63];
        out += Alphabet[v & 63];
    }
    size_t rest = text.size() - i;
    if (rest > 0) {
        uint32_t v = static_cast<uint8_t>(text[i]) << 16;
        if (rest == 2) v |= static_cast<uint8_t>(text[i + 1]) << 8;
        out += Alphabet[v >> 18 & 63];
        out += Alphabet[v >> 12 & 63];
        if (rest == 2) out += Alphabet[v >> 6 & 63];
    }
    while (out.size() % 4 != 0) out += '=';
    return out;
}

std::string DecodeBase64(std::string_view text) {
    std::string out;
    if (text.empty()) return out;
    out.reserve(text.size() / 4 * 3 + 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        size_t group = std::min<size_t>(4, text.size() - i);
        uint32_t v = 0;
        for (size_t k = 0; k < 4; ++k) {
            int d = 0;
            if (k < group) {
                d = Base64Value(text[i + k]);
                if (d < 0) throw EInOutError(sInvalidCharacter);
            }
            v = v << 6 | static_cast<uint32_t>(d);
        }
        // A short last group gives only the bytes its characters determine.
        size_t bytes = group == 4 ? 3 : group - 1;
        for (size_t k = 0; k < bytes; ++k) out += static_cast<char>(v >> (16 - 8 * k) & 0xFF);
    }
    size_t pad = 0;
    while (pad < text.size() && text[text.size() - 1 - pad] == '=') ++pad;
    out.resize(out.size() - std::min(pad, out.size()));
    return out;
}

std::string DecodeEncodedWords(std::string_view input) {
    std::string text(input);
    for (;;) {
        size_t start = text.find("=?");
        if (start == std::string::npos) break;
        // The closing "?=" lies past the opening one and is not the "?=" that follows a
        // "?B?" or "?Q?" marker.
        size_t close = std::string::npos;
        for (size_t q = text.find("?=", start + 2); q != std::string::npos;
             q = text.find("?=", q + 1)) {
            bool marker = q >= start + 4 && text[q - 2] == '?' && IsMarkerLetter(text[q - 1]);
            if (!marker) {
                close = q;
                break;
            }
        }
        if (close == std::string::npos) break;

        std::string_view word = std::string_view(text).substr(start + 2, close - start - 2);
        size_t q1 = word.find('?');
        if (q1 == std::string_view::npos || q1 + 2 >= word.size() || word[q1 + 2] != '?')
            break; // not charset?letter?text: left as it stands
        char letter = word[q1 + 1];
        std::string_view encoded = word.substr(q1 + 3);
        std::string decoded;
        if (letter == 'B' || letter == 'b') {
            decoded = DecodeBase64(encoded);
        } else if (letter == 'Q' || letter == 'q') {
            TMemoryStream stream;
            std::vector<std::string> lines{std::string(encoded)};
            TQuotedPrintable(stream, lines).Decode();
            std::string all = stream.DataString();
            decoded = all.substr(0, all.find("\r\n"));
        } else {
            decoded = std::string(encoded);
        }
        std::string after = plat::Trim(std::string_view(text).substr(close + 2));
        text = text.substr(0, start) + decoded + after;
        for (char& c : text)
            if (c == '_') c = ' ';
    }
    return text;
}

TQuotedPrintable::TQuotedPrintable(TStream& output, const std::vector<std::string>& lines)
    : FOutput(output), FLines(lines) {}

void TQuotedPrintable::Decode() {
    std::string paragraph;
    for (const std::string& line : FLines) {
        bool soft = !line.empty() && line.back() == '=';
        paragraph += DecodeQuotedLine(soft ? std::string_view(line).substr(0, line.size() - 1)
                                           : std::string_view(line));
        if (!soft && !(!line.empty() && line.back() == EndOfFile)) paragraph += "\r\n";
        if (paragraph.size() >= MaxParagraph) throw Exception(sParagraphTooLarge);
        if (!soft) {
            FOutput.Write(paragraph.data(), static_cast<int64_t>(paragraph.size()));
            paragraph.clear();
        }
    }
    if (!paragraph.empty()) FOutput.Write(paragraph.data(), static_cast<int64_t>(paragraph.size()));
}

std::string TimeZoneBias() {
    using namespace std::chrono;
    int64_t now = duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
    plat::TSystemTime local;
    if (!plat::UnixToLocal(plat::TUnixTime{now, 0}, local)) return "GMT";
    // The local calendar time read as if it were universal time, less the universal time.
    sys_days day = year_month_day{year{local.Year}, month{static_cast<unsigned>(local.Month)},
                                  std::chrono::day{static_cast<unsigned>(local.Day)}};
    int64_t asUtc = duration_cast<seconds>(day.time_since_epoch()).count() + local.Hour * 3600 +
                    local.Minute * 60 + local.Second;
    // Rounded to whole minutes: the second may tick between the two readings.
    int64_t minutes = (asUtc - now + (asUtc >= now ? 30 : -30)) / 60;
    char sign = minutes < 0 ? '-' : '+';
    if (minutes < 0) minutes = -minutes;
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%c%02d%02d", sign, static_cast<int>(minutes / 60),
                  static_cast<int>(minutes % 60));
    return buffer;
}
