// The shell's start of a program or document on POSIX. A program is started with
// posix_spawn in a session of its own, its standard streams on /dev/null; anything else is
// handed to xdg-open. The child is reaped by a detached thread that waits for it, so it
// never lingers as our zombie however long we run; once we are gone it belongs to init.
#include "platform/shell.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/posix/eintr.h"
#include "platform/posix/files_posix.h"

extern char** environ;

namespace plat {

namespace {

// Splits the argument text at blanks (space, tab). A double-quoted stretch may hold blanks,
// as on a Windows command line; the quotes themselves are dropped.
std::vector<std::string> SplitArguments(const std::string& text) {
    std::vector<std::string> args;
    std::string current;
    bool inArgument = false, quoted = false;
    for (char c : text) {
        if (c == '"') {
            quoted = !quoted;
            inArgument = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inArgument) args.push_back(current);
            current.clear();
            inArgument = false;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inArgument) args.push_back(current);
    return args;
}

class TSpawnSetup {
public:
    TSpawnSetup() {
        ::posix_spawnattr_init(&Attr);
        ::posix_spawn_file_actions_init(&Actions);
    }
    ~TSpawnSetup() {
        ::posix_spawn_file_actions_destroy(&Actions);
        ::posix_spawnattr_destroy(&Attr);
    }
    TSpawnSetup(const TSpawnSetup&) = delete;
    TSpawnSetup& operator=(const TSpawnSetup&) = delete;
    posix_spawnattr_t Attr;
    posix_spawn_file_actions_t Actions;
};

bool Spawn(const std::string& program, const std::vector<std::string>& args,
           const std::string& workDir) {
    TSpawnSetup setup;
    // A fresh session, no blocked signals, and every signal back to its default: the
    // child must not inherit what we ignore (SIGPIPE, for one).
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    int rc = ::posix_spawnattr_setflags(&setup.Attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK |
                                                         POSIX_SPAWN_SETSIGDEF);
    if (rc == 0) rc = ::posix_spawnattr_setsigmask(&setup.Attr, &none);
    if (rc == 0) rc = ::posix_spawnattr_setsigdefault(&setup.Attr, &all);
    if (rc == 0)
        rc = ::posix_spawn_file_actions_addopen(&setup.Actions, 0, "/dev/null", O_RDONLY, 0);
    if (rc == 0)
        rc = ::posix_spawn_file_actions_addopen(&setup.Actions, 1, "/dev/null", O_WRONLY, 0);
    if (rc == 0)
        rc = ::posix_spawn_file_actions_addopen(&setup.Actions, 2, "/dev/null", O_WRONLY, 0);
    if (rc == 0 && !workDir.empty())
        rc = ::posix_spawn_file_actions_addchdir_np(&setup.Actions, workDir.c_str());
    if (rc != 0) return posix::FailOs(rc);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    pid_t pid = 0;
    rc = ::posix_spawn(&pid, program.c_str(), &setup.Actions, &setup.Attr, argv.data(), environ);
    if (rc != 0) return posix::FailOs(rc); // the C library has reaped a child that failed to exec
    try {
        std::thread([pid] {
            int status = 0;
            posix::RetryInterrupted([&] { return ::waitpid(pid, &status, 0); });
        }).detach();
    } catch (...) {
        // No thread to spare: the child still runs; it is reaped when we end.
    }
    return true;
}

bool IsProgram(const struct stat& st) {
    return S_ISREG(st.st_mode) && (st.st_mode & 0111) != 0;
}

// The desktop's opener on PATH, or empty.
std::string FindOpener() {
    const char* path = std::getenv("PATH");
    std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        std::string candidate = (dir.empty() ? std::string(".") : dir) + "/xdg-open";
        struct stat st;
        if (::stat(candidate.c_str(), &st) == 0 && IsProgram(st)) return candidate;
        start = end + 1;
    }
    return {};
}

bool Open(const std::string& target, const std::string& workDir) {
    std::string opener = FindOpener();
    if (opener.empty()) return posix::FailWith(syserr::FileNotFound);
    return Spawn(opener, {target}, workDir);
}

// "scheme://..." with a scheme of two or more characters (one would be a drive letter).
bool IsUrl(const std::string& s) {
    size_t p = s.find("://");
    if (p == std::string::npos || p < 2 || !std::isalpha(static_cast<unsigned char>(s[0])))
        return false;
    for (size_t i = 1; i < p; ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
    }
    return true;
}

bool Start(const std::string& file, const std::string& args, const std::string& dir) {
    if (file.empty()) return posix::FailWith(syserr::FileNotFound);
    std::string workDir;
    if (!dir.empty()) {
        workDir = ExpandFileName(ResolveName(dir));
        struct stat st;
        if (::stat(workDir.c_str(), &st) != 0) return posix::FailErrno();
        if (!S_ISDIR(st.st_mode)) return posix::FailWith(syserr::PathNotFound);
    }
    if (IsUrl(file)) return Open(file, workDir);

    std::string name = posix::ToNative(file);
    if (name[0] != '/')
        name = IncludeTrailingPathDelimiter(workDir.empty() ? GetCurrentDir() : workDir) + name;
    name = ResolveName(name);
    struct stat st;
    if (::stat(name.c_str(), &st) != 0) return posix::FailErrno();
    if (IsProgram(st)) return Spawn(name, SplitArguments(args), workDir);
    return Open(name, workDir);
}

} // namespace

bool ShellExecute(const std::string& file, const std::string& args, const std::string& dir) {
    try {
        return Start(file, args, dir);
    } catch (...) {
        return posix::FailWith(syserr::NotEnoughMemory);
    }
}

} // namespace plat
