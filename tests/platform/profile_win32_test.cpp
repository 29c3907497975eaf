// Our profile files against the system's own profile functions: what WritePrivateProfileStringA
// wrote reads the same through ours, and what ours wrote the system reads the same.
#include "platform/win32/win32_api.h" // before the rest: the macros of its names go

#include <gtest/gtest.h>

#include "platform/profile.h"
#include "platform/text.h"
#include "tests/support/support.h"

namespace {

struct TEntry {
    const char* Section;
    const char* Key;
    const char* Value;
};
// Names in other letter cases, an empty value, blanks and an equals sign inside.
const TEntry Entries[] = {
    {"Firewalls", "HTTPProxy", "proxy.example:8080"},
    {"Firewalls", "HTTPUserID", "kv user"},
    {"General", "UpdateFromUrl", "http://127.0.0.1:8080/downloads/"},
    {"General", "Silent", "1"},
    {"General", "Empty", ""},
    {"Other", "Key", "a=b;c"},
};

std::string SystemRead(const std::string& file, const char* section, const char* key) {
    char buffer[512];
    const DWORD n =
        ::GetPrivateProfileStringA(section, key, "(default)", buffer, sizeof buffer, file.c_str());
    return std::string(buffer, n);
}

} // namespace

TEST(ProfileAgainstTheSystem, EachReadsWhatTheOtherWrote) {
    kvtest::TTempDir t;
    const std::string bySystem = t.File("system.ini"), byUs = t.File("ours.ini");
    plat::TIniFile ours(byUs), theirs(bySystem);
    for (const TEntry& e : Entries) {
        ASSERT_TRUE(::WritePrivateProfileStringA(e.Section, e.Key, e.Value, bySystem.c_str()));
        ours.WriteString(e.Section, e.Key, e.Value);
    }
    ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, bySystem.c_str()); // flushed
    for (const TEntry& e : Entries) {
        SCOPED_TRACE(std::string(e.Section) + "." + e.Key);
        EXPECT_EQ(
            theirs.ReadString(plat::UpperCase(e.Section), plat::LowerCase(e.Key), "(default)"),
            e.Value);
        EXPECT_EQ(SystemRead(byUs, e.Section, e.Key), e.Value);
    }
    EXPECT_EQ(theirs.ReadInteger("general", "SILENT", 0), 1);
    EXPECT_EQ(::GetPrivateProfileIntA("General", "Silent", 0, byUs.c_str()), 1u);

    // A key deleted by either is gone for both, the rest untouched.
    ::WritePrivateProfileStringA("Firewalls", "HTTPUserID", nullptr, bySystem.c_str());
    ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, bySystem.c_str());
    ours.DeleteKey("firewalls", "httpuserid");
    EXPECT_EQ(theirs.ReadString("Firewalls", "HTTPUserID", "(default)"), "(default)");
    EXPECT_EQ(SystemRead(byUs, "Firewalls", "HTTPUserID"), "(default)");
    EXPECT_EQ(SystemRead(byUs, "Firewalls", "HTTPProxy"), "proxy.example:8080");
    // Ours keeps the system's line ends.
    EXPECT_NE(t.Read("ours.ini").find("[Firewalls]\r\nHTTPProxy=proxy.example:8080\r\n"),
              std::string::npos);
}
