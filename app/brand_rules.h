#pragma once
// Brand rules: texts that name the standard edition turned into texts that name the
// rebranded one. BrandText leaves every text alone for the standard edition.
#include <string>

// The editions' addresses on the web.
inline constexpr const char* StandardWebDomain = "kestavorin.example";
inline constexpr const char* RebrandedWebDomain = "ostrivane.example";
inline constexpr const char* RebrandedWebHost = "www.ostrivane.example";
inline constexpr const char* SpywareCookiesPage =
    "http://www.kestavorin.example/Support/About/About_Spyware_Cookies.asp";

// One row of the rule table. Case "x": found only in exactly this letter case; empty: in
// any letter case.
struct TBrandRule {
    std::string Find;
    std::string Replace;
    std::string Case;
};

// The eleven rows, in the order they are applied.
const TBrandRule* BrandRules();
constexpr int BrandRuleCount = 11;

// Every row in turn replaces each occurrence of its text, left to right, never looking
// again at what it has just put in. Returns the text unchanged when rebranded is false (the
// run's Settings.Rebranded).
std::string BrandText(const std::string& text, bool rebranded);

// One row applied to a text.
std::string ApplyBrandRule(const std::string& text, const TBrandRule& rule);
