// Signed update sites, run for real: kvpublish makes the keys and signs, nginx serves, the
// updater trusts keys from KVUpdater.ini or built in, and openssl is the outside reference.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "tests/support/disk.h"
#include "tests/support/e2e.h"

using e2e::Quote;
using e2e::TProduct;
using e2e::TRun;

namespace {

std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s;
}

// Runs a command through the shell, failing the test when it does not succeed; its output.
std::string Sh(const std::string& command) {
    std::string out;
    EXPECT_EQ(kvtest::RunCommand(command + " 2>&1", &out), 0) << command << "\n" << out;
    return out;
}

std::string Kvpublish(const std::string& args) {
    return Trimmed(Sh(Quote(KV_PUBLISH_EXE) + " " + args));
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// openssl's signature of file with keyFile (DER), taken apart by openssl into r and s and
// written as a site signature text.
std::string OpensslSign(const std::string& keyFile, const std::string& file,
                        const std::string& work) {
    Sh("openssl dgst -sha256 -sign " + Quote(keyFile) + " -out " + Quote(work + "sig.der") + " " +
       Quote(file));
    const std::string parsed = Sh("openssl asn1parse -inform DER -in " + Quote(work + "sig.der"));
    std::string raw;
    size_t at = 0;
    while ((at = parsed.find("INTEGER", at)) != std::string::npos) {
        const size_t colon = parsed.find(':', at);
        const size_t end = parsed.find('\n', colon);
        std::string hex = parsed.substr(colon + 1, end - colon - 1);
        hex =
            hex.size() > 64 ? hex.substr(hex.size() - 64) : std::string(64 - hex.size(), '0') + hex;
        for (size_t i = 0; i < 64; i += 2)
            raw += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
        at = end;
    }
    EXPECT_EQ(raw.size(), 64u) << parsed;
    kvtest::WriteFile(work + "sig.raw", raw);
    return Trimmed(Sh("openssl base64 -A -in " + Quote(work + "sig.raw")));
}

// openssl's verdict on a site signature text over file, checked with the public key of
// keyFile: r and s put into DER by openssl's own encoder.
bool OpensslVerifies(const std::string& keyFile, const std::string& signature,
                     const std::string& file, const std::string& work) {
    kvtest::WriteFile(work + "sig.b64", Trimmed(signature) + "\n");
    Sh("openssl base64 -d -A -in " + Quote(work + "sig.b64") + " -out " + Quote(work + "sig.raw"));
    const std::string raw = kvtest::ReadFile(work + "sig.raw");
    EXPECT_EQ(raw.size(), 64u);
    std::string hex;
    static const char digits[] = "0123456789ABCDEF";
    for (unsigned char c : raw) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    kvtest::WriteFile(work + "sig.conf", "asn1=SEQUENCE:sig\n[sig]\nr=INTEGER:0x" +
                                             hex.substr(0, 64) + "\ns=INTEGER:0x" + hex.substr(64) +
                                             "\n");
    Sh("openssl asn1parse -noout -genconf " + Quote(work + "sig.conf") + " -out " +
       Quote(work + "sig.der"));
    Sh("openssl pkey -in " + Quote(keyFile) + " -pubout -out " + Quote(work + "pub.pem"));
    return kvtest::RunCommand("openssl dgst -sha256 -verify " + Quote(work + "pub.pem") +
                              " -signature " + Quote(work + "sig.der") + " " + Quote(file) +
                              " >/dev/null 2>&1") == 0;
}

// The public key text of a key file as openssl sees it: the last 65 bytes of its DER form.
std::string OpensslPublicKey(const std::string& keyFile) {
    return Trimmed(Sh("openssl pkey -in " + Quote(keyFile) +
                      " -pubout -outform DER | tail -c 65 | openssl base64 -A"));
}

// A product with an old b.bin and a site (published on demand) holding a new a.txt and a
// changed b.bin; two key pairs made by kvpublish.
struct TSignedSite {
    TProduct P;
    std::string Work = P.Root() + "work/";
    std::string Src = P.Root() + "src/";
    std::string Components = P.Site() + "components/";
    std::string KeyOne, KeyTwo; // public key texts
    std::string NewA = "brand new file\n";
    std::string NewB = kvtest::RandomBytes(300000, 7);
    std::string Program = kvtest::ReadFile(P.File("KVUpdater.exe"));

    explicit TSignedSite(const std::string& program = KV_UPDATER_EXE) : P("", program) {
        Sh("mkdir -p " + Quote(Work));
        KeyOne = Kvpublish("--new-key " + Quote(Key("one")));
        KeyTwo = Kvpublish("--new-key " + Quote(Key("two")));
        kvtest::WriteFile(Src + "a.txt", NewA);
        kvtest::WriteFile(Src + "b.bin", NewB);
        P.Write("b.bin", "the old b");
    }
    std::string Key(const std::string& name) const { return Work + name + ".key"; }
    // Publishes the site, signed with the named key unless it is empty.
    void Publish(const std::string& key) const {
        Kvpublish("-q " + (key.empty() ? "" : "--sign-key " + Quote(Key(key)) + " ") + Quote(Src) +
                  " " + Quote(Components));
    }
    // KVUpdater.ini: the site at url (or the folder), ending by itself, trusting keys.
    void Trust(const std::string& where, const std::string& keys, bool folder = false) const {
        P.WriteIni(std::string("[General]\r\n") +
                   (folder ? "UpdateFromUncPath=" : "UpdateFromUrl=") + where +
                   "\r\nAutoExit=1\r\n" + (keys.empty() ? "" : "SitePublicKeys=" + keys + "\r\n"));
    }
    bool Installed() const { return P.Read("a.txt") == NewA && P.Read("b.bin") == NewB; }
    bool Untouched() const {
        return !P.Exists("a.txt") && P.Read("b.bin") == "the old b" &&
               P.Read("KVUpdater.exe") == Program;
    }
};

void Flip(const std::string& file, size_t at) {
    std::string data = kvtest::ReadFile(file);
    ASSERT_LT(at, data.size());
    data[at] = static_cast<char>(data[at] ^ 0x01);
    kvtest::WriteFile(file, data);
}

} // namespace

// Every way a signed site can be spoiled is refused with its own line before anything it
// touches is installed, and the run ends with errors.
TEST(SignedSite, SpoiledSitesAreRefused) {
    struct TCase {
        const char* What;
        std::function<void(TSignedSite&)> Spoil; // after a good publish signed with "one"
        std::string Line;
        // Refused as a whole: nothing installed, the manifest stored in the product folder.
        bool WholeSite = true;
        bool FromFolder = false;
        const char* Program = KV_UPDATER_EXE;
        // What KVUpdater.ini trusts: key one unless given; a text that is no key is
        // reported at start-up and still counts.
        const char* IniKeys = nullptr;
    } cases[] = {
        {"a manifest byte changed",
         [](TSignedSite& s) {
             kvtest::WriteFile(
                 s.Components + "versions.txt",
                 Replaced(kvtest::ReadFile(s.Components + "versions.txt"), "a.txt,", "A.txt,"));
         },
         "Giving up - site signature invalid"},
        {"versions.sig missing",
         [](TSignedSite& s) { Sh("rm " + Quote(s.Components + "versions.sig")); },
         "Giving up - site signature missing"},
        {"versions.sig missing from a folder",
         [](TSignedSite& s) { Sh("rm " + Quote(s.Components + "versions.sig")); },
         "Giving up - site signature missing", true, true},
        {"signed by a key not trusted", [](TSignedSite& s) { s.Publish("two"); },
         "Giving up - site signature invalid"},
        {"signature cut short by one character",
         [](TSignedSite& s) {
             const std::string sig = Trimmed(kvtest::ReadFile(s.Components + "versions.sig"));
             kvtest::WriteFile(s.Components + "versions.sig", sig.substr(0, sig.size() - 1));
         },
         "Giving up - site signature invalid"},
        {"signature not Base64",
         [](TSignedSite& s) {
             std::string sig = kvtest::ReadFile(s.Components + "versions.sig");
             sig[10] = '*';
             kvtest::WriteFile(s.Components + "versions.sig", sig);
         },
         "Giving up - site signature invalid"},
        {"an entry without its SHA-256 field, signed all the same",
         [](TSignedSite& s) {
             std::string text = kvtest::ReadFile(s.Components + "versions.txt");
             const size_t b = text.find("b.bin,");
             const size_t field = text.find(',', text.find(',', b + 6) + 1) + 1;
             text.erase(field, 65);
             kvtest::WriteFile(s.Components + "versions.txt", text);
             kvtest::WriteFile(s.Components + "versions.sig",
                               OpensslSign(s.Key("one"), s.Components + "versions.txt", s.Work));
         },
         "Giving up - line corrupt for SHA-256 - "},
        {"an entry's SHA-256 field with a letter past hexadecimal, signed all the same",
         [](TSignedSite& s) {
             std::string text = kvtest::ReadFile(s.Components + "versions.txt");
             const size_t b = text.find("b.bin,");
             const size_t field = text.find(',', text.find(',', b + 6) + 1) + 1;
             text[field + 10] = 'g';
             kvtest::WriteFile(s.Components + "versions.txt", text);
             kvtest::WriteFile(s.Components + "versions.sig",
                               OpensslSign(s.Key("one"), s.Components + "versions.txt", s.Work));
         },
         "Giving up - line corrupt for SHA-256 - "},
        {"a cabinet byte changed", [](TSignedSite& s) { Flip(s.Components + "b.cab", 100); },
         "Error extracting b.bin cabinet does not match the signed manifest", false},
        {"a cabinet byte changed in a folder",
         [](TSignedSite& s) { Flip(s.Components + "b.cab", 100); },
         "Error extracting b.bin cabinet does not match the signed manifest", false, true},
        {"the updater's own cabinet replaced",
         [](TSignedSite& s) {
             kvtest::WriteFile(s.Src + "KVUpdater.exe", s.Program + "\nnext build\n");
             s.Publish("one");
             kvtest::WriteFile(s.Work + "evil/KVUpdater.exe", s.Program + "\nhostile build\n");
             Kvpublish("-q " + Quote(s.Work + "evil") + " " + Quote(s.Work + "evilsite"));
             Sh("cp " + Quote(s.Work + "evilsite/KVUpdater.cab") + " " + Quote(s.Components));
         },
         "Error extracting KVUpdater.exe cabinet does not match the signed manifest", false},
        {"an unsigned site, the key built in", [](TSignedSite& s) { s.Publish(""); },
         "Giving up - site signature missing", true, false, KV_UPDATER_KEYED_EXE, ""},
        {"a key that can verify nothing", [](TSignedSite&) {}, "Giving up - site signature invalid",
         true, false, KV_UPDATER_EXE, "BIBlp6eVqwRXW6GY"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        TSignedSite s(c.Program);
        s.Publish("one");
        c.Spoil(s);
        kvtest::TNginx nginx(s.P.Site());
        s.Trust(c.FromFolder ? s.Components : nginx.Url("/"), c.IniKeys ? c.IniKeys : s.KeyOne,
                c.FromFolder);
        TRun run = s.P.Run();
        EXPECT_EQ(run.Status, 1);
        std::string line = c.Line;
        if (const size_t at = line.find("PRODUCT/"); at != std::string::npos)
            line.replace(at, 8, s.P.Dir());
        EXPECT_TRUE(run.Has(line) || (line.back() == ' ' && !run.Starting(line).empty()))
            << ::testing::PrintToString(run.Log);
        if (c.IniKeys && *c.IniKeys) {
            EXPECT_TRUE(run.Has(std::string("Invalid site public key ") + c.IniKeys));
        }
        ASSERT_FALSE(run.Log.empty());
        EXPECT_EQ(run.Log.back(), "There were errors");
        EXPECT_TRUE(run.Starting("Self-updating").empty());
        EXPECT_EQ(s.P.Read("KVUpdater.exe"), s.Program);
        EXPECT_FALSE(s.P.Exists("tmp/kvupdater.exe"));
        if (c.WholeSite) {
            EXPECT_TRUE(s.Untouched());
            EXPECT_TRUE(run.Starting("Retrieving").empty());
            EXPECT_EQ(s.P.Read("versions.txt"), kvtest::ReadFile(s.Components + "versions.txt"));
        } else {
            EXPECT_EQ(s.P.Read("a.txt"), s.NewA); // the entries the site did not spoil go on
            const bool bSpoiled = std::string(c.Line).find("b.bin") != std::string::npos;
            EXPECT_EQ(s.P.Read("b.bin") == "the old b", bSpoiled);
        }
        // Nothing the run fetched or unpacked stays behind.
        std::string left;
        kvtest::RunCommand("ls -A " + Quote(s.P.File("tmp")), &left);
        EXPECT_EQ(left, "");
    }
}

// Sites the updater takes: signed by a trusted key (the second of two too, for rotation),
// from a folder, with the key built in; and, without a key, signed or not, as always.
TEST(SignedSite, TrustedOrUnkeyedRunsUpdateAsBefore) {
    struct TCase {
        const char* What;
        const char* SignedWith; // "" unsigned
        std::string (*Keys)(const TSignedSite&);
        bool FromFolder = false;
        const char* Program = KV_UPDATER_EXE;
    } cases[] = {
        {"signed, its key trusted", "one", [](const TSignedSite& s) { return s.KeyOne; }},
        {"signed with the second of two trusted keys", "two",
         [](const TSignedSite& s) { return s.KeyOne + " , " + s.KeyTwo; }},
        {"signed, from a folder", "one", [](const TSignedSite& s) { return s.KeyOne; }, true},
        {"signed with the key built in", "built_in",
         [](const TSignedSite&) { return std::string(); }, false, KV_UPDATER_KEYED_EXE},
        {"signed, no key", "one", [](const TSignedSite&) { return std::string(); }},
        {"unsigned, no key", "", [](const TSignedSite&) { return std::string(); }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        TSignedSite s(c.Program);
        Sh("cp " + Quote(KV_TEST_KEYS "built_in.key") + " " + Quote(s.Key("built_in")));
        s.Publish(c.SignedWith);
        const std::string access = s.Work + "access.log";
        kvtest::TNginx nginx(s.P.Site(), "access_log " + access + ";");
        s.Trust(c.FromFolder ? s.Components : nginx.Url("/"), c.Keys(s), c.FromFolder);
        TRun run = s.P.Run();
        EXPECT_EQ(run.Status, 0) << ::testing::PrintToString(run.Log);
        EXPECT_TRUE(run.Has("Retrieving new file a.txt"));
        EXPECT_TRUE(run.Has("Retrieving changed file b.bin"));
        EXPECT_EQ(run.Log.back(), "All done");
        EXPECT_TRUE(s.Installed());
        std::string left;
        kvtest::RunCommand("ls -A " + Quote(s.P.File("tmp")), &left);
        EXPECT_EQ(left, "");
        // An updater without a key asks for nothing it did not ask for before.
        const bool keyed = !c.Keys(s).empty() || std::string(c.Program) != KV_UPDATER_EXE;
        if (!c.FromFolder) {
            EXPECT_EQ(kvtest::ReadFile(access).find("versions.sig") != std::string::npos, keyed);
        }
    }
}

// A clone run saves the signature with the site, so the clone is a signed site; updating
// from it with the key checks it. A later clone of an unsigned site leaves no stale one.
TEST(SignedSite, CloneOfASignedSiteIsSignedAndVerified) {
    TSignedSite s;
    s.Publish("one");
    kvtest::TNginx nginx(s.P.Site());
    const std::string clone = s.P.Root() + "clone/";
    s.P.WriteIni("[General]\r\nUpdateFromUrl=" + nginx.Url("/") + "\r\nCloneToPath=" + clone +
                 "\r\nAutoExit=1\r\nSitePublicKeys=" + s.KeyOne + "\r\n");
    TRun run = s.P.Run();
    EXPECT_EQ(run.Status, 0) << ::testing::PrintToString(run.Log);
    for (const char* name : {"versions.txt", "versions.sig", "a.cab", "b.cab"})
        EXPECT_EQ(kvtest::ReadFile(clone + name), kvtest::ReadFile(s.Components + name)) << name;
    EXPECT_TRUE(s.Untouched());

    s.Trust(clone, s.KeyOne, true);
    run = s.P.Run();
    EXPECT_EQ(run.Status, 0) << ::testing::PrintToString(run.Log);
    EXPECT_TRUE(s.Installed());

    // The clone spoiled: the same key refuses it.
    Flip(clone + "versions.txt", 30);
    run = s.P.Run();
    EXPECT_EQ(run.Status, 1);
    EXPECT_TRUE(run.Has("Giving up - site signature invalid"));

    // A cabinet of the site spoiled: the clone keeps none that the manifest does not vouch for.
    Flip(s.Components + "b.cab", 100);
    s.P.WriteIni("[General]\r\nUpdateFromUrl=" + nginx.Url("/") + "\r\nCloneToPath=" + clone +
                 "\r\nAutoExit=1\r\nSitePublicKeys=" + s.KeyOne + "\r\n");
    run = s.P.Run();
    EXPECT_EQ(run.Status, 1);
    EXPECT_TRUE(run.Has("Error extracting b.bin cabinet does not match the signed manifest"))
        << ::testing::PrintToString(run.Log);
    EXPECT_FALSE(kvtest::RunCommand("test -e " + Quote(clone + "b.cab")) == 0);
    EXPECT_EQ(kvtest::ReadFile(clone + "a.cab"), kvtest::ReadFile(s.Components + "a.cab"));

    s.Publish("");
    s.P.WriteIni("[General]\r\nUpdateFromUrl=" + nginx.Url("/") + "\r\nCloneToPath=" + clone +
                 "\r\nAutoExit=1\r\n");
    run = s.P.Run();
    EXPECT_EQ(run.Status, 0) << ::testing::PrintToString(run.Log);
    EXPECT_FALSE(kvtest::RunCommand("test -e " + Quote(clone + "versions.sig")) == 0);
}

// The new updater from a signed site is started as ever once its cabinet checked out.
// The new updater from a signed site is started as ever once its cabinet checked out, and
// only as it came out: one changed in the staging folder after its check is not started.
TEST(SignedSite, VerifiedNewUpdaterIsStartedAsItCameOut) {
    for (bool changedAfterCheck : {false, true}) {
        SCOPED_TRACE(changedAfterCheck ? "changed after its check" : "as it came out");
        TSignedSite s;
        const std::string next = s.Program + "\nnext build\n";
        kvtest::WriteFile(s.Src + "KVUpdater.exe", next);
        s.Publish("one");
        kvtest::TNginx nginx(s.P.Site());
        s.Trust(nginx.Url("/"), s.KeyOne);
        // The unpacked program is opened once for its check, then once more before it is
        // started: in between it is cut short.
        int opens = 0;
        const std::string staged = s.P.Dir() + "tmp/KVUpdater.exe";
        Sh("mkdir -p " + Quote(s.P.Dir() + "tmp"));
        kvtest::TOpenHook hook(s.P.Dir() + "tmp", [&](const std::string& name, uint64_t) {
            if (name == "KVUpdater.exe" && ++opens == 2 && changedAfterCheck)
                (void)::truncate(staged.c_str(), 100);
        });
        if (!hook.Ok()) GTEST_SKIP() << "fanotify permission events are not available here";
        TRun run = s.P.Run();
        ASSERT_FALSE(run.Log.empty());
        if (changedAfterCheck) {
            EXPECT_EQ(run.Status, 1);
            EXPECT_TRUE(run.Has("Can't update self " + s.P.Dir() +
                                "tmp/kvupdater.exe does not match the signed manifest"))
                << ::testing::PrintToString(run.Log);
            EXPECT_TRUE(run.Starting("Self-updating").empty());
            EXPECT_FALSE(s.P.Exists("tmp/kvupdater.exe"));
            EXPECT_EQ(s.P.Read("KVUpdater.exe"), s.Program);
            continue;
        }
        EXPECT_EQ(run.Status, 0) << ::testing::PrintToString(run.Log);
        EXPECT_EQ(run.Log.back(), "Self-updating " + s.P.Dir() + "tmp/kvupdater.exe");
        // The copy replaces the program once this run has ended; bounded generously.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (s.P.Read("KVUpdater.exe") != next && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(s.P.Read("KVUpdater.exe"), next);
    }
}

// openssl as the outside reference, both ways: it signs and we verify; we sign and it
// verifies. Keys, signatures and cabinet hashes agree with its reading of them.
TEST(SignedSite, AgreesWithOpensslBothWays) {
    TSignedSite s;
    // openssl's key, our site: kvpublish reads the key and the updater takes openssl's
    // signature of the manifest.
    const std::string theirs = s.Work + "theirs.pem";
    Sh("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out " + Quote(theirs));
    const std::string theirKey = Kvpublish("--public-key " + Quote(theirs));
    EXPECT_EQ(theirKey, OpensslPublicKey(theirs));
    Kvpublish("-q --sign-key " + Quote(theirs) + " " + Quote(s.Src) + " " + Quote(s.Components));
    kvtest::WriteFile(s.Components + "versions.sig",
                      OpensslSign(theirs, s.Components + "versions.txt", s.Work) + "\n");
    const std::string manifest = kvtest::ReadFile(s.Components + "versions.txt");
    for (const char* cab : {"a.cab", "b.cab"}) {
        const std::string digest =
            Sh("openssl dgst -sha256 -r " + Quote(s.Components + cab)).substr(0, 64);
        EXPECT_NE(manifest.find("," + digest + ",\r\n"), std::string::npos) << cab;
    }
    kvtest::TNginx nginx(s.P.Site());
    s.Trust(nginx.Url("/"), theirKey);
    TRun run = s.P.Run();
    EXPECT_EQ(run.Status, 0) << ::testing::PrintToString(run.Log);
    EXPECT_TRUE(s.Installed());

    // Our key and signature: openssl reads the key file and accepts the signature, and
    // refuses it for a manifest one byte different.
    s.Publish("one");
    EXPECT_EQ(s.KeyOne, OpensslPublicKey(s.Key("one")));
    const std::string sig = kvtest::ReadFile(s.Components + "versions.sig");
    EXPECT_TRUE(OpensslVerifies(s.Key("one"), sig, s.Components + "versions.txt", s.Work));
    Flip(s.Components + "versions.txt", 0);
    EXPECT_FALSE(OpensslVerifies(s.Key("one"), sig, s.Components + "versions.txt", s.Work));
}
