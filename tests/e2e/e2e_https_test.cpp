// Update sites over HTTPS, run for real: nginx with TLS on loopback and certificates made by
// the openssl command for the test, tinyproxy for the tunnel, and a scripted TLS server for
// what nginx won't do (a close without close-notify).
#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <functional>
#include <map>
#include <memory>

#include "tests/support/e2e.h"

using e2e::Quote;
using e2e::TProduct;
using e2e::TRun;

namespace {

const kvtest::TTestPki& Pki() {
    static const kvtest::TTestPki pki;
    return pki;
}

// Names looked up by the runs: localhost alone, whatever the machine's resolver says.
std::string HostsEnv(const TProduct& p) {
    kvtest::WriteFile(p.Root() + "hosts", "127.0.0.1 localhost\n");
    return "KVUPDATER_HOSTS=" + Quote(p.Root() + "hosts") + " ";
}

std::string Kvpublish(const std::string& args) {
    std::string out;
    EXPECT_EQ(kvtest::RunCommand(Quote(KV_PUBLISH_EXE) + " " + args + " 2>&1", &out), 0) << out;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

// A product folder holding an old a.txt, and a site whose a.txt is new and big.bin (larger
// than a TLS read takes at once) is new.
struct THttpsSite {
    TProduct P;
    std::string Src = P.Root() + "src/";
    std::string Components = P.Site() + "components/";
    std::string NewA = "the new a\n";
    std::string Big = kvtest::RandomBytes(1 << 20, 26);

    THttpsSite() {
        P.Write("a.txt", "the old a\n");
        kvtest::WriteFile(Src + "a.txt", NewA);
        kvtest::WriteFile(Src + "big.bin", Big);
        e2e::Publish(Src, Components);
    }
    bool Untouched() const { return P.Read("a.txt") == "the old a\n" && !P.Exists("big.bin"); }
    // KVUpdater.ini for a run from url, with the test CA trusted unless caFile says otherwise.
    void Use(const std::string& url, const std::string& more = "",
             const std::string& caFile = Pki().CA()) const {
        P.WriteIni("[General]\r\nUpdateFromUrl=" + url + "\r\nAutoExit=1\r\nSiteCAFile=" + caFile +
                   "\r\n" + more);
    }
};

// Answers each request path over TLS with fixed bytes and then closes the connection without
// close-notify, as a server that died or a network that cut it does.
class TTlsCutServer {
public:
    explicit TTlsCutServer(std::map<std::string, std::string> responses)
        : FResponses(std::move(responses)) {
        SSL_CTX_use_certificate_chain_file(FContext.get(), Pki().Certificate("valid").c_str());
        SSL_CTX_use_PrivateKey_file(FContext.get(), Pki().Key("valid").c_str(), SSL_FILETYPE_PEM);
    }
    std::string Url(const std::string& path) const {
        return "https://127.0.0.1:" + std::to_string(FLoop.Port()) + path;
    }

private:
    void Answer(int c) {
        SSL* ssl = SSL_new(FContext.get());
        SSL_set_fd(ssl, c);
        std::string request;
        char buf[4096];
        if (SSL_accept(ssl) == 1) {
            while (request.find("\r\n\r\n") == std::string::npos) {
                int n = SSL_read(ssl, buf, sizeof buf);
                if (n <= 0) break;
                request.append(buf, size_t(n));
            }
            const std::string response = kvtest::AnswerFor(FResponses, request);
            SSL_write(ssl, response.data(), int(response.size()));
        }
        SSL_free(ssl); // sends nothing: no close-notify
    }
    std::map<std::string, std::string> FResponses;
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> FContext{SSL_CTX_new(TLS_server_method()),
                                                               SSL_CTX_free};
    kvtest::TAcceptLoop FLoop{[this](int c) { Answer(c); }}; // last: it stops first
};

} // namespace

// A site whose certificate chains to the CA of the SiteCAFile setting: updated from by name
// (the server answers only a client that names it, and none that hands it the proxy's
// credentials), cloned, signed, through a proxy's tunnel with credentials, and carrying a new
// updater.
TEST(Https, ASiteVouchedForByTheCASettingWorksAsOverHttp) {
    struct TCase {
        const char* What;
        bool ThroughProxy;
        // Changes the site; returns what KVUpdater.ini's [General] says besides.
        std::function<std::string(THttpsSite&)> Prepare;
        std::function<void(THttpsSite&, const TRun&)> Check;
    };
    const std::string next = kvtest::ReadFile(KV_UPDATER_EXE) + "\nnext build\n";
    const TCase cases[] = {
        {"update", false, [](THttpsSite&) { return std::string(); },
         [](THttpsSite& s, const TRun& run) {
             EXPECT_TRUE(run.Has("Retrieving changed file a.txt"));
             EXPECT_EQ(s.P.Read("a.txt"), s.NewA);
         }},
        {"clone", false, [](THttpsSite& s) { return "CloneToPath=" + s.P.Root() + "clone\r\n"; },
         [](THttpsSite& s, const TRun& run) {
             EXPECT_TRUE(run.Has("Retrieving file big.cab"));
             for (const char* name : {"versions.txt", "a.cab", "big.cab"})
                 EXPECT_TRUE(kvtest::ReadFile(s.P.Root() + "clone/" + name) ==
                             kvtest::ReadFile(s.Components + name))
                     << name;
             EXPECT_TRUE(s.Untouched());
         }},
        {"signed", false,
         [](THttpsSite& s) {
             const std::string key = s.P.Root() + "site.key";
             const std::string pub = Kvpublish("--new-key " + Quote(key));
             Kvpublish("-q --sign-key " + Quote(key) + " " + Quote(s.Src) + " " +
                       Quote(s.Components));
             return "SitePublicKeys=" + pub + "\r\n";
         },
         [](THttpsSite& s, const TRun&) { EXPECT_EQ(s.P.Read("a.txt"), s.NewA); }},
        {"through the proxy's tunnel with credentials", true,
         [](THttpsSite&) { return std::string(); },
         [](THttpsSite& s, const TRun& run) {
             EXPECT_TRUE(run.Has("Using proxy with username"));
             EXPECT_EQ(s.P.Read("a.txt"), s.NewA);
         }},
        {"a new updater", false,
         [&next](THttpsSite& s) {
             kvtest::WriteFile(s.Src + "KVUpdater.exe", next);
             e2e::Publish(s.Src, s.Components);
             return std::string();
         },
         [&next](THttpsSite& s, const TRun& run) {
             EXPECT_EQ(run.Log.back(), "Self-updating " + s.P.Dir() + "tmp/kvupdater.exe");
             EXPECT_TRUE(e2e::WaitForContent(s.P.File("KVUpdater.exe"), next));
         }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        THttpsSite s;
        kvtest::TNginx nginx(s.P.Site(),
                             Pki().NginxLines("valid") +
                                 "if ($ssl_server_name != localhost) { return 421; }\n"
                                 "if ($http_proxy_authorization) { return 403; }\n",
                             true);
        std::unique_ptr<kvtest::TTinyproxy> proxy;
        std::string more = c.Prepare(s);
        if (c.ThroughProxy) {
            proxy = std::make_unique<kvtest::TTinyproxy>("kvuser", "s3cret");
            more += "[Firewalls]\r\nHTTPProxy=127.0.0.1:" + std::to_string(proxy->Port()) +
                    "\r\nHTTPUserID=kvuser\r\nHTTPPasswd=s3cret\r\n";
        }
        s.Use("https://localhost:" + std::to_string(nginx.Port()) + "/", more);
        TRun run = s.P.Run({}, HostsEnv(s.P));
        EXPECT_EQ(run.Status, 0) << ::testing::PrintToString(run.Log);
        ASSERT_FALSE(run.Log.empty());
        EXPECT_TRUE(run.Has("All done")) << ::testing::PrintToString(run.Log);
        EXPECT_EQ(run.Starting("Using proxy").empty(), !c.ThroughProxy);
        // Big enough for a TLS read to take several records at once; a clone installs none.
        EXPECT_EQ(s.P.Exists("big.bin"), !run.Has("Retrieving file big.cab"));
        EXPECT_TRUE(!s.P.Exists("big.bin") || s.P.Read("big.bin") == s.Big);
        c.Check(s, run);
    }
}

// Every refusal ends the run with what was wrong, as an error the engine does not catch:
// "Unexpected error " and the message, nothing installed, exit status 1.
TEST(Https, RefusalsEndTheRunWithWhatWasWrongAndInstallNothing) {
    struct TCase {
        const char* What;
        const char* Certificate = "valid"; // nginx's; nullptr: the scripted server that cuts
        const char* NginxTls = "";         // nginx's TLS lines besides the certificate
        bool ByName = false;               // the URL names localhost, else 127.0.0.1
        const char* CAFile = nullptr; // the setting: nullptr the test CA, else a name in the root
        const char* ProxyPassword = nullptr; // through tinyproxy's tunnel as kvuser, with this
        bool CutManifest = false;            // the scripted server cuts the manifest, else a.cab
        // The run's refusal; PORT stands for the server's port, ROOT for the root folder, and
        // a "*" at the end for anything.
        std::string Line;
        std::string StartupLine = "";
    };
    const std::string handshake = "Unexpected error TLS handshake with 127.0.0.1 failed: ";
    const std::string reset = "Unexpected error [10054] Connection reset by peer";
    const TCase cases[] = {
        {.What = "a certificate signed by itself",
         .Certificate = "self-signed",
         .Line = handshake + "certificate untrusted (self-signed certificate)"},
        {.What = "a CA that is not trusted",
         .CAFile = "",
         .Line = handshake + "certificate untrusted (unable to get local issuer certificate)"},
        {.What = "another host's name, asked for by address",
         .Certificate = "other-name",
         .Line = handshake + "certificate name mismatch"},
        {.What = "another host's name, asked for by name",
         .Certificate = "other-name",
         .ByName = true,
         .Line = "Unexpected error TLS handshake with localhost failed: certificate name mismatch"},
        {.What = "an expired certificate",
         .Certificate = "expired",
         .Line = handshake + "certificate expired"},
        {.What = "a server of TLS 1.0 and 1.1 only",
         .NginxTls = "ssl_protocols TLSv1 TLSv1.1;\nssl_ciphers DEFAULT@SECLEVEL=0;\n",
         .Line = handshake + "protocol too old (TLS 1.2 or newer is needed)"},
        {.What = "a CA file that can't be read",
         .CAFile = "missing.pem",
         .Line = "Unexpected error Cannot read the site CA file ROOTmissing.pem: The system "
                 "cannot find the file specified",
         .StartupLine = "Invalid site CA file ROOTmissing.pem"},
        {.What = "a proxy that refuses the credentials",
         .ProxyPassword = "wrong",
         .Line = "Unexpected error The proxy refused the tunnel to 127.0.0.1:PORT: HTTP/1.0 40*"},
        {.What = "a body cut short without close-notify", .Certificate = nullptr, .Line = reset},
        {.What = "a manifest read until close, cut without close-notify",
         .Certificate = nullptr,
         .CutManifest = true,
         .Line = reset},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        THttpsSite s;
        const std::string manifest = kvtest::ReadFile(s.Components + "versions.txt");
        std::unique_ptr<kvtest::TNginx> nginx;
        std::unique_ptr<TTlsCutServer> cut;
        std::unique_ptr<kvtest::TTinyproxy> proxy;
        std::string url, port;
        if (c.Certificate) {
            nginx = std::make_unique<kvtest::TNginx>(
                s.P.Site(), Pki().NginxLines(c.Certificate) + c.NginxTls, true);
            port = std::to_string(nginx->Port());
            url = c.ByName ? "https://localhost:" + port + "/" : nginx->Url("/");
        } else {
            const std::string head = "HTTP/1.1 200 OK\r\n";
            cut = std::make_unique<TTlsCutServer>(std::map<std::string, std::string>{
                {"/components/versions.txt",
                 c.CutManifest ? head + "\r\n" + manifest.substr(0, manifest.find('\n') + 1)
                               : head + "Content-Length: " + std::to_string(manifest.size()) +
                                     "\r\n\r\n" + manifest},
                {"/components/a.cab", head + "Content-Length: 100000\r\n\r\nMSCF cut short"}});
            url = cut->Url("/");
        }
        std::string more;
        if (c.ProxyPassword) {
            proxy = std::make_unique<kvtest::TTinyproxy>("kvuser", "s3cret");
            more = "[Firewalls]\r\nHTTPProxy=127.0.0.1:" + std::to_string(proxy->Port()) +
                   "\r\nHTTPUserID=kvuser\r\nHTTPPasswd=" + c.ProxyPassword + "\r\n";
        }
        s.Use(url, more, c.CAFile ? (*c.CAFile ? s.P.Root() + c.CAFile : "") : Pki().CA());
        TRun run = s.P.Run({}, HostsEnv(s.P));

        auto expand = [&](std::string text) {
            for (auto [from, to] :
                 {std::pair{std::string("PORT"), port}, std::pair{std::string("ROOT"), s.P.Root()}})
                if (size_t at = text.find(from); at != std::string::npos)
                    text.replace(at, from.size(), to);
            return text;
        };
        const std::string line = expand(c.Line);
        const std::vector<std::string> refusals = run.Starting("Unexpected error ");
        EXPECT_EQ(refusals.size(), 1u) << ::testing::PrintToString(run.Log);
        if (refusals.empty()) continue;
        if (line.back() == '*')
            EXPECT_EQ(refusals[0].substr(0, line.size() - 1), line.substr(0, line.size() - 1));
        else
            EXPECT_EQ(refusals[0], line);
        EXPECT_TRUE(c.StartupLine.empty() || run.Has(expand(c.StartupLine)));
        EXPECT_EQ(run.Status, 1);
        EXPECT_EQ(run.Log.back(), "There were errors");
        EXPECT_TRUE(s.Untouched());
        std::string left;
        kvtest::RunCommand("ls -A " + Quote(s.P.File("tmp")), &left);
        EXPECT_EQ(left, "");
        std::printf("  %-55s %s\n", c.What, refusals[0].c_str());
    }
}
