// Start-up driven in-process: the settings, the download URL and the first log lines that
// the initialisation files and the switches give.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdint>

#include "app/brand_rules.h"
#include "app/main_window.h"
#include "app/password.h"
#include "kv_config.h"
#include "platform/files.h"
#include "tests/support/support.h"

namespace {

const std::string DefaultUrl = KV_DEFAULT_URL;
// The separator of the folders the program forms ("/" or "\").
const std::string D(1, plat::PathDelim);

// A fresh process state and a product folder that holds the (absent) program file and an
// edition file, so the folder is the product folder whatever the machine holds.
class StartupTest : public ::testing::Test {
protected:
    kvtest::TTempDir Dir;
    std::string SavedDir = plat::GetCurrentDir();
    std::unique_ptr<TForm1> Form;

    void SetUp() override { Dir.Write("language.dat", ""); }
    void TearDown() override {
        Form.reset();
        plat::SetCurrentDir(SavedDir);
    }
    // Runs start-up with the arguments; the timer is left armed but never fires here.
    void Start(std::vector<std::string> args) {
        Form.reset();
        Form = std::make_unique<TForm1>();
        Form->Settings.ExeName = Dir.File("KVUpdater.exe");
        Form->Settings.Params = std::move(args);
        Form->FormCreate();
    }
    const TSettings& S() const { return Form->Settings; }
    std::vector<std::string> Messages() const {
        std::vector<std::string> m;
        for (const auto& line : Form->Memo1.Lines) m.push_back(line.substr(21));
        return m;
    }
    bool Logged(const std::string& message) const {
        for (const auto& m : Messages())
            if (m == message) return true;
        return false;
    }
    int Count(const std::string& message) const {
        int n = 0;
        for (const auto& m : Messages()) n += m == message;
        return n;
    }
};

} // namespace

TEST_F(StartupTest, PlainStartUpdatesFromTheDefaultSiteIntoTheOwnFolder) {
    Start({});
    EXPECT_EQ(S().ProductDir, Dir.Path());
    EXPECT_EQ(plat::GetCurrentDir() + D, Dir.Path());
    EXPECT_TRUE(S().FromUrl);
    EXPECT_FALSE(S().FromPath || S().CloneSite || S().AutoExit || S().Silent);
    EXPECT_EQ(S().DownloadUrl, DefaultUrl + "components/");
    auto m = Messages();
    ASSERT_GE(m.size(), 3u);
    EXPECT_EQ(m[0], "KVUpdater version 0.0.0.0");
    EXPECT_EQ(m[1], "Updating from " + S().DownloadUrl);
    EXPECT_EQ(m[2], "Updating to " + Dir.Path());
    EXPECT_TRUE(Form->Timer1.Enabled());
    EXPECT_EQ(Form->Window.Caption.rfind("Kestavorin Updater 0.0.0.0 ", 0), 0u);
    EXPECT_EQ(Form->Window.Caption.size(),
              std::string("Kestavorin Updater 0.0.0.0 Dec 08 2026 ").size());
}

TEST_F(StartupTest, UrlComposition) {
    // A URL from the switch gets nothing appended but the edition folder.
    Start({"/UpdateFromUrl", "http://h/site"});
    EXPECT_EQ(S().DownloadUrl, "http://h/sitecomponents/");
    EXPECT_TRUE(Logged("Updating from url"));

    // Without a value the default comes back even when the ini gave another.
    Dir.Write("KVUpdater.ini", "[General]\r\nUpdateFromUrl=http://ini.example/x\r\n");
    Start({"/UpdateFromUrl"});
    EXPECT_EQ(S().DownloadUrl, DefaultUrl + "components/");
    Start({});
    EXPECT_EQ(S().DownloadUrl, "http://ini.example/x/components/");

    // Clone from the ini: no URL mode, so no "/" after the edition folder, then "\".
    Dir.Write("KVUpdater.ini", "[General]\r\nCloneToPath=" + Dir.File("clone") + "\r\n");
    Start({});
    EXPECT_TRUE(S().CloneSite);
    EXPECT_FALSE(S().FromUrl);
    EXPECT_EQ(S().ClonePath, Dir.File("clone") + D);
    EXPECT_TRUE(plat::DirectoryExists(S().ClonePath));
    EXPECT_EQ(S().DownloadUrl, DefaultUrl + "components\\");
    EXPECT_TRUE(Logged("Cloning to " + S().ClonePath));

    // Clone from the switch keeps the URL mode: "/" and then "\".
    Dir.Write("KVUpdater.ini", "");
    Start({"/CloneToPath", Dir.File("c2")});
    EXPECT_TRUE(S().CloneSite && S().FromUrl);
    EXPECT_EQ(S().DownloadUrl, DefaultUrl + "components/\\");
    EXPECT_TRUE(Logged("Cloning update site to " + Dir.File("c2") + D));
}

TEST_F(StartupTest, SwitchValuesAndLetterCase) {
    // "/CloneToPath" before another switch takes no value: the own folder, and the next
    // switch still counts.
    Start({"/clonetopath", "/SILENT"});
    EXPECT_EQ(S().ClonePath, Dir.Path());
    EXPECT_TRUE(S().Silent && S().AutoExit && S().CloneSite);
    EXPECT_TRUE(Logged("Silent"));

    // "/UpdateFromUncPath" takes the next argument whatever it is.
    Start({"/UpdateFromUncPath", "/silent"});
    EXPECT_EQ(S().SourcePath, "/silent" + D);
    EXPECT_TRUE(S().FromPath && S().Silent);
    EXPECT_FALSE(S().FromUrl);
    EXPECT_TRUE(Logged("Updating from path /silent"));
    EXPECT_TRUE(Logged("Copying from /silent" + D));
    // Without one it is the root folder, which a run only reads from.
    Start({"/UpdateFromUncPath"});
    EXPECT_EQ(S().SourcePath, D);
    EXPECT_TRUE(S().FromPath);

    // "/self" in another case or place is ignored; unknown arguments are ignored.
    Start({"/SELF", "whatever", "/autoexit"});
    EXPECT_TRUE(S().AutoExit);
    EXPECT_TRUE(Form->Timer1.Enabled());
    int autoExit = -1;
    for (size_t i = 0; i < Messages().size(); ++i)
        if (Messages()[i] == "AutoExit") autoExit = static_cast<int>(i);
    EXPECT_EQ(autoExit, 1); // right after the version line
}

TEST_F(StartupTest, AnEmptyArgumentAndHelpTextsAreValues) {
    Dir.Write("KVUpdater.ini", "[Firewalls]\r\nHTTPProxy=p:1\r\nHTTPUserID=u\r\n");
    Start({"/HTTPProxy", ""}); // switches the proxy off
    EXPECT_EQ(Form->msHTTPClient1.Proxy(), "");
    Start({"/HTTPUserID", "", "/HTTPPasswd", ""});
    EXPECT_EQ(Form->msHTTPClient1.ProxyUserName, "");
    EXPECT_EQ(Form->msHTTPClient1.ProxyPassword, "");
    Start({"/HTTPPasswd", "--help"});
    EXPECT_EQ(Form->msHTTPClient1.ProxyPassword, "--help");
    // Where "/" separates folders a value may begin with it; on Windows none does.
    const bool slashValues = plat::PathDelim == '/';
    Start({"/HTTPPasswd", "/?"});
    EXPECT_EQ(Form->msHTTPClient1.ProxyPassword, slashValues ? "/?" : "");
    Dir.Write("KVUpdater.ini", "");
    Start({"/UpdateFromUrl", ""});
    EXPECT_TRUE(Logged("Updating from components/"));
    Start({"/UpdateFromUncPath", ""});
    EXPECT_EQ(S().SourcePath, D);
    EXPECT_THROW(Start({"/HTTPProxyPort", ""}), EConvertError);
    // The root folder is never made a clone.
    EXPECT_THROW(Start({"/CloneToPath", ""}), Exception);
    EXPECT_FALSE(Form->Timer1.Enabled());

    EXPECT_TRUE(WantsHelp({"/autoexit", "/?"}));
    EXPECT_TRUE(WantsHelp({"--help"}));
    EXPECT_FALSE(WantsHelp({"/HTTPPasswd", "--help"}));
    EXPECT_EQ(WantsHelp({"/httppasswd", "/?"}), !slashValues);
    EXPECT_FALSE(WantsHelp({"/UpdateFromUncPath", "--help"}));
    EXPECT_TRUE(WantsHelp({"/HTTPPasswd", "/autoexit", "/?"}));
}

TEST_F(StartupTest, ProxySettingsFollowTheirPrecedence) {
    Dir.Write("Kestavorin.ini", "[Firewalls]\r\nHTTPProxy=proxyhost:8080\r\nHTTPUserID=joe\r\n"
                                "HTTPPasswd=" +
                                    HexEncode(ScramblePassword("pw", ProxyPasswordKey, false)) +
                                    "\r\n");
    Start({});
    EXPECT_EQ(Form->msHTTPClient1.Proxy(), "proxyhost");
    EXPECT_EQ(Form->msHTTPClient1.ProxyPort(), 8080);
    EXPECT_EQ(Form->msHTTPClient1.ProxyPassword, "pw");
    EXPECT_TRUE(Form->msHTTPClient1.ProxyAuthorization);
    EXPECT_TRUE(Logged("Reading " + Dir.File("Kestavorin.ini")));
    EXPECT_TRUE(Logged("Using proxy with username"));
    EXPECT_TRUE(Logged("Proxy address proxyhost"));
    EXPECT_TRUE(Logged("Proxy port 8080"));

    // KVUpdater.ini without proxy keys still assigns the host again: the port is lost.
    Dir.Write("KVUpdater.ini", "[General]\r\nAutoExit=1\r\n");
    Start({});
    EXPECT_EQ(Form->msHTTPClient1.Proxy(), "proxyhost");
    EXPECT_EQ(Form->msHTTPClient1.ProxyPort(), 0);
    EXPECT_EQ(Form->msHTTPClient1.ProxyUserName, "joe");

    // A bad port in the product's ini is logged and leaves port 0.
    Dir.Write("KVUpdater.ini", "");
    Dir.Write("Kestavorin.ini", "[Firewalls]\r\nHTTPProxy=proxyhost:80x\r\n");
    Start({});
    EXPECT_TRUE(Logged("Invalid port number: 80x"));
    EXPECT_EQ(Form->msHTTPClient1.ProxyPort(), 0);
    EXPECT_FALSE(Form->msHTTPClient1.ProxyAuthorization);
    EXPECT_TRUE(Logged("Using proxy "));

    // The switches come last; a bare host resets the port until "/HTTPProxyPort".
    Start({"/HTTPProxy", "sw:3128"});
    EXPECT_EQ(Form->msHTTPClient1.ProxyPort(), 3128);
    EXPECT_EQ(Count("Using proxy "), 2); // the switch and the summary
    Start({"/HTTPProxy", "sw", "/HTTPProxyPort", "40000", "/HTTPUserID", "ann"});
    EXPECT_EQ(Form->msHTTPClient1.Proxy(), "sw");
    EXPECT_EQ(Form->msHTTPClient1.ProxyPort(), static_cast<int16_t>(40000));
    EXPECT_TRUE(Logged("Proxy port " + std::to_string(40000 - 65536)));
    EXPECT_TRUE(Form->msHTTPClient1.ProxyAuthorization);

    // A port that is no number escapes start-up before the timer is armed.
    EXPECT_THROW(Start({"/HTTPProxyPort", "abc"}), EConvertError);
    EXPECT_FALSE(Form->Timer1.Enabled());
}

TEST_F(StartupTest, PlainPasswordIsScrambledInTheFileAndUsedAtOnce) {
    Dir.Write("KVUpdater.ini", "[Firewalls]\r\nHTTPUserID=u\r\nHTTPPasswd=  secret  \r\n; end\r\n");
    Start({});
    EXPECT_EQ(Form->msHTTPClient1.ProxyPassword, "secret");
    const std::string ini = Dir.Read("KVUpdater.ini");
    EXPECT_EQ(ini.find("HTTPPasswd="), std::string::npos);
    EXPECT_NE(
        ini.find("HTTPPasswdx=" + HexEncode(ScramblePassword("secret", ProxyPasswordKey, false))),
        std::string::npos);
    EXPECT_NE(ini.find("; end\r\n"), std::string::npos);
}

TEST_F(StartupTest, RebrandedEditionAndModePrecedenceInTheIni) {
    Dir.Write("language.dat", "tolvu second words\r\nmore\r\n");
    Dir.Write("KVUpdater.ini", "[General]\r\nUpdateFromUncPath=" + Dir.File("src") +
                                   "\r\nSilent=1\r\nAutoExit=0\r\n");
    Start({});
    EXPECT_EQ(S().EditionCode, "tolvu");
    EXPECT_TRUE(S().Rebranded);
    EXPECT_EQ(Form->Window.Caption.rfind("Ostri Vane Updater 0.0.0.0 ", 0), 0u);
    // From a path: the edition's name is not appended without the URL mode.
    EXPECT_TRUE(S().FromPath);
    EXPECT_EQ(S().DownloadUrl, DefaultUrl);
    EXPECT_TRUE(S().Silent && S().AutoExit);

    Dir.Write("language.dat", "Other");
    Dir.Write("KVUpdater.ini", "");
    Start({});
    EXPECT_EQ(S().DownloadUrl, DefaultUrl + "Other/");
}

TEST_F(StartupTest, StaleSelfUpdateCopyIsDeletedAtAStart) {
    Dir.Write("tmp/KVUpdater.exe", "old copy");
    Start({});
    EXPECT_FALSE(Dir.Exists("tmp/KVUpdater.exe"));
}

// An edition file whose first line never ends is read as its first mebibyte.
TEST_F(StartupTest, LanguageFileIsReadNoFurtherThanItsFirstMebibyte) {
    const size_t most = plat::SmallFileMaxBytes;
    for (size_t length : {most - 1, most, most + 1, most + 5000}) {
        Dir.Write("language.dat", std::string(length, 'x') + " more");
        Start({});
        EXPECT_EQ(S().EditionCode.size(), std::min(length, most)) << length;
    }
#ifndef _WIN32
    // A huge one: a few bytes, then 64 GiB of a hole.
    Dir.Write("language.dat", "Tolvu");
    ASSERT_EQ(::truncate(Dir.File("language.dat").c_str(), off_t(64) << 30), 0);
    Start({});
    EXPECT_EQ(S().EditionCode, "Tolvu");
    EXPECT_TRUE(S().Rebranded);
#endif
}
