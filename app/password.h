#pragma once
// Scrambling of the stored proxy passwords and their hexadecimal form. Texts are strings of
// single-byte characters with codes 0 to 255.
#include <cstdint>
#include <string>

// The fixed key of both initialisation files.
inline constexpr const char* ProxyPasswordKey = "vexmod.dll";

// Encoding (decode false) rotates the characters at odd positions (counted from 1) right
// and those at even positions left, each by (key character + key sum) mod 8 bits; decoding
// rotates back. The result has the input's length.
std::string ScramblePassword(const std::string& text, const std::string& key, bool decode);

// The 8 bits of b rotated right by count mod 8 (truncated toward zero), left when negative.
uint8_t RotateByte(uint8_t b, int count);

// Each character as two lower-case hexadecimal digits, high digit first.
std::string HexEncode(const std::string& text);
// One character per pair of digits (either case). A pair that is not hexadecimal raises
// EConvertError; a lone last digit is ignored. Call IsHexText first.
std::string HexDecode(const std::string& text);
// The trimmed text is a non-empty, even-length run of hexadecimal digits of either case.
bool IsHexText(const std::string& text);
