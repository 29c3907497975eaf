// Start-up: the product folder, the two initialisation files, the switches, the edition,
// the download URL, the first log lines and the armed timer.
#include <charconv>
#include <string>

#include "app/brand_rules.h"
#include "app/main_window.h"
#include "app/password.h"
#include "app/site_signature.h"
#include "kv_config.h"
#include "platform/exception.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace {

// The standard product folder.
const std::string StandardProductDir = plat::StandardProductDir();

const char* const Firewalls = "Firewalls";
const char* const General = "General";

// The switches, and which of them take the next argument as their value: when it is one
// (IsValue), or whatever it is.
enum class TSwitchValue { None, WhenOne, Always };
struct TSwitch {
    const char* Name; // in lower case
    TSwitchValue Value;
};
constexpr TSwitch Switches[] = {{"/autoexit", TSwitchValue::None},
                                {"/silent", TSwitchValue::None},
                                {"/clonetopath", TSwitchValue::WhenOne},
                                {"/updatefromuncpath", TSwitchValue::Always},
                                {"/updatefromurl", TSwitchValue::WhenOne},
                                {"/httpproxy", TSwitchValue::WhenOne},
                                {"/httpproxyport", TSwitchValue::WhenOne},
                                {"/httpuserid", TSwitchValue::WhenOne},
                                {"/httppasswd", TSwitchValue::WhenOne},
                                {"/self", TSwitchValue::None},
                                {"/debug", TSwitchValue::None}};

const TSwitch* FindSwitch(const std::string& lowerName) {
    for (const TSwitch& s : Switches)
        if (lowerName == s.Name) return &s;
    return nullptr;
}

// Whether a switch takes the argument as its value: anything that does not begin with "/",
// the empty text included. Where "/" separates folders an absolute folder begins with it
// too, so there only the switch names themselves are no value.
bool IsValue(const std::string& arg) {
    if (arg.empty() || arg[0] != '/') return true;
    if (plat::PathDelim != '/') return false;
    return FindSwitch(plat::LowerCase(arg)) == nullptr;
}

} // namespace

bool WantsHelp(const std::vector<std::string>& args) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "/?" || args[i] == "--help") return true;
        // A switch's value is never a request for help.
        const TSwitch* sw = FindSwitch(plat::LowerCase(args[i]));
        if (sw &&
            (sw->Value == TSwitchValue::Always ||
             (sw->Value == TSwitchValue::WhenOne && i + 1 < args.size() && IsValue(args[i + 1]))))
            ++i;
    }
    return false;
}

void TForm1::AssignProxy(const std::string& text) {
    msHTTPClient1.SetProxy(text.substr(0, 255));
}

void TForm1::AssignProxyPort(const std::string& port) {
    if (port.empty()) return;
    if (auto value = plat::TryStrToInt(port))
        msHTTPClient1.SetProxyPort(static_cast<int16_t>(*value));
    else
        Say("Invalid port number: " + port);
}

void TForm1::FormCreate() {
    Settings.FromUrl = Settings.FromPath = Settings.AutoExit = Settings.Silent =
        Settings.CloneSite = false;

    try {
        FileInfo1.SetFilename(Settings.ExeName);
        const TVersion& v = FileInfo1.Version;
        Settings.UpdaterVersion = std::to_string(v.Major) + "." + std::to_string(v.Minor) + "." +
                                  std::to_string(v.Release) + "." + std::to_string(v.Build);
    } catch (...) {
        Settings.UpdaterVersion = "v 4.x";
    }
    Say("KVUpdater version " + Settings.UpdaterVersion);

    plat::TPresentation& presentation = plat::Presentation();
    Window.Caption = presentation.Caption() + " " + Settings.UpdaterVersion + CaptionDate();
    presentation.SetCaption(Window.Caption);

    // The updater's own folder wins when the edition file lies beside it.
    Settings.ProductDir =
        plat::DirectoryExists(StandardProductDir) ? StandardProductDir : Settings.UpdaterDir();
    if (plat::FileExists(Settings.UpdaterDir() + "language.dat"))
        Settings.ProductDir = Settings.UpdaterDir();
    Settings.ProductDir = plat::IncludeTrailingPathDelimiter(Settings.ProductDir);

    Settings.StartDir = plat::GetCurrentDir();
    plat::SetCurrentDir(Settings.ProductDir);

    Settings.DownloadUrl = KV_DEFAULT_URL;
    ReadKestavorinIni();
    ReadKVUpdaterIni();

    if (!Settings.Params.empty() && Settings.Params[0] == "/self") {
        SelfUpdateCopy();
        return;
    }

    // What an earlier self-update left behind.
    const std::string staleCopy = Settings.TmpDir() + "kvupdater.exe";
    if (plat::FileExists(staleCopy)) plat::DeleteFile(staleCopy);

    HandleSwitches();
    ReadLanguageFile();
    ProxySummary();

    if (Settings.EditionCode.empty()) Settings.DownloadUrl += "components";
    if (Settings.FromUrl) {
        Settings.DownloadUrl += Settings.EditionCode + "/";
        Say("Updating from " + Settings.DownloadUrl);
    }
    if (Settings.FromPath) Say("Copying from " + Settings.SourcePath);
    // The backslash is the site's own convention; the client sends it as "/".
    if (Settings.CloneSite) {
        if (Settings.DownloadUrl.empty() || Settings.DownloadUrl.back() != '\\')
            Settings.DownloadUrl += '\\';
        Say("Cloning to " + Settings.ClonePath);
    } else {
        Say("Updating to " + Settings.ProductDir);
    }
    if (Settings.Silent) presentation.SetSilent();
    ShowLog();
    Timer1.SetEnabled(true);
}

void TForm1::ReadKestavorinIni() {
    std::string name;
    if (plat::FileExists(Settings.ProductDir + "ostrivane.ini"))
        name = Settings.ProductDir + "ostrivane.ini";
    else if (plat::FileExists(Settings.ProductDir + "Kestavorin.ini"))
        name = Settings.ProductDir + "Kestavorin.ini";
    else
        return;
    Say("Reading " + name);
    plat::TIniFile ini(name);

    std::string proxy = ini.ReadString(Firewalls, "HTTPProxy", "");
    size_t colon = proxy.find(':');
    if (colon == std::string::npos) {
        AssignProxy(proxy);
    } else {
        AssignProxy(proxy.substr(0, colon));
        AssignProxyPort(proxy.substr(colon + 1));
    }

    msHTTPClient1.ProxyUserName = ini.ReadString(Firewalls, "HTTPUserID", "");

    std::string password = plat::Trim(ini.ReadString(Firewalls, "HTTPPasswd", ""));
    if (!password.empty()) {
        std::string scrambled = IsHexText(password) ? HexDecode(password) : password;
        msHTTPClient1.ProxyPassword = ScramblePassword(scrambled, ProxyPasswordKey, true);
    }
}

void TForm1::ReadKVUpdaterIni() {
    const std::string name = Settings.ProductDir + "KVUpdater.ini";
    if (plat::FileExists(name)) {
        Say("Reading " + name);
        plat::TIniFile ini(name);

        AssignProxy(ini.ReadString(Firewalls, "HTTPProxy", msHTTPClient1.Proxy()));
        AssignProxyPort(ini.ReadString(Firewalls, "HTTPProxyPort", ""));
        msHTTPClient1.ProxyUserName =
            ini.ReadString(Firewalls, "HTTPUserID", msHTTPClient1.ProxyUserName);

        // A plain password never stays in the file: it is replaced by its scrambled form
        // before anything else reads it.
        std::string plain = plat::Trim(ini.ReadString(Firewalls, "HTTPPasswd", ""));
        if (!plain.empty()) {
            ini.ReplaceKey(Firewalls, "HTTPPasswd", "HTTPPasswdx",
                           HexEncode(ScramblePassword(plain, ProxyPasswordKey, false)));
        }
        std::string hex = ini.ReadString(Firewalls, "HTTPPasswdx", "");
        if (!hex.empty() && IsHexText(hex))
            msHTTPClient1.ProxyPassword = ScramblePassword(HexDecode(hex), ProxyPasswordKey, true);

        Settings.DownloadUrl = ini.ReadString(General, "UpdateFromUrl", Settings.DownloadUrl);
        Settings.SourcePath = ini.ReadString(General, "UpdateFromUncPath", "");
        Settings.ClonePath = ini.ReadString(General, "CloneToPath", "");
        Settings.AutoExit = ini.ReadBool(General, "AutoExit", false);
        Settings.Silent = ini.ReadBool(General, "Silent", false);
        // The largest answer a fetch takes, in bytes: a site can't fill the disk past it.
        const std::string limit = plat::Trim(ini.ReadString(General, "MaxDownloadSize", ""));
        int64_t bytes = 0;
        auto [end, error] = std::from_chars(limit.data(), limit.data() + limit.size(), bytes);
        if (!limit.empty() && error == std::errc() && end == limit.data() + limit.size() &&
            bytes > 0)
            msHTTPClient1.ResponseStream().Limit = bytes;
        else if (!limit.empty())
            Say("Invalid download size: " + limit);
        // A key that can verify nothing still counts: the run then takes no site at all,
        // which is safer than taking unsigned ones.
        for (std::string& key : SplitSiteKeys(ini.ReadString(General, "SitePublicKeys", ""))) {
            if (!IsSitePublicKey(key)) Say("Invalid site public key " + key);
            Settings.SitePublicKeys.push_back(std::move(key));
        }
        // A private site's CA, trusted besides the system's store. A file that can't be
        // read leaves the setting in place: every TLS connection then fails closed.
        const std::string caFile = ini.ReadString(General, "SiteCAFile", "");
        if (!caFile.empty()) {
            msHTTPClient1.SetCAFile(caFile);
            try {
                msHTTPClient1.Trust();
            } catch (const Exception&) {
                Say("Invalid site CA file " + caFile);
            }
        }
    }

    msHTTPClient1.ProxyAuthorization = !msHTTPClient1.ProxyUserName.empty();
    if (Settings.Silent) Settings.AutoExit = true;
    // The last of the three that is set wins: clone over path over URL.
    if (!Settings.DownloadUrl.empty()) {
        Settings.FromUrl = true;
        Settings.FromPath = Settings.CloneSite = false;
        if (Settings.DownloadUrl.back() != '/') Settings.DownloadUrl += '/';
    }
    if (!Settings.SourcePath.empty()) {
        Settings.FromPath = true;
        Settings.FromUrl = Settings.CloneSite = false;
        Settings.SourcePath = plat::IncludeTrailingPathDelimiter(Settings.SourcePath);
    }
    if (!Settings.ClonePath.empty()) {
        Settings.CloneSite = true;
        Settings.FromUrl = Settings.FromPath = false;
        Settings.ClonePath = plat::IncludeTrailingPathDelimiter(Settings.ClonePath);
        plat::ForceDirectories(Settings.ClonePath);
    }
}

void TForm1::HandleSwitches() {
    const size_t count = Settings.Params.size();
    for (size_t i = 0; i < count; ++i) {
        const std::string sw = plat::LowerCase(Settings.Params[i]);
        // A switch's value is the next argument unless that is another switch.
        const bool hasValue = i + 1 < count && IsValue(Settings.Params[i + 1]);
        const std::string value = hasValue ? Settings.Params[i + 1] : std::string();

        if (sw == "/autoexit") {
            Say("AutoExit");
            Settings.AutoExit = true;
        } else if (sw == "/silent") {
            Settings.AutoExit = true;
            Settings.Silent = true;
            Say("Silent");
        } else if (sw == "/clonetopath") {
            // An empty folder would make the root folder the clone: refuse the start.
            if (hasValue && value.empty())
                throw Exception("/CloneToPath needs a folder; the root folder is not one");
            Settings.CloneSite = true;
            Settings.ClonePath =
                plat::IncludeTrailingPathDelimiter(hasValue ? value : Settings.UpdaterDir());
            if (!plat::DirectoryExists(Settings.ClonePath))
                plat::ForceDirectories(Settings.ClonePath);
            Say("Cloning update site to " + Settings.ClonePath);
        } else if (sw == "/updatefromuncpath") {
            // The folder is the next argument whatever it begins with.
            const std::string path = i + 1 < count ? Settings.Params[i + 1] : std::string();
            Settings.FromPath = true;
            Settings.FromUrl = false;
            Settings.SourcePath = plat::IncludeTrailingPathDelimiter(path);
            Say("Updating from path " + path);
        } else if (sw == "/updatefromurl") {
            Settings.FromUrl = true;
            Settings.FromPath = false;
            Settings.DownloadUrl = KV_DEFAULT_URL;
            if (hasValue) Settings.DownloadUrl = value;
            Say("Updating from url");
        } else if (sw == "/httpproxy") {
            if (hasValue) AssignProxy(value);
            Say("Using proxy ");
        } else if (sw == "/httpproxyport") {
            if (hasValue) msHTTPClient1.SetProxyPort(static_cast<int16_t>(plat::StrToInt(value)));
        } else if (sw == "/httpuserid") {
            if (hasValue) {
                msHTTPClient1.ProxyUserName = value;
                msHTTPClient1.ProxyAuthorization = true;
            }
        } else if (sw == "/httppasswd") {
            if (hasValue) msHTTPClient1.ProxyPassword = value;
        }
    }
}

void TForm1::ReadLanguageFile() {
    const std::string name = Settings.ProductDir + "language.dat";
    if (!plat::FileExists(name)) return;
    std::string text;
    if (!plat::ReadFileText(name, text, plat::SmallFileMaxBytes))
        plat::RaiseFileError("Cannot open file ", name);
    std::vector<std::string> lines = plat::SplitLines(text);
    std::string first = lines.empty() ? std::string() : lines[0];
    Settings.EditionCode = first.substr(0, first.find(' '));
    if (plat::SameText(Settings.EditionCode, "Tolvu")) {
        Settings.Rebranded = true;
        Window.Caption = "Ostri Vane Updater " + Settings.UpdaterVersion + CaptionDate();
        plat::Presentation().SetCaption(Window.Caption);
        plat::Presentation().SetIcon(ImageList1[0]);
    }
}

void TForm1::ProxySummary() {
    if (!msHTTPClient1.ProxyAuthorization && msHTTPClient1.Proxy().empty()) return;
    Say(msHTTPClient1.ProxyAuthorization ? "Using proxy with username" : "Using proxy ");
    Say("Proxy address " + msHTTPClient1.Proxy());
    Say("Proxy port " + std::to_string(msHTTPClient1.ProxyPort()));
}
