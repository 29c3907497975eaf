// Start-up seen from outside: settings from files and switches, the proxy, the edition, the
// log file and the exit statuses.
#include <gtest/gtest.h>

#include <cstdint>

#include "app/password.h"
#include "tests/support/e2e.h"

using e2e::TProduct;
using e2e::TRun;

namespace {

// A site in folder edition/ of the product's site holding one file "f.txt".
void PublishOne(const TProduct& p, const std::string& edition, const std::string& data) {
    kvtest::WriteFile(p.Root() + "src-" + edition + "/f.txt", data);
    e2e::Publish(p.Root() + "src-" + edition, p.Site() + edition);
}

} // namespace

TEST(Startup, LogFileHoldsExactlyTheRunsLinesAsShown) {
    TProduct p;
    PublishOne(p, "components", "f");
    kvtest::TNginx nginx(p.Site());
    p.UseUrl(nginx.Url("/"));
    TRun first = p.Run();
    ASSERT_EQ(first.Status, 0) << first.Errors;
    TRun second = p.Run();
    ASSERT_EQ(second.Status, 0);
    // Every line carries its stamp, the file ends each with CR LF, and it is the window's
    // log (here: standard output) line for line, of the second run only.
    const std::string file = p.Read("logs/KVUpdater.log");
    std::string shown;
    for (size_t start = 0; start < second.Output.size();) {
        size_t end = second.Output.find('\n', start);
        std::string line = second.Output.substr(start, end - start);
        EXPECT_TRUE(e2e::HasStamp(line)) << line;
        shown += line + "\r\n";
        start = end == std::string::npos ? second.Output.size() : end + 1;
    }
    EXPECT_EQ(file, shown);
    EXPECT_EQ(second.Log.front(), "KVUpdater version 4.5.0.1");
    EXPECT_EQ(second.Starting("KVUpdater version ").size(), 1u);
    EXPECT_TRUE(second.Has("Ok - f.txt"));
}

TEST(Startup, ExitStatusesAndHelp) {
    TProduct p;
    PublishOne(p, "components", "f");
    kvtest::TNginx nginx(p.Site());
    p.UseUrl(nginx.Url("/"));

    TRun help = p.Run({"/?"});
    EXPECT_EQ(help.Status, 0);
    EXPECT_NE(help.Output.find("/UpdateFromUncPath"), std::string::npos);
    EXPECT_NE(help.Output.find("/HTTPProxyPort"), std::string::npos);
    EXPECT_FALSE(p.Exists("logs"));
    EXPECT_EQ(p.Run({"--help"}).Status, 0);

    // An error that escapes start-up: reported on standard error, no run, status 2.
    TRun bad = p.Run({"/HTTPProxyPort", "abc"});
    EXPECT_EQ(bad.Status, 2);
    EXPECT_NE(bad.Errors.find("'abc' is not a valid integer value"), std::string::npos)
        << bad.Errors;
    EXPECT_FALSE(p.Exists("f.txt"));
    TRun root = p.Run({"/CloneToPath", ""});
    EXPECT_EQ(root.Status, 2);
    EXPECT_NE(root.Errors.find("/CloneToPath needs a folder"), std::string::npos) << root.Errors;
    EXPECT_EQ(p.Run({"/HTTPPasswd", "--help"}).Output.find("Usage:"), std::string::npos);

    EXPECT_EQ(p.Run().Status, 0);
    EXPECT_EQ(p.Read("f.txt"), "f");
    p.WriteIni("[General]\r\nUpdateFromUrl=" + nginx.Url("/missing/") + "\r\nAutoExit=1\r\n");
    EXPECT_EQ(p.Run().Status, 1);
}

TEST(Startup, SilentRunPrintsNothingAndStillUpdates) {
    TProduct p;
    PublishOne(p, "components", "quiet");
    kvtest::TNginx nginx(p.Site());
    p.WriteIni("[General]\r\nUpdateFromUrl=" + nginx.Url("/") + "\r\n");
    TRun run = p.Run({"/SILENT"});
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Output, "");
    EXPECT_TRUE(run.Has("Silent"));
    EXPECT_EQ(p.Read("f.txt"), "quiet");
}

TEST(Startup, RebrandedEditionUpdatesFromItsOwnFolder) {
    TProduct p("Tolvu and more words\r\nsecond line\r\n");
    PublishOne(p, "components", "standard");
    PublishOne(p, "Tolvu", "rebranded");
    kvtest::TNginx nginx(p.Site());
    p.UseUrl(nginx.Url("/"));
    TRun run = p.Run();
    EXPECT_EQ(run.Status, 0) << ::testing::PrintToString(run.Log);
    EXPECT_TRUE(run.Has("Updating from " + nginx.Url("/Tolvu/")));
    EXPECT_EQ(p.Read("f.txt"), "rebranded");
}

TEST(Startup, NameThatCannotBeResolvedMeansNoInternetConnection) {
    TProduct p;
    // The updater's name lookup answers from this file alone: nothing here resolves.
    kvtest::WriteFile(p.Root() + "hosts", "127.0.0.1 known.example\n");
    p.UseUrl("http://download.nowhere.example/downloads/");
    TRun run = p.Run({}, "KVUPDATER_HOSTS=" + e2e::Quote(p.Root() + "hosts") + " ");
    EXPECT_EQ(run.Status, 1);
    int noConnection = run.IndexOf("No internet connection available");
    EXPECT_GE(noConnection, 0) << ::testing::PrintToString(run.Log);
    EXPECT_EQ(run.Log.back(), "There were errors");
    EXPECT_EQ(noConnection + 2, static_cast<int>(run.Log.size()));
}

TEST(Startup, ProxyWithCredentialsFromAPlainPasswordThatIsScrambledInTheFile) {
    TProduct p;
    PublishOne(p, "components", "through the proxy");
    kvtest::TNginx nginx(p.Site());
    kvtest::TTinyproxy proxy("kvuser", "s3cret-pass");
    const std::string port = std::to_string(proxy.Port());
    p.WriteIni("; proxy settings\r\n[Firewalls]\r\nHTTPProxy=127.0.0.1:" + port +
               "\r\nHTTPUserID=kvuser\r\nHTTPPasswd= s3cret-pass \r\n\r\n[General]\r\n"
               "UpdateFromUrl=" +
               nginx.Url("/") + "\r\nAutoExit=1\r\n");
    TRun run = p.Run();
    EXPECT_EQ(run.Status, 0) << ::testing::PrintToString(run.Log);
    EXPECT_TRUE(run.Has("Using proxy with username"));
    EXPECT_TRUE(run.Has("Proxy address 127.0.0.1"));
    // The port is kept in a signed 16-bit field: one above 32767 shows as negative.
    EXPECT_TRUE(run.Has("Proxy port " + std::to_string(static_cast<int16_t>(proxy.Port()))));
    EXPECT_EQ(p.Read("f.txt"), "through the proxy");

    const std::string ini = p.Read("KVUpdater.ini");
    EXPECT_EQ(ini.find("HTTPPasswd="), std::string::npos) << ini;
    EXPECT_NE(ini.find("HTTPPasswdx=" +
                       HexEncode(ScramblePassword("s3cret-pass", ProxyPasswordKey, false)) +
                       "\r\n"),
              std::string::npos)
        << ini;
    EXPECT_NE(ini.find("; proxy settings\r\n"), std::string::npos);

    // The scrambled password works on its own in the next run.
    p.Write("f.txt", "stale");
    run = p.Run();
    EXPECT_EQ(run.Status, 0) << ::testing::PrintToString(run.Log);
    EXPECT_EQ(p.Read("f.txt"), "through the proxy");

    // A wrong password gets the proxy's refusal page instead of the manifest.
    p.Write("f.txt", "stale");
    run = p.Run({"/HTTPPasswd", "wrong"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(p.Read("f.txt"), "stale");
}
