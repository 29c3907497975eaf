#include "tests/support/e2e.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <thread>

namespace e2e {

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
    return std::filesystem::file_size(KV_UPDATER_EXE);
}

TProduct::TProduct(const std::string& languageDat, const std::string& program)
    : FRootPath(std::filesystem::canonical(FRoot.Path()).string() + "/"), FLanguageDat(languageDat),
      FProgram(program) {
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
    std::string command = "cd " + Quote(Dir()) + " && " + env + "./KVUpdater.exe";
    for (const auto& a : args) command += " " + Quote(a);
    const std::string errFile = Root() + "stderr.txt";
    command += " 2>" + Quote(errFile) + " </dev/null";
    TRun run;
    run.Status = kvtest::RunCommand(command, &run.Output);
    run.Errors = kvtest::ReadFile(errFile);
    run.Log = LogMessages();
    return run;
}

std::vector<std::string> TProduct::LogMessages() const {
    return Messages(Read("logs/KVUpdater.log"));
}

} // namespace e2e
