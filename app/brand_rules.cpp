#include "app/brand_rules.h"

#include "platform/text.h"

namespace {
const std::string Domain = StandardWebDomain;
const std::string Host = RebrandedWebHost;

const TBrandRule Rules[BrandRuleCount] = {
    {"For more info: " + std::string(SpywareCookiesPage), "", ""},
    {"/" + Domain + "/search/", "/" + Host + "/", ""},
    {"/" + Domain + "/pestinfo/", "/" + Host + "/", ""},
    {"/" + Domain + "/", "/" + Host + "/", ""},
    {Domain, RebrandedWebDomain, ""},
    {"Kestavorin.exe", "Ostrivane.exe", ""},
    {"KestavorinCL", "OstrivaneCL", ""},
    // Rows 8 and 11 park the bracketed tag so that rows 9 and 10 can't reach it.
    {"[Kestavorin]", "xxxauthorxxx", ""},
    {"Kestavorin", "Ostri Vane", "x"},
    {"Kestavorin", "Ostrivane", ""},
    {"xxxauthorxxx", "[Kestavorin]", ""},
};
} // namespace

const TBrandRule* BrandRules() {
    return Rules;
}

std::string ApplyBrandRule(const std::string& text, const TBrandRule& rule) {
    if (rule.Find.empty()) return text;
    const bool exact = rule.Case == "x";
    // Any-case rows search an upper-cased copy; both copies have the same length.
    const std::string haystack = exact ? text : plat::UpperCase(text);
    const std::string needle = exact ? rule.Find : plat::UpperCase(rule.Find);
    std::string result;
    result.reserve(text.size());
    size_t from = 0;
    for (;;) {
        size_t at = haystack.find(needle, from);
        if (at == std::string::npos) break;
        result.append(text, from, at - from);
        result += rule.Replace;
        from = at + needle.size();
    }
    result.append(text, from, std::string::npos);
    return result;
}

std::string BrandText(const std::string& text, bool rebranded) {
    if (!rebranded) return text;
    std::string result = text;
    for (const TBrandRule& rule : Rules) result = ApplyBrandRule(result, rule);
    return result;
}
