// The texts of signed sites: keys, signatures and the SHA-256 field, each at its edges.
#include "app/site_signature.h"

#include <gtest/gtest.h>

#include "app/manifest.h"

namespace {

// 64 bytes and 65 bytes starting with 4, as a signature and a key.
const std::string Sig64(64, '\x5a');
const std::string Key65 = "\x04" + std::string(64, '\x11');
const std::string Hex64(64, 'a');

} // namespace

TEST(SiteText, OnlyTheOneSpellingOfTheRightSizeDecodes) {
    const std::string good = SiteText(Sig64);
    ASSERT_EQ(good.size(), 88u);
    std::string loose = good;
    loose[85] = 'h'; // "g" with the last group's unused bit set: same bytes, another spelling
    struct TCase {
        const char* What;
        std::string Text;
        bool Decodes;
    } cases[] = {
        {"as written", good, true},
        {"with a line end and blanks around", "  " + good + "\r\n", true},
        {"cut by one character", good.substr(0, 87), false},
        {"without its padding", good.substr(0, 86), false},
        {"one byte short (84 characters)", SiteText(Sig64.substr(1)), false},
        {"one byte long", SiteText(Sig64 + "x"), false},
        {"a character outside the alphabet", "*" + good.substr(1), false},
        {"a line break inside", good.substr(0, 40) + "\n" + good.substr(40), false},
        {"loose trailing bits", loose, false},
        {"empty", "", false},
    };
    for (const TCase& c : cases) {
        const auto raw = DecodeSiteText(c.Text, 64);
        EXPECT_EQ(raw.has_value(), c.Decodes) << c.What;
        if (raw) {
            EXPECT_EQ(*raw, Sig64) << c.What;
        }
    }
    EXPECT_TRUE(IsSitePublicKey(SiteText(Key65)));
    EXPECT_FALSE(IsSitePublicKey(SiteText("\x02" + Key65.substr(1))));
    EXPECT_FALSE(IsSitePublicKey(SiteText(Sig64)));
}

TEST(SiteKeys, ListIsSplitAtCommasAndTrimmed) {
    EXPECT_EQ(SplitSiteKeys(" a , ,b,"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(SplitSiteKeys(""), std::vector<std::string>{});
}

TEST(Sha256Field, SixtyFourLowerCaseHexDigitsAndTheirComma) {
    struct TCase {
        std::string Tail;
        std::string Field;
    } cases[] = {
        {Hex64 + ",", Hex64},
        {Hex64 + ",anything after,", Hex64},
        {Hex64, ""},
        {Hex64.substr(1) + ",", ""},
        {Hex64 + "a,", ""},
        {"A" + Hex64.substr(1) + ",", ""},
        {"g" + Hex64.substr(1) + ",", ""},
        {"", ""},
    };
    for (const TCase& c : cases) EXPECT_EQ(Sha256Field(c.Tail), c.Field) << c.Tail;

    // The parse keeps each entry's tail for it, whatever it holds.
    TManifest m;
    m.ManifestLines = {"File Name,Checksum,Size,SHA-256,", "a,1,2," + Hex64 + ",", "b,1,2,"};
    ASSERT_TRUE(ParseManifest(m, false, "/nonexistent/", nullptr));
    EXPECT_EQ(m.FileTails, (std::vector<std::string>{Hex64 + ",", ""}));
}
