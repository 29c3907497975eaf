#include "tests/support/e2e.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <thread>

#include "platform/errors.h"
#include "platform/text.h"

namespace e2e {

namespace {

// What the Windows build's tests set: "name=value" lines of the file KV_E2E_WINE names
// (updater, keyed, launcher, errortext); nothing for the host's own program.
std::string Setting(const std::string& name) {
    static const std::map<std::string, std::string> settings = [] {
        std::map<std::string, std::string> read;
        const char* file = std::getenv("KV_E2E_WINE");
        if (!file || !*file) return read;
        for (const std::string& line : plat::SplitLines(kvtest::ReadFile(file))) {
            const size_t equals = line.find('=');
            if (equals != std::string::npos) read[line.substr(0, equals)] = line.substr(equals + 1);
        }
        return read;
    }();
    auto found = settings.find(name);
    return found == settings.end() ? "" : found->second;
}

// The command that runs a Windows program, and a blank; empty for the host's own.
std::string Launcher() {
    const std::string launcher = Setting("launcher");
    return launcher.empty() ? launcher : launcher + " ";
}

// Whether a program file is a Windows one (it starts as PE files do), run through the launcher.
bool IsWindowsProgram(const std::string& program) {
    return kvtest::ReadFile(program).compare(0, 2, "MZ") == 0;
}

// Lines as the host writes them: a Windows program ends its lines with CR LF.
std::string HostLines(std::string text) {
    if (!UnderWine()) return text;
    std::string out;
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
}

} // namespace

bool UnderWine() {
    return !Setting("launcher").empty();
}

std::string WineSetting(const std::string& name) {
    return Setting(name);
}

std::vector<std::string> Command(const std::string& program, const std::vector<std::string>& args) {
    std::vector<std::string> argv;
    // The launcher's words hold no blank of their own (paths of the build's).
    if (IsWindowsProgram(program)) {
        const std::string launcher = Setting("launcher");
        for (size_t at = 0; at < launcher.size();) {
            const size_t end = std::min(launcher.find(' ', at), launcher.size());
            if (end > at) argv.push_back(launcher.substr(at, end - at));
            at = end + 1;
        }
    }
    argv.push_back(program);
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

std::string UpdaterExe() {
    const std::string program = Setting("updater");
    return program.empty() ? KV_UPDATER_EXE : program;
}

std::string KeyedUpdaterExe(const std::string& hostBuilt) {
    const std::string program = Setting("keyed");
    return program.empty() ? hostBuilt : program;
}

std::string ProgramPath(const std::string& hostName) {
    if (!UnderWine() || hostName.empty() || hostName[0] != '/') return hostName;
    std::string name = "Z:" + hostName;
    for (char& c : name)
        if (c == '/') c = '\\';
    return name;
}

std::string SystemText(int code) {
    if (!UnderWine()) return plat::SystemErrorText(code);
    // Wine has texts of its own: its FormatMessageA says which, through a program of ours.
    static std::map<int, std::string> known;
    auto found = known.find(code);
    if (found != known.end()) return found->second;
    std::string text;
    kvtest::RunCommand(Launcher() + Quote(Setting("errortext")) + " " + std::to_string(code),
                       &text);
    while (!text.empty() && (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.'))
        text.pop_back();
    return known[code] = text;
}

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

bool WaitForContent(const std::string& file, const std::string& data) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        if (kvtest::ReadFile(file) == data) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

bool HasStamp(const std::string& line) {
    // "Dec 08 2026 14:03:07 " is 21 characters.
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (line.size() < 21) return false;
    bool month = false;
    for (const char* m : months) month = month || line.compare(0, 3, m) == 0;
    const std::string pattern = "mmm dd yyyy dd:dd:dd ";
    for (size_t i = 3; i < pattern.size(); ++i) {
        char want = pattern[i];
        char c = line[i];
        if ((want == 'd' || want == 'y') ? !std::isdigit(static_cast<unsigned char>(c)) : c != want)
            return false;
    }
    return month;
}

std::vector<std::string> Messages(const std::string& logText) {
    std::vector<std::string> messages;
    size_t start = 0;
    while (start < logText.size()) {
        size_t end = logText.find('\n', start);
        if (end == std::string::npos) end = logText.size();
        std::string line = logText.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        messages.push_back(HasStamp(line) ? line.substr(21) : line);
        start = end + 1;
    }
    return messages;
}

bool TRun::Has(const std::string& message) const {
    return IndexOf(message) >= 0;
}

int TRun::IndexOf(const std::string& message) const {
    for (size_t i = 0; i < Log.size(); ++i)
        if (Log[i] == message) return static_cast<int>(i);
    return -1;
}

std::vector<std::string> TRun::Starting(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const auto& m : Log)
        if (m.compare(0, prefix.size(), prefix) == 0) found.push_back(m);
    return found;
}

void Publish(const std::string& productDir, const std::string& siteDir) {
    std::string output;
    int status = kvtest::RunCommand(Quote(KV_PUBLISH_EXE) + " -q " + Quote(productDir) + " " +
                                        Quote(siteDir) + " 2>&1",
                                    &output);
    ASSERT_EQ(status, 0) << output;
}

std::string FileSumText(const std::string& data) {
    uint32_t sum = 0xFFFFFFFFu;
    for (unsigned char c : data) sum += c;
    return std::to_string(static_cast<int32_t>(sum));
}

uint64_t ProgramBytes() {
    return std::filesystem::file_size(UpdaterExe());
}

TProduct::TProduct(const std::string& languageDat, const std::string& program)
    : FRootPath(std::filesystem::canonical(FRoot.Path()).string() + "/"), FLanguageDat(languageDat),
      FProgram(program.empty() ? UpdaterExe() : program) {
    kvtest::RunCommand("mkdir -p " + Quote(Site()));
    Populate();
}

void TProduct::Populate() const {
    kvtest::RunCommand("mkdir -p " + Quote(Dir()) + " && cp " + Quote(FProgram) + " " +
                       Quote(Dir() + "KVUpdater.exe"));
    Write("language.dat", FLanguageDat);
}

std::string TProduct::Read(const std::string& rel) const {
    return kvtest::ReadFile(File(rel));
}

void TProduct::Write(const std::string& rel, const std::string& data) const {
    kvtest::WriteFile(File(rel), data);
}

bool TProduct::Exists(const std::string& rel) const {
    return kvtest::RunCommand("test -e " + Quote(File(rel))) == 0;
}

void TProduct::WriteIni(const std::string& text) const {
    Write("KVUpdater.ini", text);
}

void TProduct::UseUrl(const std::string& url) const {
    WriteIni("[General]\r\nUpdateFromUrl=" + url + "\r\nAutoExit=1\r\n");
}

TRun TProduct::Run(const std::vector<std::string>& args, const std::string& env) const {
    TRun run = Execute(Dir(), env + (IsWindowsProgram(FProgram) ? Launcher() : ""),
                       "./KVUpdater.exe", args);
    run.Log = LogMessages();
    return run;
}

TRun TProduct::RunProgram(const std::string& program, const std::vector<std::string>& args,
                          const std::string& dir) const {
    return Execute(dir, IsWindowsProgram(program) ? Launcher() : "", Quote(program), args);
}

TRun TProduct::Execute(const std::string& dir, const std::string& prefix,
                       const std::string& program, const std::vector<std::string>& args) const {
    std::string command = "cd " + Quote(dir) + " && " + prefix + program;
    for (const auto& a : args) command += " " + Quote(a);
    const std::string errFile = Root() + "stderr.txt";
    command += " 2>" + Quote(errFile) + " </dev/null";
    TRun run;
    run.Status = kvtest::RunCommand(command, &run.Output);
    run.Output = HostLines(run.Output);
    run.Errors = HostLines(kvtest::ReadFile(errFile));
    return run;
}

std::vector<std::string> TProduct::LogMessages() const {
    return Messages(Read("logs/KVUpdater.log"));
}

} // namespace e2e
