#pragma once
// Message texts of the internet components.
#include <cstdint>
#include <string>

inline constexpr const char* sTimedOut = "Operation timed out";
inline constexpr const char* sCanceled = "Operation has been canceled";
inline constexpr const char* sTooMuchData = "Buffer is full. Will disconnect.";
inline constexpr const char* sInvalidWinsockVersion = "Invalid winsock version";
inline constexpr const char* sWinsockNotLoaded = "Winsock not loaded";
inline constexpr const char* sErrorReceivingStream = "Error receiving the stream";
inline constexpr const char* sParagraphTooLarge = "Paragraph is too large";
inline constexpr const char* sInvalidCharacter = "Invalid Character";
inline constexpr const char* sWinsockErrorNo = "Winsock error no ";

// "Response larger than " + limit + " bytes".
std::string BodyTooLargeText(int64_t limit);
// "Function " + name + " not found".
std::string FunctionNotFoundText(const std::string& name);
