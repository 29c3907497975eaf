// Failures during a run: each ends in its log line and the final line, never a crash or a
// hang.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <thread>

#include "platform/errors.h"
#include "tests/support/disk.h"
#include "tests/support/e2e.h"

using e2e::ProgramPath;
using e2e::SystemText;
using e2e::TProduct;
using e2e::TRun;

namespace {

// A server that answers each request path with fixed raw bytes and then closes: for what
// nginx can't be made to do, such as a body cut short. The answer for endlessPath goes on
// with bytes for as long as the client takes them.
class TScriptedServer {
public:
    explicit TScriptedServer(std::map<std::string, std::string> responses,
                             std::string endlessPath = "")
        : FResponses(std::move(responses)), FEndless(std::move(endlessPath)) {}
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(FLoop.Port()) + path;
    }

private:
    void Answer(int c) {
        std::string request;
        char buf[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            ssize_t n = recv(c, buf, sizeof buf, 0);
            if (n <= 0) break;
            request.append(buf, size_t(n));
        }
        std::string path;
        const std::string response = kvtest::AnswerFor(FResponses, request, &path);
        ssize_t sent = send(c, response.data(), response.size(), MSG_NOSIGNAL);
        const std::string block(64 << 10, 'x');
        while (path == FEndless && sent > 0 && !FLoop.Stopping())
            sent = send(c, block.data(), block.size(), MSG_NOSIGNAL);
    }
    std::map<std::string, std::string> FResponses;
    std::string FEndless;
    kvtest::TAcceptLoop FLoop{[this](int c) { Answer(c); }}; // last: it stops first
};

std::string Ok(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

} // namespace

// Every new or changed file that a run leaves old has a line of its own and makes the run
// fail, from a site and from a folder alike; the other files are still installed.
TEST(Failures, EveryFileLeftOldIsReportedAndFailsTheRun) {
    for (bool fromSite : {true, false}) {
        SCOPED_TRACE(fromSite ? "from a site" : "from a folder");
        TProduct p;
        const std::string site = p.Site() + "components/";
        for (const char* name : {"gone", "junk", "other", "blocked", "good", "damaged"})
            kvtest::WriteFile(p.Root() + "src/" + name + ".txt", std::string("new ") + name);
        e2e::Publish(p.Root() + "src", site);
        kvtest::RunCommand("cd " + e2e::Quote(site) + " && rm gone.cab && cp good.cab other.cab");
        kvtest::WriteFile(site + "junk.cab", "MSCF but not really a cabinet");
        std::string cab = kvtest::ReadFile(site + "damaged.cab");
        // One bit of the last block's data: its checksum tells, whatever the library makes of
        // the data (Wine's decoder unpacks damaged data without a word).
        cab[cab.size() - 3] = static_cast<char>(cab[cab.size() - 3] ^ 0x08);
        kvtest::WriteFile(site + "damaged.cab", cab);
        p.Write("damaged.txt", "old damaged");
        // A folder where the file should go: no one, not even root, can put a file there.
        kvtest::RunCommand("mkdir -p " + e2e::Quote(p.File("blocked.txt")));
        kvtest::TNginx nginx(p.Site());
        if (fromSite)
            p.UseUrl(nginx.Url("/"));
        else
            p.WriteIni("[General]\r\nUpdateFromUncPath=" + ProgramPath(site) +
                       "\r\nAutoExit=1\r\n");

        TRun run = p.Run();
        EXPECT_EQ(run.Status, 1) << ::testing::PrintToString(run.Log);
        EXPECT_EQ(run.Log.back(), "There were errors");
        // From a site the missing cabinet is the server's error answer, never unpacked.
        EXPECT_TRUE(run.Has(fromSite ? "Error retrieving gone.cab HTTP/1.1 404 Not Found"
                                     : "Error extracting gone.txt " +
                                           SystemText(plat::syserr::FileNotFound)))
            << ::testing::PrintToString(run.Log);
        EXPECT_TRUE(run.Has("Error extracting junk.txt not a cabinet"));
        EXPECT_TRUE(run.Has("Error extracting other.txt not in the cabinet"));
        EXPECT_EQ(run.Starting("Error extracting damaged.txt ").size(), 1u);
        EXPECT_FALSE(run.Has("Error extracting damaged.txt "));
        const std::string from = ProgramPath(p.Dir() + "tmp/blocked.txt");
        EXPECT_TRUE(run.Has("Error copying " + from + " to " +
                            ProgramPath(p.Dir() + "blocked.txt") + " " +
                            SystemText(plat::syserr::AccessDenied)))
            << ::testing::PrintToString(run.Log);
        EXPECT_EQ(run.Starting("Error ").size(), 5u) << ::testing::PrintToString(run.Log);
        EXPECT_EQ(p.Read("good.txt"), "new good");
        EXPECT_EQ(p.Read("damaged.txt"), "old damaged");
        for (const char* name : {"gone", "junk", "other"})
            EXPECT_FALSE(p.Exists(std::string(name) + ".txt"));
        EXPECT_FALSE(p.Exists("tmp/blocked.txt"));
        EXPECT_FALSE(p.Exists("tmp/damaged.cab"));
    }
}

TEST(Failures, CutDownloadEndsTheRunWithItsError) {
    TProduct p;
    const std::string manifest = "a.txt,1,10,\r\n";
    TScriptedServer server({
        {"/site/components/versions.txt", Ok(manifest)},
        {"/site/components/a.cab",
         "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nMSCF cut short"},
    });
    p.UseUrl(server.Url("/site/"));
    TRun run = p.Run();
    EXPECT_EQ(run.Status, 1);
    EXPECT_TRUE(run.Has("Retrieving new file a.txt"));
    EXPECT_TRUE(run.Has("Unexpected error [10054] Connection reset by peer"))
        << ::testing::PrintToString(run.Log);
    EXPECT_EQ(run.Log.back(), "There were errors");
    EXPECT_FALSE(p.Exists("a.txt"));
}

TEST(Failures, UnwritableLogFolderIsReportedByTheErrorHandler) {
    TProduct p;
    kvtest::WriteFile(p.Root() + "src/a.txt", "new a");
    e2e::Publish(p.Root() + "src", p.Site() + "components");
    p.Write("logs", "a file where the log folder should be");
    kvtest::TNginx nginx(p.Site());
    p.UseUrl(nginx.Url("/"));
    TRun run = p.Run();
    // The update itself went through; the lost log makes the run fail.
    EXPECT_EQ(p.Read("a.txt"), "new a");
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Errors.find("KVUpdater.log"), std::string::npos) << run.Errors;
}

// An answer that is not a success (a redirect, an error status, no status line at all) is
// never a manifest, a cabinet or a clone's file, whatever its body holds: the run names
// what came and ends with errors. A redirect is not followed.
TEST(Failures, AnswersThatAreNotContentAreNeverTaken) {
    TProduct p;
    kvtest::WriteFile(p.Root() + "src/a.txt", "new a");
    e2e::Publish(p.Root() + "src", p.Site() + "components");
    const std::string manifest = kvtest::ReadFile(p.Site() + "components/versions.txt");
    const std::string cabinet = kvtest::ReadFile(p.Site() + "components/a.cab");
    auto answer = [](const std::string& status, const std::string& body) {
        return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\n\r\n" + body;
    };
    const std::string found = "HTTP/1.1 302 Found\r\nLocation: /site/components/real.txt\r\n"
                              "Content-Length: 0\r\n\r\n";
    struct TCase {
        const char* Name;
        std::string Manifest, Cabinet;
        const char* Line;
    } cases[] = {
        {"redirected manifest", found, "", "Error retrieving versions.txt HTTP/1.1 302 Found"},
        {"manifest without status line", "", "", "Error retrieving versions.txt no status line"},
        {"error page that reads as a manifest", answer("500 Internal Server Error", manifest), "",
         "Error retrieving versions.txt HTTP/1.1 500 Internal Server Error"},
        {"redirect page read until the close", "HTTP/1.1 301 Moved\r\n\r\n<html>moved</html>", "",
         "Error retrieving versions.txt HTTP/1.1 301 Moved"},
        {"informational answer", answer("100 Continue", manifest), "",
         "Error retrieving versions.txt HTTP/1.1 100 Continue"},
        {"the first answer past the successes", answer("300 Multiple Choices", manifest), "",
         "Error retrieving versions.txt HTTP/1.1 300 Multiple Choices"},
        {"real cabinet under an error status", Ok(manifest), answer("503 Busy", cabinet),
         "Error retrieving a.cab HTTP/1.1 503 Busy"},
    };
    for (bool clone : {false, true}) {
        for (const TCase& c : cases) {
            SCOPED_TRACE(std::string(c.Name) + (clone ? ", clone run" : ""));
            p.Write("a.txt", "old a");
            const std::string cloneDir = p.Root() + "clone/";
            kvtest::RunCommand("rm -rf " + e2e::Quote(cloneDir) + " && mkdir " +
                               e2e::Quote(cloneDir));
            // A clone run asks for the site folder with a "\" after it, sent as "/".
            std::map<std::string, std::string> answers;
            for (std::string folder : {"/site/components/", "/site/components//"}) {
                answers[folder + "versions.txt"] = c.Manifest;
                answers[folder + "a.cab"] = c.Cabinet;
                answers[folder + "real.txt"] = Ok(manifest);
            }
            TScriptedServer server(answers);
            p.UseUrl(server.Url("/site/"));
            TRun run = clone ? p.Run({"/CloneToPath", ProgramPath(cloneDir)}) : p.Run();
            EXPECT_EQ(run.Status, 1);
            EXPECT_TRUE(run.Has(c.Line)) << ::testing::PrintToString(run.Log);
            EXPECT_EQ(run.Log.back(), "There were errors");
            EXPECT_EQ(p.Read("a.txt"), "old a");
            EXPECT_TRUE(run.Starting("Giving up").empty());
            EXPECT_FALSE(p.Exists("versions.txt"));
            std::string cloned;
            kvtest::RunCommand("ls " + e2e::Quote(cloneDir), &cloned);
            EXPECT_EQ(cloned, clone && !c.Cabinet.empty() ? "versions.txt\n" : "");
        }
    }
}

// A body longer than memory should hold continues in a file in tmp, and one past the
// configured limit ends the run; the run's memory stays bounded and no file is left.
TEST(Failures, AnEndlessBodyCostsBoundedMemoryAndStopsAtTheLimit) {
    TProduct p;
    TScriptedServer server({{"/none/components/versions.txt", Ok("")},
                            {"/site/components/versions.txt", Ok("a.txt,1,10,\r\n")},
                            {"/site/components/a.cab", "HTTP/1.1 200 OK\r\n\r\n"}},
                           "/site/components/a.cab");
    // What a run costs anyway, measured first (the largest child so far): under Wine most of
    // it is Wine's own libraries.
    p.WriteIni("[General]\r\nUpdateFromUrl=" + server.Url("/none/") + "\r\nAutoExit=1\r\n");
    ASSERT_EQ(p.Run().Status, 0);
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    [[maybe_unused]] const long baseKiB = usage.ru_maxrss; // unused under the sanitizer
    p.WriteIni("[General]\r\nUpdateFromUrl=" + server.Url("/site/") +
               "\r\nMaxDownloadSize=50000000\r\nAutoExit=1\r\n");
    TRun run = p.Run();
    getrusage(RUSAGE_CHILDREN, &usage);
    EXPECT_EQ(run.Status, 1);
    EXPECT_TRUE(run.Has("Unexpected error Response larger than 50000000 bytes"))
        << ::testing::PrintToString(run.Log);
#ifndef __SANITIZE_ADDRESS__ // the sanitizer's shadow and quarantine are no measure
    // The body's first 16 MiB are held in memory before it spills, and some buffers.
    EXPECT_LT(usage.ru_maxrss - baseKiB, 24 << 10) << baseKiB << " KiB at start"; // KiB
#endif
    std::string left;
    kvtest::RunCommand("ls -A " + e2e::Quote(p.Dir() + "tmp"), &left);
    EXPECT_EQ(left, "");
}

namespace {

// A product whose site holds a new small file, one that packs small but unpacks big, and
// one whose cabinet is big; the two big ones are changed.
struct TBigFiles {
    TProduct P;
    TBigFiles(size_t packed, size_t noise) {
        kvtest::WriteFile(P.Root() + "src/a.txt", "new a");
        kvtest::WriteFile(P.Root() + "src/big.bin", std::string(packed, 'z'));
        kvtest::WriteFile(P.Root() + "src/noise.bin", kvtest::RandomBytes(noise, 3));
        e2e::Publish(P.Root() + "src", P.Site() + "components");
    }
    void WriteOld() const {
        P.Write("big.bin", "old big");
        P.Write("noise.bin", "old noise");
    }
    // What every such run must leave: the small file new, the big ones old and whole,
    // nothing in the staging folder, no marker, the log saved and ending with errors.
    void CheckOutcome(const TRun& run) const {
        EXPECT_EQ(run.Status, 1) << run.Errors;
        ASSERT_FALSE(run.Log.empty()) << "no log";
        EXPECT_EQ(run.Log.back(), "There were errors");
        EXPECT_EQ(P.Read("a.txt"), "new a");
        EXPECT_EQ(P.Read("big.bin"), "old big");
        EXPECT_EQ(P.Read("noise.bin"), "old noise");
        std::string left;
        kvtest::RunCommand("ls -A " + e2e::Quote(P.File("tmp")), &left);
        EXPECT_EQ(left, "");
        EXPECT_FALSE(P.Exists("kvsa.dat"));
        EXPECT_FALSE(P.Exists("mem_ter"));
    }
};

} // namespace

// Under a file size limit a write past it fails like any other write: the process is not
// killed; the file stays old, the run says why, cleans up, saves its log and fails.
TEST(Failures, FileSizeLimitFailsTheWriteNotTheProcess) {
    TBigFiles t(3 << 20, 3 << 20);
    t.WriteOld();
    kvtest::TNginx nginx(t.P.Site());
    t.P.UseUrl(nginx.Url("/"));
    // The shell's blocks are 512 bytes: a limit of 1 MiB, above the log and the small files.
    TRun run = t.P.Run({}, "ulimit -f 2048; ");
    t.CheckOutcome(run);
    for (const char* name : {"big.bin", "noise.bin"})
        EXPECT_TRUE(run.Has("Error extracting " + std::string(name) +
                            " The file size exceeds the limit allowed and cannot be saved"))
            << ::testing::PrintToString(run.Log);
}

// A product folder on a small disk: an entry whose cabinet declares more than the disk can
// spare is refused before anything is written, and a cabinet too long to unpack from
// memory that fills the disk as it is stored ends the run; the old files stay whole and the
// run fails.
TEST(Failures, SmallDiskLeavesOldFilesWholeAndFailsTheRun) {
    TBigFiles t(16 << 20, 20 << 20);
    kvtest::TTmpfs disk(t.P.Dir(), e2e::ProgramBytes() + (4 << 20));
    if (!disk.Ok()) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
    t.P.Populate();
    t.WriteOld();
    kvtest::TNginx nginx(t.P.Site());
    t.P.UseUrl(nginx.Url("/"));
    TRun run = t.P.Run();
    t.CheckOutcome(run);
    const std::string full = SystemText(plat::syserr::DiskFull);
    EXPECT_TRUE(run.Has("Error extracting big.bin " + full)) << ::testing::PrintToString(run.Log);
    auto stored =
        run.Starting("Unexpected error Write error on \"" + ProgramPath(t.P.Dir() + "tmp/"));
    ASSERT_EQ(stored.size(), 1u) << ::testing::PrintToString(run.Log);
    EXPECT_NE(stored[0].find(full), std::string::npos);
}
