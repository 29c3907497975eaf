// POSIX has no reader of version resources: fileinfo/ reads the file's bytes itself.
#include "platform/version_info.h"

namespace plat {

bool SystemVersionRecord(const std::string&, std::string& record) {
    record.clear();
    return false;
}

} // namespace plat
