#pragma once
// Base64, MIME encoded words and quoted-printable decoding, and the mail helpers that come
// with them.
#include <string>
#include <string_view>
#include <vector>

class TStream;

// Standard Base64 with "=" padding. Inputs of any length are encoded whole, so long
// credentials are sent as given rather than cut.
std::string EncodeBase64(std::string_view text);
// Raises EInOutError "Invalid Character" for a character outside the alphabet and "=".
std::string DecodeBase64(std::string_view text);
// Decodes every "=?charset?B|Q?text?=" and turns "_" into blanks.
std::string DecodeEncodedWords(std::string_view text);

// Decodes quoted-printable lines, appending the bytes to the output stream. A paragraph
// (lines joined by soft breaks) of 24575 bytes or more raises Exception
// "Paragraph is too large".
class TQuotedPrintable {
public:
    TQuotedPrintable(TStream& output, const std::vector<std::string>& lines);
    void Decode();

private:
    TStream& FOutput;
    const std::vector<std::string>& FLines;
};

// Names of the content transfer encodings.
inline constexpr const char* CodingNames[3] = {"7 bit", "Base64", "Quoted-Printable"};
// The local time zone's offset: sign and four digits ("+0130"), "GMT" when unknown.
std::string TimeZoneBias();
