// The header list lookup, the word splitter, Base64, encoded words and quoted-printable.
#include <gtest/gtest.h>

#include "net/encodings.h"
#include "net/headers.h"
#include "net/socket_errors.h"
#include "net/stream.h"
#include "tests/support/support.h"

namespace {

TEST(FieldValue, MatchesNameInAnyCaseWithOrWithoutColon) {
    TmsHeaders h{"HTTP/1.1 200 OK", "Content-Length: 1234", ""};
    EXPECT_EQ(FieldValue(h, "Content-Length"), "1234");
    EXPECT_EQ(FieldValue(h, "content-length"), "1234");
    EXPECT_EQ(FieldValue(h, "CONTENT-LENGTH:"), "1234");
    EXPECT_EQ(FieldValue(TmsHeaders{"Content-Length:1234"}, "Content-Length"), "1234");
    // A blank before the colon is another name; a prefix of a name is not the name.
    EXPECT_EQ(FieldValue(TmsHeaders{"Content-Length : 5"}, "Content-Length"), "");
    EXPECT_EQ(FieldValue(TmsHeaders{"Content-Length-X: 5"}, "Content-Length"), "");
    EXPECT_EQ(FieldValue(TmsHeaders{}, "Content-Length"), "");
}

TEST(FieldValue, FirstOccurrenceAndContinuationLines) {
    TmsHeaders h{"X-A: one", "X-A: two", "X-B: first part", "\tsecond part", "  third ",
                 "X-C: c",   ""};
    EXPECT_EQ(FieldValue(h, "X-A"), "one");
    EXPECT_EQ(FieldValue(h, "X-B"), "first part second part third");
    EXPECT_EQ(FieldValue(h, "X-C"), "c");
    // The empty final entry ends a value.
    EXPECT_EQ(FieldValue(TmsHeaders{"X-D: d", "", " not this"}, "X-D"), "d");
}

TEST(FieldValue, DecodesEncodedWordsExceptUnderContentTypeAndUidl) {
    TmsHeaders h{"Subject: =?iso-8859-1?Q?caf=E9_noir?=",
                 "Content-Type: =?iso-8859-1?Q?caf=E9_noir?=", "X-UIDL: =?x?B?YWJj?=", ""};
    EXPECT_EQ(FieldValue(h, "Subject"), "caf\xE9 noir");
    EXPECT_EQ(FieldValue(h, "Content-Type"), "=?iso-8859-1?Q?caf=E9_noir?=");
    EXPECT_EQ(FieldValue(h, "x-uidl"), "=?x?B?YWJj?=");
}

TEST(FieldValue, BadEncodedWordNeverRaises) {
    // A hostile header must not turn a lookup into an error.
    TmsHeaders h{"Content-Length: =?x?B?!!!!?=", ""};
    EXPECT_NO_THROW(FieldValue(h, "Content-Length"));
}

TEST(WordAt, SplitsOnBlanksOnly) {
    EXPECT_EQ(WordAt("HTTP/1.1 301 Moved Permanently", 1, true), "301");
    EXPECT_EQ(WordAt("HTTP/1.1 301 Moved Permanently", 1, false), "301 Moved Permanently");
    EXPECT_EQ(WordAt("HTTP/1.1 301 Moved Permanently", 2, true), "Moved");
    EXPECT_EQ(WordAt("HTTP/1.0 404", 1, true), "404");
    EXPECT_EQ(WordAt("HTTP/1.1", 1, true), "");
    EXPECT_EQ(WordAt("a\tb c", 1, true), "c");
    EXPECT_EQ(WordAt("a   b  c", 1, true), "b");
    EXPECT_EQ(WordAt("abc", 0, true), "abc");
}

TEST(Base64, EncodesWithPadding) {
    EXPECT_EQ(EncodeBase64(""), "");
    EXPECT_EQ(EncodeBase64("a"), "YQ==");
    EXPECT_EQ(EncodeBase64("ab"), "YWI=");
    EXPECT_EQ(EncodeBase64("abc"), "YWJj");
    EXPECT_EQ(EncodeBase64("user:pass"), "dXNlcjpwYXNz");
    EXPECT_EQ(EncodeBase64(std::string("\xFF\xFE\x00", 3)), "//4A");
}

TEST(Base64, RoundTripsEveryLengthAndByte) {
    std::string data = kvtest::RandomBytes(300, 7);
    for (size_t n = 0; n <= data.size(); n += 1) {
        std::string part = data.substr(0, n);
        std::string encoded = EncodeBase64(part);
        EXPECT_EQ(encoded.size() % 4, 0u);
        ASSERT_EQ(DecodeBase64(encoded), part) << n;
    }
}

TEST(Base64, LongCredentialsAreEncodedWhole) {
    std::string text(400, 'x');
    EXPECT_EQ(DecodeBase64(EncodeBase64(text)), text);
}

TEST(Base64, DecodeRejectsCharactersOutsideTheAlphabet) {
    EXPECT_EQ(DecodeBase64(""), "");
    try {
        DecodeBase64("YW J");
        FAIL() << "no error";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Message(), "Invalid Character");
    }
    EXPECT_THROW(DecodeBase64("YWJj\r\n"), EInOutError);
    // A last group without padding gives the bytes it determines.
    EXPECT_EQ(DecodeBase64("YWI"), "ab");
}

TEST(EncodedWords, DecodesBothEncodingsAndKeepsTheRest) {
    EXPECT_EQ(DecodeEncodedWords("=?utf-8?B?aGVsbG8=?="), "hello");
    EXPECT_EQ(DecodeEncodedWords("=?utf-8?b?aGVsbG8=?="), "hello");
    EXPECT_EQ(DecodeEncodedWords("Re: =?x?q?a=3Db?= tail"), "Re: a=btail");
    EXPECT_EQ(DecodeEncodedWords("=?x?Q?one?= =?x?Q?two?="), "onetwo");
    EXPECT_EQ(DecodeEncodedWords("a_b =?x?Q?c_d?="), "a b c d");
    // The "?=" right after a Q marker is not the end of the word.
    EXPECT_EQ(DecodeEncodedWords("=?x?Q?=41B?="), "AB");
    EXPECT_EQ(DecodeEncodedWords("plain text"), "plain text");
    EXPECT_EQ(DecodeEncodedWords("broken =?x?Q?never closed"), "broken =?x?Q?never closed");
}

std::string DecodeQP(const std::vector<std::string>& lines) {
    TMemoryStream out;
    TQuotedPrintable(out, lines).Decode();
    return out.DataString();
}

TEST(QuotedPrintable, DecodesLinesAndSoftBreaks) {
    EXPECT_EQ(DecodeQP({"caf=E9", "noir"}), "caf\xE9\r\nnoir\r\n");
    EXPECT_EQ(DecodeQP({"soft=", "break"}), "softbreak\r\n");
    EXPECT_EQ(DecodeQP({"a=3d=3D", "=ZZ =4"}), "a==\r\n=ZZ =4\r\n");
    EXPECT_EQ(DecodeQP({"end\x1A"}), "end\x1A");
    EXPECT_EQ(DecodeQP({"last soft="}), "last soft");
}

TEST(QuotedPrintable, ParagraphTooLarge) {
    std::vector<std::string> lines(30, std::string(1000, 'a') + "=");
    try {
        DecodeQP(lines);
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Paragraph is too large");
    }
    // Many hard lines are fine: each is its own paragraph.
    std::vector<std::string> hard(30, std::string(1000, 'a'));
    EXPECT_EQ(DecodeQP(hard).size(), 30u * 1002u);
}

TEST(TimeZone, SignAndFourDigits) {
    std::string bias = TimeZoneBias();
    if (bias == "GMT") return;
    ASSERT_EQ(bias.size(), 5u);
    EXPECT_TRUE(bias[0] == '+' || bias[0] == '-');
    for (size_t i = 1; i < 5; ++i) EXPECT_TRUE(isdigit(static_cast<unsigned char>(bias[i])));
}

} // namespace
