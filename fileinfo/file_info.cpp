#include "fileinfo/file_info.h"

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/ui.h"

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// The text after the last separator or colon.
std::string NamePart(const std::string& name) {
    size_t at = name.find_last_of("\\/:");
    return at == std::string::npos ? name : name.substr(at + 1);
}

// The text up to and including the last separator or colon.
std::string FolderPart(const std::string& name) {
    size_t at = name.find_last_of("\\/:");
    return at == std::string::npos ? std::string() : name.substr(0, at + 1);
}

std::string DriveOf(const std::string& name) {
    if (name.size() >= 2 && name[1] == ':') return std::string(1, name[0]) + ":\\";
    if (name.size() >= 2 && IsSeparator(name[0]) && IsSeparator(name[1])) {
        // A share: the two separators, the server and the separator after it. Without
        // a further separator there is no server part to name.
        for (size_t i = 2; i < name.size(); ++i)
            if (IsSeparator(name[i])) return name.substr(0, i + 1);
    }
    return "";
}

} // namespace

double FileTimeToDateTime(const plat::TUnixTime& time, bool creation) {
    plat::TSystemTime local;
    if (!plat::UnixToLocal(time, local)) return 0;
    if (creation && (local.Year <= 1980 || local.Year > 2050)) return 0;
    return plat::EncodeDateTime(local);
}

void TFileInfo::SetFilename(const std::string& name) {
    FFilename = name;
    const bool exists = plat::FileExists(name);

    Version = TVersion();
    if (exists) {
        // The buffer the record is read into can only fail to come as an out-of-memory
        // error, which goes to whoever wrote Filename.
        if (auto info = ReadFixedFileInfo(name)) {
            Version.Major = uint16_t(info->dwFileVersionMS >> 16);
            Version.Minor = uint16_t(info->dwFileVersionMS & 0xFFFF);
            Version.Release = uint16_t(info->dwFileVersionLS >> 16);
            Version.Build = uint16_t(info->dwFileVersionLS & 0xFFFF);
        }
        Version.Text = std::to_string(Version.Major) + "." + std::to_string(Version.Minor) +
                       " Release " + std::to_string(Version.Release) + " Build " +
                       std::to_string(Version.Build);
    }

    Short = exists ? NamePart(name) : "";
    Extension.clear();
    if (exists) {
        size_t dot = Short.rfind('.');
        if (dot != std::string::npos) Extension = Short.substr(dot);
    }
    WithoutExtension = exists ? Short.substr(0, Short.size() - Extension.size()) : "";

    plat::TDirEntry entry;
    const bool found = plat::FindEntry(name, entry);
    Size = found ? static_cast<int32_t>(static_cast<uint32_t>(entry.Size)) : 0;

    Path.clear();
    if (exists) {
        Path = FolderPart(name);
        if (Path.empty())
            Path = plat::ProgramDir(); // a bare name: the program's folder, not the current one
        else if (!IsSeparator(Path.back()))
            Path += '\\'; // only a drive letter and colon
    }

    Drive = exists ? DriveOf(name) : "";

    TimeStamp = TTimeStamp();
    if (!found) {
        plat::Presentation().Beep();
    } else {
        if (entry.HasCreation) TimeStamp.Creation = FileTimeToDateTime(entry.Creation, true);
        TimeStamp.LastWrite = FileTimeToDateTime(entry.LastWrite, false);
        TimeStamp.LastAccess = FileTimeToDateTime(entry.LastAccess, false);
    }

    // The entry's short name; where it has none (the long name is short already, or the system
    // keeps no short names) the upper-cased file-name part.
    DOS83 = !found                    ? ""
            : entry.ShortName.empty() ? plat::UpperCase(NamePart(name))
                                      : entry.ShortName;
}
