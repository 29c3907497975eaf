// kvpublish [options] PRODUCT_FOLDER SITE_FOLDER: builds an update site.
#include <cstdio>
#include <string>
#include <vector>

#include "kv_config.h"
#include "platform/terminal.h"
#include "tools/publish.h"
#include "tools/site_signing.h"

namespace {

const char Usage[] =
    "Usage: kvpublish [OPTION]... PRODUCT_FOLDER SITE_FOLDER\n"
    "  or:  kvpublish --new-key KEY_FILE | --public-key KEY_FILE\n"
    "Publish the files of PRODUCT_FOLDER as an update site in SITE_FOLDER: one cabinet\n"
    "per file (NAME.EXT becomes NAME.cab, holding the file under its own name) and the\n"
    "manifest versions.txt listing every file with its checksum and size.\n"
    "Files in folders are published too: their names carry the folders, separated by\n"
    "\"\\\", and their cabinets lie in the matching folders of the site. FIFOs, sockets,\n"
    "devices and symbolic links that lead out of PRODUCT_FOLDER are left out with a\n"
    "line on standard error. Names that differ only in letter case are refused.\n"
    "Publishing again rewrites only the cabinets whose file changed, and removes the\n"
    "cabinets of files that are gone.\n"
    "\n"
    "  -c, --compression=TYPE  mszip (the default) or none\n"
    "  -f, --force             rebuild every cabinet\n"
    "  -q, --quiet             print nothing but errors\n"
    "      --sign-key=KEY_FILE sign the site with the private key in KEY_FILE: every\n"
    "                          manifest entry gets its cabinet's SHA-256 and\n"
    "                          versions.sig the manifest's signature; without it an\n"
    "                          earlier versions.sig is removed\n"
    "      --new-key=KEY_FILE  make a new key pair, write its private key to KEY_FILE\n"
    "                          (readable by its owner only, never replaced) and print\n"
    "                          the public key\n"
    "      --public-key=KEY_FILE  print the public key of the private key in KEY_FILE\n"
    "      --help              display this help and exit\n"
    "      --version           output version information and exit\n"
    "\n"
    "A public key is printed as one line, as updaters are given it to trust.\n"
    "\n"
    "Exit status: 0 on success, 1 when publishing failed, 2 for a wrong command line.\n";

int BadUsage(const std::string& message) {
    std::fprintf(stderr, "kvpublish: %s\nTry 'kvpublish --help' for more information.\n",
                 message.c_str());
    return 2;
}

bool ParseCompression(const std::string& value, TCompressionType& type) {
    if (value == "mszip")
        type = typMSZIP;
    else if (value == "none")
        type = typNone;
    else if (value == "lzx")
        type = typLZX;
    else
        return false;
    return true;
}

// Less work than this (16 MiB, or 256 files) ends before a bar would tell anything.
constexpr uint64_t LongWork = 16 << 20;

// A one-line bar redrawn in place on standard error.
void DrawProgress(uint64_t done, uint64_t total, const std::string& name) {
    constexpr uint64_t Width = 30;
    uint64_t filled = total ? done * Width / total : Width;
    unsigned percent = static_cast<unsigned>(total ? done * 100 / total : 100);
    std::string shown = name.size() > 40 ? "..." + name.substr(name.size() - 37) : name;
    std::fprintf(stderr, "\r[%s%s] %3u%% %-40s", std::string(filled, '#').c_str(),
                 std::string(Width - filled, ' ').c_str(), percent, shown.c_str());
    std::fflush(stderr);
}

// "--name" (its value the next argument) or "--name=VALUE" (value set here).
bool KeyOption(const std::string& arg, const std::string& name, std::string& value) {
    if (arg == name) return true;
    if (arg.rfind(name + "=", 0) != 0) return false;
    value = arg.substr(name.size() + 1);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    TPublishOptions options;
    bool quiet = false;
    std::vector<std::string> operands;
    std::string signKey, newKey, publicKey;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (optionsDone || a.size() < 2 || a[0] != '-') {
            operands.push_back(a);
        } else if (a == "--") {
            optionsDone = true;
        } else if (a == "--help") {
            std::fputs(Usage, stdout);
            return 0;
        } else if (a == "--version") {
            std::printf("kvpublish %s\n", KV_VERSION_TEXT);
            return 0;
        } else if (a == "-q" || a == "--quiet") {
            quiet = true;
        } else if (a == "-f" || a == "--force") {
            options.Force = true;
        } else if (KeyOption(a, "--sign-key", signKey) || KeyOption(a, "--new-key", newKey) ||
                   KeyOption(a, "--public-key", publicKey)) {
            std::string& value = a.rfind("--sign-key", 0) == 0  ? signKey
                                 : a.rfind("--new-key", 0) == 0 ? newKey
                                                                : publicKey;
            if (a.find('=') == std::string::npos && i + 1 < argc) value = argv[++i];
            if (value.empty()) return BadUsage("option '" + a + "' requires a key file");
        } else if (a == "-c" || a == "--compression" || a.rfind("--compression=", 0) == 0 ||
                   (a.rfind("-c", 0) == 0 && a.size() > 2)) {
            std::string value;
            if (a.rfind("--compression=", 0) == 0)
                value = a.substr(14);
            else if (a.size() > 2 && a[1] == 'c')
                value = a.substr(2);
            else if (i + 1 < argc)
                value = argv[++i];
            else
                return BadUsage("option '" + a + "' requires an argument");
            if (!ParseCompression(value, options.Compression))
                return BadUsage("invalid compression '" + value + "' (mszip or none)");
        } else {
            return BadUsage("unrecognized option '" + a + "'");
        }
    }
    if (!newKey.empty() || !publicKey.empty()) {
        if (!operands.empty()) return BadUsage("extra operand '" + operands[0] + "'");
        if (!newKey.empty() && !publicKey.empty())
            return BadUsage("--new-key and --public-key can't be given together");
        return newKey.empty() ? PublicKeyCommand(publicKey) : NewKeyCommand(newKey);
    }
    if (operands.size() < 2) return BadUsage("missing operand");
    if (operands.size() > 2) return BadUsage("extra operand '" + operands[2] + "'");

    // The first call, before any file, tells how long the work is.
    bool bar = false, terminal = !quiet && plat::StderrIsTerminal();
    options.OnSkip = [&](const std::string& name, const std::string& reason) {
        if (bar) std::fputc('\n', stderr);
        std::fprintf(stderr, "kvpublish: skipping '%s': %s\n", name.c_str(), reason.c_str());
    };
    options.OnProgress = [&](uint64_t done, uint64_t total, const std::string& name) {
        if (done == 0 && name.empty()) bar = terminal && total >= LongWork;
        if (bar) DrawProgress(done, total, name);
    };
    try {
        // A key that can't sign fails the run before the site changes.
        if (!signKey.empty()) CheckSigningKey(signKey);
        TPublishResult r = Publish(operands[0], operands[1], options);
        if (!signKey.empty())
            SignSite(operands[1], signKey);
        else
            RemoveSiteSignature(operands[1]);
        if (bar) std::fputc('\n', stderr);
        if (!quiet)
            std::printf("kvpublish: %zu files, %zu cabinets written, %zu unchanged, %zu removed\n",
                        r.Files, r.Written, r.Unchanged, r.Removed);
        return 0;
    } catch (const Exception& e) {
        if (bar) std::fputc('\n', stderr);
        std::fprintf(stderr, "kvpublish: %s\n", e.Message().c_str());
        return 1;
    } catch (const std::exception& e) {
        if (bar) std::fputc('\n', stderr);
        std::fprintf(stderr, "kvpublish: %s\n", e.what());
        return 1;
    }
}
