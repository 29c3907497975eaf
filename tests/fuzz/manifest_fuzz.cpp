// The update manifest: lines, the parse with its giving-up rules and name check, then each
// entry as both engines prepare and classify it. Every name the parse lets through is checked
// here on its own terms: it must stay inside the product folder.
#include <cstdlib>
#include <string_view>

#include "app/manifest.h"
#include "platform/exception.h"
#include "platform/text.h"
#include "tests/fuzz/fuzz_folder.h"

namespace {

// No leading separator, no drive, no ".." component under either separator.
bool StaysInside(const std::string& name) {
    if (name.empty() || name[0] == '/' || name[0] == '\\') return false;
    if (name.size() >= 2 && name[1] == ':') return false;
    size_t start = 0;
    for (;;) {
        size_t end = name.find_first_of("/\\", start);
        std::string_view part = std::string_view(name).substr(
            start, end == std::string::npos ? std::string::npos : end - start);
        if (part == "..") return false;
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A product folder that does not exist: storing the manifest on giving up fails at once
    // (the store is not what is tried here, and a write per input would halve the speed).
    const std::string productDir = kvfuzz::Folder().Path() + "missing/";
    TManifest m;
    m.ManifestLines =
        LoadManifestLines(std::string_view(reinterpret_cast<const char*>(data), size));
    size_t said = 0;
    TSayProc say = [&](const std::string& line) { said += line.size(); };
    for (bool replaceBlankSizes : {true, false}) {
        try {
            if (!ParseManifest(m, replaceBlankSizes, productDir, say)) continue;
        } catch (const EInOutError&) {
            continue; // gave up, and could not store the manifest
        }
        if (m.FileChecksums.size() != m.Count() || m.FileSizes.size() != m.Count()) std::abort();
        for (size_t i = 0; i < m.Count(); ++i) {
            if (!StaysInside(m.FileNames[i])) std::abort();
            try {
                // The first entries as the engines prepare them; past those, the same without
                // looking for the local file (each look lists a folder: a dozen system calls).
                TManifestEntry e;
                if (i < 4) {
                    e = PrepareEntry(m, i, productDir);
                    say(EntryStatusLine(ClassifyEntry(e), e.Name));
                } else {
                    e.Name = m.FileNames[i];
                    e.Checksum = m.FileChecksums[i];
                    e.CabName = CabinetName(e.Name);
                    e.Size = plat::StrToInt(m.FileSizes[i]);
                }
                e.Exists = true; // as if the file were there: the checksum is converted
                say(EntryStatusLine(ClassifyEntry(e), e.Name));
            } catch (const EConvertError&) {
                // A size or checksum that is no number ends the run with that error.
            }
        }
    }
    return 0;
}
