#pragma once
// The working folder of the fuzz targets that read or write files: one per process, on the
// memory file system where there is one (the atomic replacements' flushes then cost
// nothing), removed at exit.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace kvfuzz {

class TFolder {
public:
    TFolder() {
        std::string base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
        if (const char* tmp = std::getenv("KV_FUZZ_TMP")) base = tmp;
        std::string pattern = base + "/kvfuzz.XXXXXX";
        if (!mkdtemp(pattern.data())) std::abort();
        FPath = pattern + "/";
    }
    ~TFolder() {
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }
    TFolder(const TFolder&) = delete;
    TFolder& operator=(const TFolder&) = delete;

    // Ends with "/".
    const std::string& Path() const { return FPath; }

    // Writes the bytes as the named file of the folder and answers its path.
    std::string Put(const std::string& name, const uint8_t* data, size_t size) const {
        std::string path = FPath + name;
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) std::abort();
        return path;
    }

private:
    std::string FPath;
};

inline const TFolder& Folder() {
    static TFolder folder;
    return folder;
}

} // namespace kvfuzz
