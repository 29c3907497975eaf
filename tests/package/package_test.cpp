// The two Debian packages, unpacked into a scratch root as dpkg would lay them out: their
// files and modes, the manual pages against the programs' help, the dependencies against the
// libraries the programs link, lintian, the timer units, and the installed updater run the
// way its service runs it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "tests/support/e2e.h"

using e2e::Quote;

namespace {

const std::string Version = KV_VERSION;
const std::string ProductDir = std::string(KV_PRODUCT_DIR).substr(1) + "/"; // in the root

std::string Deb(const std::string& package) {
    return std::string(KV_PACKAGE_DIR) + "/" + package + "_" + Version + "_amd64.deb";
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string Sh(const std::string& command, int* status = nullptr) {
    std::string out;
    int rc = kvtest::RunCommand(command, &out);
    if (status)
        *status = rc;
    else
        EXPECT_EQ(rc, 0) << command << "\n" << out;
    return out;
}

class Packages : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Root = new kvtest::TTempDir();
        for (const char* p : {"kvupdater", "kvpublish"})
            Sh("dpkg-deb -x " + Quote(Deb(p)) + " " + Quote(Root->Path()));
    }
    static void TearDownTestSuite() {
        delete Root;
        Root = nullptr;
    }
    static std::string In(const std::string& rel) { return Root->File(rel); }
    static kvtest::TTempDir* Root;
};
kvtest::TTempDir* Packages::Root = nullptr;

TEST_F(Packages, HoldTheirFilesWithTheirModesAndNothingElse) {
    const std::map<std::string, std::map<std::string, unsigned>> files = {
        {"kvupdater",
         {{ProductDir + "KVUpdater.exe", 0755},
          {"usr/lib/systemd/system/kvupdater.service", 0644},
          {"usr/lib/systemd/system/kvupdater.timer", 0644},
          {"usr/share/man/man1/KVUpdater.exe.1.gz", 0644},
          {"usr/share/doc/kvupdater/copyright", 0644},
          {"usr/share/doc/kvupdater/changelog.gz", 0644},
          {"usr/share/lintian/overrides/kvupdater", 0644}}},
        {"kvpublish",
         {{"usr/bin/kvpublish", 0755},
          {"usr/share/man/man1/kvpublish.1.gz", 0644},
          {"usr/share/doc/kvpublish/copyright", 0644},
          {"usr/share/doc/kvpublish/changelog.gz", 0644}}},
    };
    for (const auto& [package, expected] : files) {
        SCOPED_TRACE(package);
        // Every file of the package, owned by root; folders 0755. No enabling link: the
        // timer is not enabled by installing.
        std::set<std::string> listed;
        for (const std::string& line : Lines(Sh("dpkg-deb -c " + Quote(Deb(package))))) {
            std::istringstream fields(line);
            std::string mode, owner, size, date, time, path;
            fields >> mode >> owner >> size >> date >> time >> path;
            EXPECT_EQ(owner, "root/root") << line;
            path = path.substr(2); // "./"
            if (mode[0] == 'd')
                EXPECT_EQ(mode, "drwxr-xr-x") << line;
            else
                listed.insert(path);
        }
        std::set<std::string> wanted;
        for (const auto& [path, mode] : expected) {
            wanted.insert(path);
            struct stat st;
            ASSERT_EQ(stat(In(path).c_str(), &st), 0) << path;
            EXPECT_EQ(st.st_mode & 07777, mode) << path;
        }
        EXPECT_EQ(listed, wanted);
    }
    // Removing the updater takes an enabled timer with it.
    std::string control = Sh("dpkg-deb -I " + Quote(Deb("kvupdater")) + " prerm");
    EXPECT_NE(control.find("timers.target.wants/kvupdater.timer"), std::string::npos) << control;
}

// The packages of the libraries a program names as needed, as dpkg knows them.
std::set<std::string> PackagesOfNeededLibraries(const std::string& program) {
    // Each library where the loader finds it, and under its real name (dpkg knows one of
    // the two, merged /usr or not); one dpkg query for all.
    std::string paths = Sh("for lib in $(objdump -p " + Quote(program) +
                           " | awk '$1 == \"NEEDED\" { print $2 }'); do"
                           "  path=$(ldconfig -p | awk -v l=\"$lib\" '$1 == l && /x86-64/ "
                           "{ print $NF; exit }');"
                           "  [ -n \"$path\" ] || { echo \"missing $lib\" >&2; exit 1; };"
                           "  echo \"$path\"; readlink -f \"$path\"; done");
    std::set<std::string> packages;
    std::string command = "dpkg -S";
    for (const std::string& path : Lines(paths)) command += " " + Quote(path);
    for (const std::string& line : Lines(Sh(command + " 2>/dev/null; true")))
        packages.insert(line.substr(0, line.find_first_of(":")));
    return packages;
}

TEST_F(Packages, DependOnExactlyThePackagesOfTheLibrariesTheyLink) {
    for (const auto& [package, program] : std::map<std::string, std::string>{
             {"kvupdater", ProductDir + "KVUpdater.exe"}, {"kvpublish", "usr/bin/kvpublish"}}) {
        SCOPED_TRACE(package);
        std::set<std::string> depends;
        std::string field = Sh("dpkg-deb -f " + Quote(Deb(package)) + " Depends");
        std::istringstream items(field);
        for (std::string item; std::getline(items, item, ',');) {
            item.erase(0, item.find_first_not_of(' '));
            depends.insert(item.substr(0, item.find_first_of(" \n")));
        }
        EXPECT_EQ(depends, PackagesOfNeededLibraries(In(program))) << field;
    }
}

TEST_F(Packages, LintianFindsNoErrorsAndNoWarnings) {
    std::string out =
        Sh("lintian --show-overrides " + Quote(Deb("kvupdater")) + " " + Quote(Deb("kvpublish")) +
           " 2>&1 | grep -v 'running with root privileges'; true");
    for (const std::string& line : Lines(out)) {
        EXPECT_NE(line.rfind("E: ", 0), 0u) << out;
        EXPECT_NE(line.rfind("W: ", 0), 0u) << out;
    }
    // The one overridden error: the product folder under /opt.
    EXPECT_NE(out.find("O: kvupdater: dir-or-file-in-opt [" + ProductDir + "KVUpdater.exe]"),
              std::string::npos)
        << out;
}

// The options a help text or a rendered manual page lists: the words that begin with "-" or
// "/" at the start of its option lines (lines indented by as many blanks as one of indents).
std::set<std::string> Options(const std::string& text, const std::set<size_t>& indents) {
    std::set<std::string> options;
    for (const std::string& line : Lines(text)) {
        size_t at = line.find_first_not_of(' ');
        if (!indents.count(at) || (line[at] != '-' && line[at] != '/')) continue;
        std::istringstream words(line.substr(at));
        for (std::string word; words >> word;) {
            if (word == "or") continue;
            if (word[0] != '-' && word[0] != '/') break;
            if (word.back() == ',') word.pop_back();
            options.insert(word.substr(0, word.find('=')));
        }
    }
    return options;
}

TEST_F(Packages, ManualPagesRenderAndListTheOptionsOfTheHelp) {
    struct {
        const char* Page;
        const char* Program;
    } pages[] = {
        {"usr/share/man/man1/KVUpdater.exe.1.gz", "KVUpdater.exe"},
        {"usr/share/man/man1/kvpublish.1.gz", "kvpublish"},
    };
    for (const auto& p : pages) {
        SCOPED_TRACE(p.Page);
        const std::string program =
            In(p.Program == std::string("kvpublish") ? "usr/bin/kvpublish"
                                                     : ProductDir + "KVUpdater.exe");
        int status = 0;
        std::string shown = Sh("LC_ALL=C MANWIDTH=100 man --warnings -l " + Quote(In(p.Page)) +
                                   " 2>" + Quote(Root->File("man.err")),
                               &status);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(Root->Read("man.err"), "");
        EXPECT_NE(shown.find("EXIT STATUS"), std::string::npos) << shown;
        std::string help = Sh(Quote(program) + " --help");
        // Short options 2 columns in, long ones without a short form 6.
        std::set<std::string> inHelp = Options(help, {2, 6});
        EXPECT_GE(inHelp.size(), 5u) << help;
        // Options stand 7 columns in, their text 14 in (below the option or beside it).
        EXPECT_EQ(Options(shown, {7}), inHelp) << shown;
        // The exit statuses of the help are the page's.
        for (const char* code : {"0", "1", "2"})
            EXPECT_NE(shown.find("\n       " + std::string(code) + "      "), std::string::npos)
                << code;
    }
}

TEST_F(Packages, TimerUnitsVerify) {
    // The units are checked in a root that holds them, the updater they start and the
    // targets they name, taken from this machine's systemd.
    kvtest::TTempDir sys;
    Sh("dpkg-deb -x " + Quote(Deb("kvupdater")) + " " + Quote(sys.Path()) + " && mkdir -p " +
       Quote(sys.File("lib/systemd/system")) + " && cp /lib/systemd/system/*.target " +
       Quote(sys.File("lib/systemd/system/")));
    int status = 0;
    std::string out = Sh("MANPATH=" + Quote(sys.File("usr/share/man")) +
                             " systemd-analyze verify --root=" + Quote(sys.Path()) +
                             " /usr/lib/systemd/system/kvupdater.service"
                             " /usr/lib/systemd/system/kvupdater.timer 2>&1",
                         &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, "");
}

// A unit's value for key (the last one given).
std::string UnitValue(const std::string& unit, const std::string& key) {
    std::string value;
    for (const std::string& line : Lines(kvtest::ReadFile(unit)))
        if (line.rfind(key + "=", 0) == 0) value = line.substr(key.size() + 1);
    return value;
}

TEST_F(Packages, TheServiceCommandLineUpdatesTheProductFolderSilently) {
    // The installed updater with its product's "language.dat" beside it, a site published by
    // the installed kvpublish, and the service's command line run as systemd runs it: in its
    // working folder, with no display and nothing in the environment but a path.
    const std::string unit = In("usr/lib/systemd/system/kvupdater.service");
    const std::string workDir = UnitValue(unit, "WorkingDirectory");
    const std::string execStart = UnitValue(unit, "ExecStart");
    ASSERT_EQ(workDir, KV_PRODUCT_DIR);
    ASSERT_EQ(execStart.rfind(std::string(KV_PRODUCT_DIR) + "/KVUpdater.exe ", 0), 0u);
    const std::string product = In(ProductDir);
    const std::string command = "cd " + Quote(product) + " && env -i PATH=/usr/bin:/bin " +
                                Quote(In(execStart.substr(1, execStart.find(' ') - 1))) +
                                execStart.substr(execStart.find(' '));
    kvtest::WriteFile(product + "language.dat", "");

    kvtest::TTempDir work;
    work.Write("release/Kestavorin.exe", "program");
    work.Write("release/data/rules.txt", "rules");
    Sh(Quote(In("usr/bin/kvpublish")) + " -q " + Quote(work.File("release")) + " " +
       Quote(work.File("site/components")));
    auto nginx = std::make_unique<kvtest::TNginx>(work.Path());
    kvtest::WriteFile(product + "KVUpdater.ini",
                      "[General]\r\nUpdateFromUrl=" + nginx->Url("/site/") + "\r\n");

    struct {
        const char* What;
        bool SiteUp;
        int Status;
        const char* LastLine;
    } runs[] = {
        {"site up", true, 0, "All done"},
        {"site down", false, 1, "There were errors"},
    };
    for (const auto& r : runs) {
        SCOPED_TRACE(r.What);
        if (!r.SiteUp) nginx.reset();
        std::string out;
        int status = kvtest::RunCommand(command + " </dev/null 2>&1", &out);
        EXPECT_EQ(status, r.Status);
        EXPECT_EQ(out, ""); // silent on the console
        std::vector<std::string> log =
            e2e::Messages(kvtest::ReadFile(product + "logs/KVUpdater.log"));
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.front(), "KVUpdater version " + Version);
        EXPECT_EQ(log.back(), r.LastLine) << ::testing::PrintToString(log);
    }
    EXPECT_EQ(kvtest::ReadFile(product + "data/rules.txt"), "rules");
    EXPECT_EQ(kvtest::ReadFile(product + "Kestavorin.exe"), "program");
}

} // namespace
