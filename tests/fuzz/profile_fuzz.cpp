// The initialisation-file reader and writer over an arbitrary file: the lookups, then one
// write, delete or replacement of a key, each checked by reading it back. The first bytes
// choose the section, key, second key, value and operation; the rest is the file.
#include <cstdlib>

#include <fuzzer/FuzzedDataProvider.h>

#include "platform/exception.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "tests/fuzz/fuzz_folder.h"

namespace {

// A value no file can hold (a line break), so a read that answers it found nothing.
const std::string Absent = "\n";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string section = input.ConsumeRandomLengthString(24);
    const std::string key = input.ConsumeRandomLengthString(24);
    const std::string other = input.ConsumeRandomLengthString(24);
    const std::string value = input.ConsumeRandomLengthString(48);
    const uint8_t operation = input.ConsumeIntegral<uint8_t>();
    const std::string file = input.ConsumeRemainingBytesAsString();
    plat::TIniFile ini(kvfuzz::Folder().Put(
        "fuzz.ini", reinterpret_cast<const uint8_t*>(file.data()), file.size()));

    // Every lookup reads the file afresh: one string and one number are enough.
    ini.ReadString(section, key, "");
    ini.ReadInteger(section, other, -1);
    try {
        switch (operation % 3) {
        case 0:
            ini.WriteString(section, key, value);
            if (ini.ReadString(section, key, Absent) != value) std::abort();
            break;
        case 1:
            ini.DeleteKey(section, key);
            if (ini.ValueExists(section, key)) std::abort();
            break;
        default:
            // Its one caller renames a key; replacing a key by itself is not a renaming.
            if (plat::SameText(plat::Trim(other), plat::Trim(key))) break;
            ini.ReplaceKey(section, other, key, value);
            if (ini.ReadString(section, key, Absent) != value) std::abort();
            if (ini.ValueExists(section, other)) std::abort();
            break;
        }
    } catch (const EInOutError&) {
        // Names and values that would read back as other lines are refused.
    }
    return 0;
}
