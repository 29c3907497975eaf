#pragma once
// Publishing an update site: one cabinet per file of the product folder and the manifest
// "versions.txt" that lists every file with its FileSum and size.
#include <cstdint>
#include <functional>
#include <string>

#include "cab/cabfiles.h"
#include "platform/exception.h"

// A publishing failure; its message is meant for the person who ran the tool.
class EPublishError : public Exception {
public:
    using Exception::Exception;
};

constexpr uint64_t PerFileWork = 64 * 1024;

struct TPublishOptions {
    TCompressionType Compression = typMSZIP;
    bool Force = false; // rebuild every cabinet, changed or not
    // Called before the first file (done 0, no name) and as the work goes on: the work done
    // so far, the whole work and the entry name at hand. The work of a file is its size
    // plus PerFileWork for opening, summing and listing it.
    std::function<void(uint64_t done, uint64_t total, const std::string& name)> OnProgress;
    // Called for each thing in the product folder that is left out, with its entry name and
    // why ("a FIFO", "a symbolic link that leads out of the product folder").
    std::function<void(const std::string& name, const std::string& reason)> OnSkip;
};

struct TPublishResult {
    size_t Files = 0;     // entries in the manifest
    uint64_t Bytes = 0;   // their total size
    size_t Written = 0;   // cabinets (re)written
    size_t Unchanged = 0; // cabinets kept as they were
    size_t Removed = 0;   // cabinets of files no longer in the product folder
};

// Publishes productDir and every folder in it into siteDir (created when missing): an entry
// name holds "\" between its folder levels and its cabinet lies in the matching site
// subfolder. Raises EPublishError with a clear message for a missing product folder, an
// unwritable site folder, an unreadable file or folder, a name the manifest can't carry,
// names that differ only in letter case, or two files that would share a cabinet.
TPublishResult Publish(const std::string& productDir, const std::string& siteDir,
                       const TPublishOptions& options);
