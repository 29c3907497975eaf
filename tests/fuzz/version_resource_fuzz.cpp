// The version-record readers over an arbitrary file: an ELF file's section table and
// string table, a PE file's headers, sections and resource directory. A record they find
// carries the right signature.
#include <cstdlib>

#include "fileinfo/file_info.h"
#include "tests/fuzz/fuzz_folder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::optional<TFixedFileInfo> record =
        ReadFixedFileInfo(kvfuzz::Folder().Put("image.bin", data, size));
    if (record && record->dwSignature != FixedFileInfoSignature) std::abort();
    record = DecodeFixedFileInfo(data, size);
    if (record && record->dwSignature != FixedFileInfoSignature) std::abort();
    return 0;
}
