// The program's entry: the presentation, the main window, the event loop, the exit status.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/site_signature.h"
#include "net/socket_api.h"
#include "platform/command_line.h"
#include "platform/files.h"
#include "platform/presentation_choice.h"
#include "platform/text.h"
#include "platform/ui.h"

namespace {

// The one place that decides how the program presents itself: a window when the build has
// one, a display is present and the run is not silent by its command line (a run made
// silent by its initialisation file hides the window before it ever shows).
std::unique_ptr<plat::TPresentation> ChoosePresentation(int& argc, char** argv,
                                                        const std::vector<std::string>& args) {
    bool silent = false;
    for (const std::string& arg : args)
        if (plat::SameText(arg, "/silent")) silent = true;
    return plat::CreateBestPresentation(argc, argv, silent);
}

// When KVUPDATER_HOSTS names a file of "address name..." lines, host names are looked up in
// it alone and every other name is unknown: a run's name lookup then depends neither on the
// machine's resolver nor on its time-outs.
void UseHostsFile() {
    const char* file = std::getenv("KVUPDATER_HOSTS");
    if (!file || !*file) return;
    std::string text;
    plat::ReadFileText(file, text);
    std::map<std::string, uint32_t> hosts;
    TmsWinsock& winsock = TmsWinsock::Instance();
    for (const std::string& line : plat::SplitLines(text)) {
        std::vector<std::string> words;
        size_t pos = 0;
        while (pos < line.size()) {
            size_t start = line.find_first_not_of(" \t", pos);
            if (start == std::string::npos || line[start] == '#') break;
            size_t end = line.find_first_of(" \t", start);
            if (end == std::string::npos) end = line.size();
            words.push_back(line.substr(start, end - start));
            pos = end;
        }
        if (words.size() < 2) continue;
        uint32_t address = winsock.InetAddr(words[0]);
        if (address == sock::NoAddress) continue;
        for (size_t i = 1; i < words.size(); ++i) hosts[plat::LowerCase(words[i])] = address;
    }
    winsock.SetHostResolver([hosts](const std::string& name, uint32_t& address) {
        auto it = hosts.find(plat::LowerCase(name));
        if (it == hosts.end()) return sockerr::HostNotFound;
        address = it->second;
        return 0;
    });
}

// The public keys of the update sites this build trusts, comma-separated (see
// kv_trust_site_keys in app/CMakeLists.txt); none by default.
#ifndef KV_TRUSTED_SITE_KEYS
#define KV_TRUSTED_SITE_KEYS ""
#endif

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args = plat::ProgramArguments(argc, argv);
    if (WantsHelp(args)) {
        std::fputs(SwitchHelp().c_str(), stdout);
        return 0;
    }
    plat::ReportFileSizeLimitAsError();
    UseHostsFile();
    plat::SetPresentation(ChoosePresentation(argc, argv, args));
    plat::TPresentation& presentation = plat::Presentation();
    int status = ExitStartupFailed;
    {
        TForm1 form;
        form.Settings.ExeName = plat::ProgramFileName();
        form.Settings.Params = std::move(args);
        form.Settings.SitePublicKeys = SplitSiteKeys(KV_TRUSTED_SITE_KEYS);
        try {
            form.FormCreate();
        } catch (...) {
            // Start-up stops here; the window would stay open and idle.
            form.ShowLog();
            presentation.HandleException();
        }
        presentation.Run();
        status = form.ExitCode;
    }
    return status;
}
