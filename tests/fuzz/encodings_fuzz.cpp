// The text encodings a response or credentials pass through: Base64 both ways (a round
// trip must give the bytes back), encoded words, quoted-printable lines, and the header
// lookup FieldValue with its word splitter. The first byte picks the word index and the
// field name among those the client asks for.
#include <cstdlib>
#include <string_view>

#include "net/encodings.h"
#include "net/headers.h"
#include "net/stream.h"
#include "platform/exception.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const char* const Names[] = {
        "Content-Length", "Transfer-Encoding:", "Content-Type", "Subject", "X-UIDL", "", ":",
        "Location"};
    const uint8_t pick = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

    if (DecodeBase64(EncodeBase64(text)) != text) std::abort();
    try {
        DecodeBase64(text);
    } catch (const EInOutError&) {
    }
    try {
        DecodeEncodedWords(text);
    } catch (const Exception&) {
        // An invalid Base64 character or a quoted-printable paragraph too large.
    }

    const std::vector<std::string> lines = plat::SplitLines(text);
    try {
        TMemoryStream output;
        TQuotedPrintable(output, lines).Decode();
    } catch (const Exception&) {
    }
    TmsHeaders headers(lines.begin(), lines.end());
    headers.emplace_back();
    FieldValue(headers, Names[pick % 8]);
    if (!headers.empty()) WordAt(headers[0], pick >> 3 & 7, pick & 0x40);
    return 0;
}
