#pragma once
// What the kernel under the POSIX side offers beyond POSIX, as the POSIX side asks for it:
// platform/linux gives it on Linux; kernel_generic.cpp stands in on other systems with plain
// POSIX, or with nothing where POSIX has nothing. Private to the platform layer.
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>

#include "platform/files.h"

namespace plat::posix {

// Copies the rest of in to out inside the kernel. 1: done; 0: not possible here, nothing was
// moved; -1: failed, with errno. copied counts the bytes moved.
int KernelCopy(int in, int out, uint64_t& copied);

// A rename that fails with EEXIST when the target exists. -1 with errno EINVAL or ENOSYS
// where the file system or the kernel can't do it.
int RenameNoReplace(const char* from, const char* to);

// The process's file mode creation mask, read without changing it (which would race with
// other threads creating files); -1 where it can't be read.
int ReadCreationMask();

// The full name of the running program's file as the kernel knows it; empty with errno set
// when it does not say. A file replaced since may carry a mark after its name (" (deleted)").
std::string OwnProgramPath();

// What a directory search reports of the name path in the folder dirfd (AT_FDCWD: the
// current one), a link followed: all but the entry's name. False with errno.
bool StatEntry(int dirfd, const std::string& path, TDirEntry& entry);

// Whether a file written and renamed over an existing file on the device's file system is
// old or new after a power cut without a flush of the program's own. True only where the
// kernel says so for certain.
bool RenameOverIsOrdered(dev_t device);

// The match of name without regard to case in the folder dir (lstat st) from names the
// kernel side keeps current; false when it keeps none for the folder (match not set), and
// the plain lookup reads the folder.
bool CachedCaseless(const std::string& dir, const struct stat& st, const std::string& name,
                    std::string& match);

} // namespace plat::posix
