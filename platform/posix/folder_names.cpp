// The names in a folder, for lookups without regard to case: a plain reading of the folder,
// unless the kernel side keeps the folder's names already.
#include <dirent.h>
#include <sys/stat.h>

#include <string>

#include "platform/posix/files_posix.h"
#include "platform/posix/kernel.h"
#include "platform/text.h"

namespace plat::posix {

std::string FindCaseless(const std::string& dir, const struct stat* st, const std::string& name) {
    std::string match;
    const std::string folder = dir.empty() ? "." : dir;
    if (st && CachedCaseless(folder, *st, name, match)) return match;
    DIR* d = ::opendir(folder.c_str());
    if (!d) return {};
    bool found = false;
    while (const struct dirent* e = ::readdir(d)) {
        const std::string_view entry = e->d_name;
        if (entry == "." || entry == ".." || !SameText(entry, name)) continue;
        // The first match in byte order, as the folder's order is none.
        if (!found || entry < match) match = entry;
        found = true;
    }
    ::closedir(d);
    return match;
}

} // namespace plat::posix
