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

struct TPublishOptions {
    TCompressionType Compression = typMSZIP;
    bool Force = false; // rebuild every cabinet, changed or not
    // Called before each file: its index (0-based), the count and the file's name.
    std::function<void(size_t index, size_t count, const std::string& name)> OnFile;
};

struct TPublishResult {
    size_t Files = 0;     // entries in the manifest
    size_t Written = 0;   // cabinets (re)written
    size_t Unchanged = 0; // cabinets kept as they were
    size_t Removed = 0;   // cabinets of files no longer in the product folder
};

// Publishes productDir into siteDir (created when missing). Raises EPublishError with a
// clear message for a missing product folder, an unwritable site folder, an unreadable
// file, a file name the manifest can't carry, or two files that would share a cabinet.
TPublishResult Publish(const std::string& productDir, const std::string& siteDir,
                       const TPublishOptions& options);
