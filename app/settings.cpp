#include "app/settings.h"

#include "platform/files.h"

std::string WithDelimiter(const std::string& dir) {
    if (!dir.empty() && plat::IsPathDelimiter(dir.back())) return dir;
    return dir + plat::PathDelim;
}

std::string TSettings::UpdaterDir() const {
    return WithDelimiter(plat::ExtractFilePath(ExeName));
}

std::string TSettings::TmpDir() const {
    return UpdaterDir() + "tmp" + plat::PathDelim;
}

std::string TSettings::LogDir() const {
    return WithDelimiter(ProductDir) + "logs";
}
