#include <gtest/gtest.h>

#include "app/brand_rules.h"

namespace {

class BrandText_ : public ::testing::Test {
protected:
    static std::string BrandText(const std::string& text) { return ::BrandText(text, true); }
};

TEST(BrandTextStandard, LeavesEveryTextAloneUntilRebranded) {
    for (const char* text : {"Stopping Kestavorin.exe", "[kestavorin]", "KESTAVORIN", "",
                             "http://kestavorin.example/search/x", "xxxauthorxxx"})
        EXPECT_EQ(BrandText(text, false), text);
}

TEST_F(BrandText_, ProgramNamesTakeTheFileNameForm) {
    EXPECT_EQ(BrandText("kestavorin.exe"), "Ostrivane.exe");
    EXPECT_EQ(BrandText("KESTAVORIN.EXE"), "Ostrivane.exe");
    EXPECT_EQ(BrandText("Stopping Kestavorin.exe"), "Stopping Ostrivane.exe");
    EXPECT_EQ(BrandText("Stopping KestavorinCL.exe"), "Stopping OstrivaneCL.exe");
    EXPECT_EQ(BrandText("Kestavorin.exe|"), "Ostrivane.exe|");
    EXPECT_EQ(BrandText(""), "");
}

TEST_F(BrandText_, ExactCaseNameGetsDisplayFormOtherCasesFileForm) {
    EXPECT_EQ(BrandText("Kestavorin Updater"), "Ostri Vane Updater");
    EXPECT_EQ(BrandText("kestavorin and KESTAVORIN"), "Ostrivane and Ostrivane");
    EXPECT_EQ(BrandText("KestavorinKestavorin"), "Ostri VaneOstri Vane");
}

TEST_F(BrandText_, BracketedTagKeepsTheStandardName) {
    EXPECT_EQ(BrandText("[kestavorin]"), "[Kestavorin]");
    EXPECT_EQ(BrandText("by [KESTAVORIN] for Kestavorin"), "by [Kestavorin] for Ostri Vane");
    EXPECT_EQ(BrandText("xxxauthorxxx"), "[Kestavorin]");
}

TEST_F(BrandText_, WebAddressesMoveToTheRebrandedSite) {
    EXPECT_EQ(BrandText("http://kestavorin.example/search/spy.htm"),
              "http://www.ostrivane.example/spy.htm");
    EXPECT_EQ(BrandText("http://KESTAVORIN.example/PestInfo/a/b.htm"),
              "http://www.ostrivane.example/a/b.htm");
    EXPECT_EQ(BrandText("http://kestavorin.example/downloads/x"),
              "http://www.ostrivane.example/downloads/x");
    // A host inside the domain keeps its host part; only the domain changes.
    EXPECT_EQ(BrandText("http://www.kestavorin.example/search/x"),
              "http://www.ostrivane.example/search/x");
    EXPECT_EQ(BrandText("mail help@kestavorin.example"), "mail help@ostrivane.example");
}

TEST_F(BrandText_, SupportSentenceIsRemoved) {
    EXPECT_EQ(BrandText("Cookie found. For more info: " + std::string(SpywareCookiesPage)),
              "Cookie found. ");
    EXPECT_EQ(BrandText("x FOR MORE INFO: "
                        "HTTP://WWW.KESTAVORIN.EXAMPLE/SUPPORT/ABOUT/ABOUT_SPYWARE_COOKIES.ASP y"),
              "x  y");
}

TEST(ApplyBrandRule, ReplacesLeftToRightWithoutOverlapOrRescan) {
    EXPECT_EQ(ApplyBrandRule("aaa", {"aa", "X", ""}), "Xa");
    // The replacement holds the text to find: it must not be searched again.
    EXPECT_EQ(ApplyBrandRule("abab", {"ab", "aab", ""}), "aabaab");
    EXPECT_EQ(ApplyBrandRule("AbaB", {"ab", "-", ""}), "--");
    EXPECT_EQ(ApplyBrandRule("AbaB", {"ab", "-", "x"}), "AbaB");
    EXPECT_EQ(ApplyBrandRule("", {"ab", "-", ""}), "");
}

} // namespace
