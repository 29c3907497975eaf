#pragma once
// The built updater run for real: a fresh product folder holding a copy of the program, update
// sites published with kvpublish, and the log lines a run leaves.
//
// The same tests run the Windows build under Wine from here: KV_E2E_WINE then names a file of
// "name=value" lines, which the Windows build writes: updater (its program), keyed (the one
// with a key built in), launcher (scripts/wine32.sh -p PREFIX), errortext (a program that
// prints the system's text for a code). The program sees the host's folders on drive Z:, so
// the names it is given, and those it logs, are ProgramPath's. The tests with windows run in
// a prefix whose desktop has an X display of its own; their file also names standin (the
// Windows stand-in for the product's programs), display (the file that names the desktop's X
// display) and shots (the folder for screenshots).
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/support.h"

namespace e2e {

// What one run of the updater left: its exit status, its standard output and error, and the
// messages of its log file (the time stamps taken off).
struct TRun {
    int Status = -1;
    std::string Output;
    std::string Errors;
    std::vector<std::string> Log;
    bool Has(const std::string& message) const;
    // The index of the first log message that equals message, or -1.
    int IndexOf(const std::string& message) const;
    // The log messages that start with prefix.
    std::vector<std::string> Starting(const std::string& prefix) const;
};

// Whether the program under test is the Windows build, run under Wine.
bool UnderWine();
// A value of the Windows build's file (above); empty for the host's own program.
std::string WineSetting(const std::string& name);
// The command that runs program with args: a Windows program through the launcher.
std::vector<std::string> Command(const std::string& program, const std::vector<std::string>& args);
// The built updater under test, and its build with a key built in (signed sites), the host
// build's being hostBuilt.
std::string UpdaterExe();
std::string KeyedUpdaterExe(const std::string& hostBuilt);
// A host name as the program under test sees it and logs it: itself, or under Wine the same
// file on drive Z: ("/tmp/x/" is "Z:\tmp\x\").
std::string ProgramPath(const std::string& hostName);
// The system's text for an error code as the program under test logs it (trailing full stop
// dropped): this machine's, or under Wine Wine's own.
std::string SystemText(int code);

// The messages of a log text: each line without its "mmm dd yyyy hh:nn:ss " stamp. A line
// without a well-formed stamp is kept whole, so a test sees it.
std::vector<std::string> Messages(const std::string& logText);
bool HasStamp(const std::string& line);

// Runs kvpublish PRODUCT SITE; fails the test when it does not succeed.
void Publish(const std::string& productDir, const std::string& siteDir);
std::string FileSumText(const std::string& data); // the manifest's checksum of the bytes

// A temporary root holding the product folder "product/", a site folder "site/" and a work
// folder for whatever a test needs.
class TProduct {
public:
    // Copies the built updater (or another build of it) into the product folder and puts
    // an empty "language.dat" beside it, so that the folder is the product folder whatever
    // the machine holds.
    explicit TProduct(const std::string& languageDat = "", const std::string& program = "");
    // Puts the program and "language.dat" into the product folder again: after a disk has
    // been mounted over it, say.
    void Populate() const;
    const std::string& Root() const { return FRootPath; }
    std::string Dir() const { return Root() + "product/"; }
    std::string Site() const { return Root() + "site/"; }
    std::string File(const std::string& rel) const { return Dir() + rel; }
    std::string Read(const std::string& rel) const;
    void Write(const std::string& rel, const std::string& data) const;
    bool Exists(const std::string& rel) const;

    // Writes KVUpdater.ini.
    void WriteIni(const std::string& text) const;
    // KVUpdater.ini that updates from url and ends by itself.
    void UseUrl(const std::string& url) const;

    // Runs the updater from the product folder with the arguments (each quoted) and waits.
    // env is put before the command (e.g. "KVUPDATER_HOSTS=/x ").
    TRun Run(const std::vector<std::string>& args = {}, const std::string& env = "") const;
    // Runs a program (a copy of the updater) with the arguments from the folder dir, through
    // the launcher under Wine; its exit status, standard output and error.
    TRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                    const std::string& dir) const;
    // The log file's messages.
    std::vector<std::string> LogMessages() const;

private:
    // Runs the command line prefix + program + the arguments, each quoted, from dir.
    TRun Execute(const std::string& dir, const std::string& prefix, const std::string& program,
                 const std::vector<std::string>& args) const;

    kvtest::TTempDir FRoot;
    std::string FRootPath; // FRoot's path with every symbolic link resolved
    std::string FLanguageDat, FProgram;
};

std::string Quote(const std::string& s);
// Waits, bounded generously, until the file holds exactly data.
bool WaitForContent(const std::string& file, const std::string& data);
// The size of the built updater's file: what a product folder holds before anything else.
uint64_t ProgramBytes();

} // namespace e2e
