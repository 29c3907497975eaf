#include <gtest/gtest.h>

#include "app/password.h"
#include "platform/exception.h"
#include "tests/support/support.h"

namespace {

TEST(RotateByte, RotatesRightForPositiveLeftForNegativeCountsModEight) {
    EXPECT_EQ(RotateByte(0x01, 1), 0x80);
    EXPECT_EQ(RotateByte(0x80, -1), 0x01);
    EXPECT_EQ(RotateByte(0x81, 9), 0xC0);  // 9 mod 8 = 1
    EXPECT_EQ(RotateByte(0x01, -9), 0x02); // -9 mod 8 = -1
    EXPECT_EQ(RotateByte(0x01, -7), 0x80);
    EXPECT_EQ(RotateByte(0x5A, 8), 0x5A);
    EXPECT_EQ(RotateByte(0x5A, -16), 0x5A);
    EXPECT_EQ(RotateByte(0x41, 1139), 0x28);
}

TEST(ScramblePassword, KnownVectorsWithTheProxyKey) {
    // Key sum 1021. "A" at position 1: ('v' + 1021) mod 8 = 3 to the right; "B" at
    // position 2: ('e' + 1021) mod 8 = 2 to the left.
    EXPECT_EQ(HexEncode(ScramblePassword("AB", ProxyPasswordKey, false)), "2809");
    // Eleven characters: the key starts again at its first character.
    EXPECT_EQ(HexEncode(ScramblePassword("password123", ProxyPasswordKey, false)),
              "0e859bcd77de4ec8986466");
    EXPECT_EQ(ScramblePassword(HexDecode("0e859bcd77de4ec8986466"), ProxyPasswordKey, true),
              "password123");
    EXPECT_EQ(ScramblePassword("", ProxyPasswordKey, false), "");
}

TEST(ScramblePassword, EmptyKeyRotatesByPosition) {
    EXPECT_EQ(ScramblePassword(std::string("\x01\x01", 2), "", false), std::string("\x80\x04", 2));
}

TEST(ScramblePassword, DecodingGivesBackEveryByteString) {
    const std::string keys[] = {ProxyPasswordKey, "", "k", std::string("\xff\x00\x80", 3)};
    for (uint32_t seed = 1; seed <= 200; ++seed) {
        const std::string text = kvtest::RandomBytes(seed % 70, seed);
        for (const std::string& key : keys) {
            const std::string scrambled = ScramblePassword(text, key, false);
            ASSERT_EQ(scrambled.size(), text.size());
            ASSERT_EQ(ScramblePassword(scrambled, key, true), text) << "seed " << seed;
            ASSERT_EQ(HexDecode(HexEncode(scrambled)), scrambled);
        }
    }
}

TEST(HexText, EncodesLowerCaseAndDecodesEitherCase) {
    EXPECT_EQ(HexEncode(std::string("\x00\xff\x1a", 3)), "00ff1a");
    EXPECT_EQ(HexDecode("00FF1a"), std::string("\x00\xff\x1a", 3));
    EXPECT_EQ(HexDecode(""), "");
    EXPECT_THROW(HexDecode("zz"), EConvertError);
}

TEST(HexText, IsHexTextWantsEvenNonEmptyDigitsAfterTrimming) {
    EXPECT_TRUE(IsHexText(" 0aFf\t"));
    EXPECT_TRUE(IsHexText("00"));
    EXPECT_FALSE(IsHexText(""));
    EXPECT_FALSE(IsHexText("   "));
    EXPECT_FALSE(IsHexText("abc"));
    EXPECT_FALSE(IsHexText("0g"));
    EXPECT_FALSE(IsHexText("0a 1b"));
}

} // namespace
