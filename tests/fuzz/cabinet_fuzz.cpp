// Cabinets through the binding, as the updater reads them: the directory, then each entry
// unpacked into a folder. Nothing may land outside that folder, and an entry reported
// unpacked is there.
#include <cstdlib>
#include <filesystem>

#include "cab/cabfiles.h"
#include "platform/files.h"
#include "platform/ui.h"
#include "tests/fuzz/fuzz_folder.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool silent = (plat::Presentation().SetSilent(), true); // no error boxes
    (void)silent;
    const kvfuzz::TFolder& folder = kvfuzz::Folder();
    // Two levels down, so an entry that climbs out one or two levels shows.
    const std::string out = folder.Path() + "cab/out/";
    fs::remove_all(out);
    fs::create_directories(out);

    TCABFile cab;
    cab.CABFile = folder.Put("fuzz.cab", data, size);
    cab.TargetPath = out;
    if (!cab.ReadContents()) return 0;
    // The first few entries: a cabinet of many entries adds nothing the first ones don't.
    for (int i = 0; i < cab.CABFileContents.Count() && i < 3; ++i) {
        const TCABFileEntry& entry = cab.CABFileContents[i];
        const std::string name = entry.RelPath + entry.Name;
        if (cab.ExtractFile(name) && cab.ExtractFailure().empty() && !plat::FileExists(out + name))
            std::abort();
    }
    for (const std::string& level : {folder.Path(), folder.Path() + "cab/"}) {
        for (const fs::directory_entry& e : fs::directory_iterator(level)) {
            const std::string leaf = e.path().filename().string();
            if (leaf != "cab" && leaf != "out" && leaf != "fuzz.cab") std::abort();
        }
    }
    return 0;
}
