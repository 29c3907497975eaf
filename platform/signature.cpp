#include "platform/signature.h"

#include <vector>

#include "platform/files.h"

namespace plat {

TSha256Digest Sha256(std::string_view data) {
    TSha256 hash;
    hash.Update(data.data(), data.size());
    return hash.Final();
}

bool Sha256File(const std::string& name, TSha256Digest& digest) {
    TFile file(FileOpen(name, TOpenMode::Read));
    if (!file.Valid()) return false;
    FileAdviseSequential(file.Get());
    std::vector<uint8_t> buffer(1 << 20);
    TSha256 hash;
    for (;;) {
        const int64_t got = FileRead(file.Get(), buffer.data(), buffer.size());
        if (got < 0) return false;
        hash.Update(buffer.data(), static_cast<size_t>(got));
        if (static_cast<size_t>(got) < buffer.size()) break; // the end: a short read says so
    }
    digest = hash.Final();
    return true;
}

} // namespace plat
