// Which file systems keep a file whole across a rename over an existing file without a flush,
// as the kernel states it. The guarantee, file system by file system:
// - ext4 with a journal, data=ordered, auto_da_alloc: the rename over an existing file starts
//   the new file's write-back (auto_da_alloc allocates its delayed blocks), and ordered mode
//   commits no transaction before the data of the blocks it allocated. Old or new: ordered.
// - ext4 without a journal: nothing orders data before metadata; the rename can reach the
//   disk before the data, leaving zeros. The mount table lists no option for it, the options
//   file then names no data= mode.
// - ext4 with data=writeback (mounted so, or the file system's own default, which the mount
//   table does not show): metadata is journalled, data is not ordered. Zeros.
// - ext4 with noauto_da_alloc: the data is not even allocated at the rename. Empty.
// - ext4 with data=journal: safe in principle, not claimed: not tried here.
// - xfs flushes on close only after a truncation, never for a rename over a file; btrfs
//   starts the write-back at such a rename but may commit the rename first. Anything else,
//   or anything that can't be read: not known, so the program flushes.
#include "platform/posix/kernel.h"

#include <sys/sysmacros.h>
#include <unistd.h>

#include <climits>
#include <map>
#include <mutex>
#include <sstream>

#include "platform/files.h"

namespace plat::posix {

namespace {

// The kernel's name of a block device ("vda", "loop3", "dm-0", "nvme0n1p2"), which names
// its folder in /proc/fs/ext4; empty for a device with no block device behind it (btrfs,
// overlayfs, tmpfs and network file systems have anonymous device numbers).
std::string BlockDeviceName(dev_t device) {
    const std::string link =
        "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) return {};
    const std::string path(target, static_cast<size_t>(n));
    return path.substr(path.find_last_of('/') + 1);
}

// The judgment from the text of /proc/fs/ext4/<device>/options, one option per line: a
// data= mode is named only where there is a journal.
bool Ext4OptionsOrderRenames(const std::string& options) {
    bool ordered = false, autoDaAlloc = false;
    std::istringstream lines(options);
    for (std::string line; std::getline(lines, line);) {
        if (line == "data=ordered") ordered = true;
        if (line == "auto_da_alloc") autoDaAlloc = true;
    }
    return ordered && autoDaAlloc;
}

} // namespace

bool RenameOverIsOrdered(dev_t device) {
    static std::mutex lock;
    static std::map<dev_t, bool> known;
    std::lock_guard<std::mutex> hold(lock);
    const auto found = known.find(device);
    if (found != known.end()) return found->second;
    const std::string name = BlockDeviceName(device);
    std::string options;
    // The folder exists while the device is mounted as ext4, and nothing else has one.
    const bool ordered = !name.empty() && name.find("..") == std::string::npos &&
                         ReadFileText("/proc/fs/ext4/" + name + "/options", options, 1 << 16) &&
                         Ext4OptionsOrderRenames(options);
    known[device] = ordered;
    return ordered;
}

} // namespace plat::posix
