#include "app/settings.h"

#include "platform/files.h"

std::string TSettings::UpdaterDir() const {
    return plat::IncludeTrailingPathDelimiter(plat::ExtractFilePath(ExeName));
}

std::string TSettings::TmpDir() const {
    return UpdaterDir() + "tmp" + plat::PathDelim;
}

std::string TSettings::LogDir() const {
    return plat::IncludeTrailingPathDelimiter(ProductDir) + "logs";
}
