#pragma once
// What the Linux kernel tells of a file system's ordering of data and renames. Private to the
// platform layer's POSIX side, which falls back to flushing where this is not known.
#include <sys/types.h>

#include <string>

namespace plat::linuxfs {

// Whether a file written and then renamed over an existing file on the device's file system
// is old or new after a power cut, never empty or torn, without a flush of the program's own.
// True only where the kernel says so for certain; read once per device.
bool RenameOverIsOrdered(dev_t device);

// The same judgment from the text of /proc/fs/ext4/<device>/options, one option per line.
// Apart so that the judgment can be checked on every form of the text.
bool Ext4OptionsOrderRenames(const std::string& options);

} // namespace plat::linuxfs
