#pragma once
// The header list of a response and the word splitter that reads its status code.
#include <string>
#include <string_view>
#include <vector>

// An ordered list of lines: the status line, the header lines as received (continuation
// lines as entries of their own), then one empty entry.
using TmsHeaders = std::vector<std::string>;

// The value of the named field ("Name" or "Name:", any case), continuation lines joined by
// one blank, encoded words decoded except under Content-Type and X-UIDL; empty when absent.
std::string FieldValue(const TmsHeaders& list, std::string_view name);

// The part of a line after its first n blank-separated words, or only the next word when
// firstOnly is set; empty when the line has fewer words.
std::string WordAt(std::string_view text, int n, bool firstOnly);
