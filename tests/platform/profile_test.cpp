#include "platform/profile.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "platform/exception.h"
#include "platform/files.h"
#include "tests/support/support.h"

using namespace plat;

namespace {

const char* const Sample = "; leading comment\r\n"
                           "[Settings]\r\n"
                           "  Name  =  \" Quoted \"  \r\n"
                           "Empty=\r\n"
                           "Num= 42 \r\n"
                           "Hex=$1F\r\n"
                           "Bad=12abc\r\n"
                           "Flag=0\r\n"
                           "Word=yes\r\n"
                           "Open=\"abc\r\n"
                           "Close=abc\"\r\n"
                           "junk line\r\n"
                           "\r\n"
                           "[Other]\r\n"
                           "Name=other\r\n"
                           "[SETTINGS]\r\n"
                           "name=shadowed\r\n"
                           "Later=seen\r\n";

class Profile : public ::testing::Test {
protected:
    kvtest::TTempDir T;
    std::string File = T.Write("Conf.ini", Sample);
    TIniFile Ini{T.File("CONF.INI")};
};

} // namespace

TEST_F(Profile, ReadsAsTheProfileFunctionsDo) {
    EXPECT_EQ(Ini.ReadString("settings", "NAME", "d"), " Quoted ");
    EXPECT_EQ(Ini.ReadString("Settings", "Empty", "d"), "");
    // Quotes come off only in pairs.
    EXPECT_EQ(Ini.ReadString("Settings", "Open", "d"), "\"abc");
    EXPECT_EQ(Ini.ReadString("Settings", "Close", "d"), "abc\"");
    EXPECT_EQ(Ini.ReadString("Settings", "Absent", "d"), "d");
    EXPECT_EQ(Ini.ReadString("Nowhere", "Name", "d"), "d");
    EXPECT_EQ(Ini.ReadString("Other", "Name", "d"), "other");
    EXPECT_EQ(Ini.ReadString("Settings", "Later", "d"), "seen");
    EXPECT_EQ(Ini.ReadString("Settings", "; leading comment", "d"), "d");
    EXPECT_EQ(Ini.ReadInteger("Settings", "Num", -1), 42);
    EXPECT_EQ(Ini.ReadInteger("Settings", "Hex", -1), 31);
    EXPECT_EQ(Ini.ReadInteger("Settings", "Bad", -1), -1);
    EXPECT_EQ(Ini.ReadInteger("Settings", "Empty", -1), -1);
    EXPECT_FALSE(Ini.ReadBool("Settings", "Flag", true));
    EXPECT_TRUE(Ini.ReadBool("Settings", "Num", false));
    EXPECT_TRUE(Ini.ReadBool("Settings", "Word", true));
    EXPECT_FALSE(Ini.ReadBool("Settings", "Word", false));
    EXPECT_TRUE(Ini.ValueExists("SETTINGS", "empty"));
    EXPECT_FALSE(Ini.ValueExists("Settings", "junk line"));
    TIniFile missing(T.File("none.ini"));
    EXPECT_EQ(missing.ReadInteger("S", "K", 9), 9);
    EXPECT_FALSE(missing.ValueExists("S", "K"));
}

TEST_F(Profile, WritingChangesOnlyTheLinesConcerned) {
    std::string expected = Sample;
    Ini.WriteString("SETTINGS", "name", "New");
    expected.replace(expected.find("  Name  ="), 23, "Name=New");
    EXPECT_EQ(T.Read("Conf.ini"), expected);
    Ini.WriteString("Other", "Added", "1");
    expected.insert(expected.find("[SETTINGS]"), "Added=1\r\n");
    Ini.WriteString("Settings", "Second", "2");
    expected.insert(expected.find("\r\n\r\n[Other]") + 2, "Second=2\r\n");
    Ini.WriteString("Fresh", "Key", "v");
    expected += "\r\n[Fresh]\r\nKey=v\r\n";
    EXPECT_EQ(T.Read("Conf.ini"), expected);
    EXPECT_EQ(Ini.ReadString("settings", "name", ""), "New");
}

TEST_F(Profile, KeepsTheFilesOwnLineEndsAndCreatesNewFilesWithCrLf) {
    T.Write("lf.ini", "[A]\nx=1\n\n[B]\ny=2");
    TIniFile lf(T.File("lf.ini"));
    lf.WriteString("B", "z", "3");
    lf.WriteString("A", "w", "4");
    EXPECT_EQ(T.Read("lf.ini"), "[A]\nx=1\nw=4\n\n[B]\ny=2\nz=3\n");
    T.Write("bom.ini", "\xEF\xBB\xBF[A]\r\nx=1\r\n");
    TIniFile bom(T.File("bom.ini"));
    EXPECT_EQ(bom.ReadString("A", "x", ""), "1");
    bom.WriteString("a", "y", "2");
    EXPECT_EQ(T.Read("bom.ini"), "\xEF\xBB\xBF[A]\r\nx=1\r\ny=2\r\n");
    TIniFile fresh(T.File("fresh.ini"));
    fresh.DeleteKey("S", "K");
    EXPECT_FALSE(T.Exists("fresh.ini"));
    fresh.WriteString("S", "K", "V");
    EXPECT_EQ(T.Read("fresh.ini"), "[S]\r\nK=V\r\n");
}

TEST_F(Profile, ValuesReadBackExactlyAsWritten) {
    for (std::string v : {"  padded ", "\"quoted\"", "\"", "a=b;c", "", "x\"y\""}) {
        Ini.WriteString("Round", "Trip", v);
        EXPECT_EQ(Ini.ReadString("Round", "Trip", "def"), v);
    }
}

TEST_F(Profile, DeleteRemovesEveryOccurrenceAndNothingElse) {
    Ini.DeleteKey("settings", "NAME");
    std::string expected = Sample;
    expected.erase(expected.find("  Name  ="), 25);
    expected.erase(expected.find("name=shadowed"), 15);
    EXPECT_EQ(T.Read("Conf.ini"), expected);
    EXPECT_EQ(Ini.ReadString("Settings", "Name", "gone"), "gone");
    EXPECT_EQ(Ini.ReadString("Other", "Name", ""), "other");
    kvtest::MakeReadOnly(File);
    Ini.DeleteKey("Settings", "Absent"); // nothing to write, so no error
    EXPECT_THROW(Ini.DeleteKey("Settings", "Num"), EInOutError);
}

TEST_F(Profile, ReplaceKeyWritesTheNewKeyAndDeletesTheOldOneInOneReplacement) {
    TIniFile ini(T.Write("KV.ini", "[Firewalls]\r\nHTTPProxy=p:1\r\nHTTPPasswd=plain\r\n"));
    ini.ReplaceKey("firewalls", "httppasswd", "HTTPPasswdx", "0a1b");
    EXPECT_EQ(T.Read("KV.ini"), "[Firewalls]\r\nHTTPProxy=p:1\r\nHTTPPasswdx=0a1b\r\n");
    // A read-only file refuses the whole change: the plain key stays readable as it was.
    T.Write("RO.ini", "[Firewalls]\r\nHTTPPasswd=plain\r\n");
    kvtest::MakeReadOnly(T.File("RO.ini"));
    TIniFile ro(T.File("RO.ini"));
    EXPECT_THROW(ro.ReplaceKey("Firewalls", "HTTPPasswd", "HTTPPasswdx", "0a"), EInOutError);
    EXPECT_EQ(T.Read("RO.ini"), "[Firewalls]\r\nHTTPPasswd=plain\r\n");
}

TEST_F(Profile, FailuresRaiseAndLeaveTheFileAlone) {
    // Line breaks or delimiters in names or values would forge other entries.
    EXPECT_THROW(Ini.WriteString("S", "K", "v\r\nInjected=1"), EInOutError);
    EXPECT_THROW(Ini.WriteString("S", "K=J", "v"), EInOutError);
    EXPECT_THROW(Ini.WriteString("S]x", "K", "v"), EInOutError);
    EXPECT_THROW(Ini.WriteString("S", "", "v"), EInOutError);
    kvtest::MakeReadOnly(File);
    try {
        Ini.WriteString("Settings", "Num", "1");
        ADD_FAILURE() << "no error";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Message(), "Unable to write to " + T.File("CONF.INI"));
    }
    EXPECT_EQ(T.Read("Conf.ini"), Sample);
    TIniFile nowhere(T.File("no/folder.ini"));
    EXPECT_THROW(nowhere.WriteString("S", "K", "V"), EInOutError);
}

// A file that goes on past the first mebibyte is read as that mebibyte: a key that starts
// inside it is seen, one after it is not, and the file, not read whole, is never written.
TEST_F(Profile, OnlyTheFirstMebibyteIsRead) {
    const std::string head = "[General]\r\nFirst=1\r\n;";
    for (size_t pad : {size_t(0), size_t(1)}) {
        // "Last=1" ends with the mebibyte, or one byte after it; then the file goes on.
        const size_t fill = SmallFileMaxBytes - head.size() - 8 + pad;
        const std::string text =
            head + std::string(fill, 'x') + "\r\nLast=1" + std::string(100, ' ') + "\r\nEnd=1\r\n";
        const std::string name = T.Write("big.ini", text);
        TIniFile ini(name);
        EXPECT_EQ(ini.ReadString("General", "First", ""), "1");
        EXPECT_EQ(ini.ReadString("General", "Last", "none"), pad ? "" : "1") << pad;
        EXPECT_EQ(ini.ReadString("General", "End", "none"), "none");
        EXPECT_THROW(ini.WriteString("General", "Key", "v"), EInOutError);
        EXPECT_TRUE(T.Read("big.ini") == text);
    }
#ifndef _WIN32
    // One that never ends (64 GiB of a hole after a section) is read as quickly.
    const std::string endless = T.Write("endless.ini", "[General]\r\nKey=v\r\n");
    ASSERT_EQ(::truncate(endless.c_str(), off_t(64) << 30), 0);
    EXPECT_EQ(TIniFile(endless).ReadString("General", "Key", ""), "v");
#endif
}
