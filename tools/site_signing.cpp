#include "tools/site_signing.h"

#include <cstdio>

#include "app/manifest.h"
#include "app/site_signature.h"
#include "platform/files.h"
#include "platform/signing_key.h"
#include "platform/text.h"
#include "tools/publish.h"

namespace {

std::string Site(const std::string& siteDir) {
    return !siteDir.empty() && plat::IsPathDelimiter(siteDir.back()) ? siteDir
                                                                     : siteDir + plat::PathDelim;
}

void WriteOrFail(const std::string& name, const std::string& data) {
    if (!plat::WriteFileAtomic(name, data))
        throw EPublishError("cannot write '" + name +
                            "': " + plat::SysErrorMessage(plat::GetLastError()));
}

// Prints the public key's text, or the reason it can't be had; the exit status.
int PrintPublicKey(const std::function<std::string()>& publicKey) {
    try {
        std::printf("%s\n", SiteText(publicKey()).c_str());
        return 0;
    } catch (const Exception& e) {
        std::fprintf(stderr, "kvpublish: %s\n", e.Message().c_str());
        return 1;
    }
}

} // namespace

void CheckSigningKey(const std::string& keyFile) {
    try {
        plat::P256PublicKeyOf(keyFile);
    } catch (const Exception& e) {
        throw EPublishError(e.Message());
    }
}

void SignSite(const std::string& siteDir, const std::string& keyFile) {
    const std::string site = Site(siteDir);
    std::string text;
    if (!plat::ReadFileText(site + "versions.txt", text))
        throw EPublishError("cannot read '" + site +
                            "versions.txt': " + plat::SysErrorMessage(plat::GetLastError()));
    std::string manifest;
    for (const std::string& line : plat::SplitLines(text)) {
        if (IsHeaderManifestLine(line)) {
            // Nothing after the header's first nine characters is read.
            manifest += "File Name,Checksum,Size,SHA-256,\r\n";
            continue;
        }
        size_t comma = line.find(',');
        for (int field = 1; field < 3 && comma != std::string::npos; ++field)
            comma = line.find(',', comma + 1);
        if (IsBlankManifestLine(line) || comma == std::string::npos) {
            manifest += line + "\r\n";
            continue;
        }
        const std::string name = line.substr(0, line.find(','));
        const std::string cabinet = site + CabinetName(name);
        const std::string field = FileSha256Field(cabinet);
        if (field.empty())
            throw EPublishError("cannot read '" + cabinet +
                                "': " + plat::SysErrorMessage(plat::GetLastError()));
        manifest += line.substr(0, comma + 1) + field + ",\r\n";
    }
    std::string signature;
    try {
        signature = SiteText(plat::SignP256(keyFile, manifest));
    } catch (const Exception& e) {
        throw EPublishError(e.Message());
    }
    WriteOrFail(site + "versions.txt", manifest);
    WriteOrFail(site + SiteSignatureName, signature + "\n");
}

bool RemoveSiteSignature(const std::string& siteDir) {
    const std::string name = Site(siteDir) + SiteSignatureName;
    return plat::FileExists(name) && plat::DeleteFile(name);
}

int NewKeyCommand(const std::string& keyFile) {
    return PrintPublicKey([&] { return plat::NewP256KeyFile(keyFile); });
}

int PublicKeyCommand(const std::string& keyFile) {
    return PrintPublicKey([&] { return plat::P256PublicKeyOf(keyFile); });
}
