#pragma once
// Text helpers with the framework's semantics: single-byte texts, ASCII case mapping,
// trimming of blanks and control characters, and the whole-number conversion. Portable
// (text.cpp).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

std::string LowerCase(std::string_view s);             // ASCII letters only
std::string UpperCase(std::string_view s);             // ASCII letters only
bool SameText(std::string_view a, std::string_view b); // ASCII case-insensitive equality
bool StartsText(std::string_view prefix, std::string_view s);
bool EndsText(std::string_view suffix, std::string_view s);

// Removes every character up to and including the blank (codes 0..32) at both ends.
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

// The framework's whole-number conversion: leading blanks, optional sign, decimal digits
// in the signed 32-bit range, or up to eight hexadecimal digits after "$", "x", "X", "0x"
// or "0X" taken as the 32-bit pattern. Nothing else is accepted (no trailing blanks).
std::optional<int32_t> TryStrToInt(std::string_view s);
// As TryStrToInt, raising EConvertError "'%s' is not a valid integer value" on failure.
int32_t StrToInt(std::string_view s);
int32_t StrToIntDef(std::string_view s, int32_t def);
// A decimal number in the signed 32-bit range: optional sign, digits, nothing else (no
// blanks, no hexadecimal prefix), as protocol fields and port numbers are written.
std::optional<int32_t> TryDecimalToInt(std::string_view s);

// Splits a text into lines: a line ends at CR LF, LF or CR; a last line without a line
// break counts; a NUL byte ends the text.
std::vector<std::string> SplitLines(std::string_view text);

} // namespace plat
