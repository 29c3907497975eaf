#include "net/stream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "net/socket_errors.h"
#include "platform/clock.h"
#include "platform/exception.h"
#include "platform/files.h"
#include "platform/text.h"

namespace {

constexpr int64_t MinReserve = 64 * 1024;
constexpr int64_t CopyBlock = 64 * 1024;

plat::TFile CreateForSave(const std::string& fileName) {
    plat::TFile file(plat::FileCreate(fileName));
    if (!file.Valid()) plat::RaiseFileError("Cannot create file ", fileName);
    return file;
}

void WriteAll(plat::TFile& file, const char* data, int64_t size, const std::string& fileName) {
    int64_t done = 0;
    while (done < size) {
        int64_t n = plat::FileWrite(file.Get(), data + done, static_cast<size_t>(size - done));
        if (n <= 0) plat::RaiseFileError("Write error on ", fileName);
        done += n;
    }
}

// Where a seek lands. A position past the end is allowed, as for any memory stream; a write
// there fills the gap with zeros.
int64_t SeekTarget(int64_t offset, TSeekOrigin origin, int64_t position, int64_t size) {
    int64_t base = origin == TSeekOrigin::Beginning ? 0
                   : origin == TSeekOrigin::Current ? position
                                                    : size;
    return std::max<int64_t>(0, base + offset);
}

void CloseSaved(plat::TFile& file, const std::string& fileName) {
    if (!file.Close()) plat::RaiseFileError("Write error on ", fileName);
}

} // namespace

int64_t TStream::Size() {
    int64_t position = Seek(0, TSeekOrigin::Current);
    int64_t size = Seek(0, TSeekOrigin::End);
    Seek(position, TSeekOrigin::Beginning);
    return size;
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    char buffer[65536];
    int64_t done = 0;
    while (done < count) {
        int64_t n = source.Read(buffer, std::min<int64_t>(sizeof buffer, count - done));
        if (n <= 0) break;
        Write(buffer, n);
        done += n;
    }
    return done;
}

TMemoryStream::~TMemoryStream() {
    std::free(FData);
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
    if (count <= 0 || FPosition >= FSize) return 0;
    int64_t n = std::min(count, FSize - FPosition);
    std::memcpy(buffer, FData + FPosition, static_cast<size_t>(n));
    FPosition += n;
    return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    std::memcpy(WritableTail(count), buffer, static_cast<size_t>(count));
    Commit(count);
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    FPosition = SeekTarget(offset, origin, FPosition, FSize);
    return FPosition;
}

void TMemoryStream::Clear() {
    std::free(FData);
    FData = nullptr;
    FSize = FCapacity = FPosition = 0;
}

void TMemoryStream::SetSize(int64_t size) {
    if (size < 0) size = 0;
    if (size > FCapacity) Grow(size);
    if (size > FSize) std::memset(FData + FSize, 0, static_cast<size_t>(size - FSize));
    FSize = size;
    if (FPosition > FSize) FPosition = FSize;
}

void TMemoryStream::Reserve(int64_t capacity) {
    if (capacity <= FCapacity) return;
    // Exactly what was asked: a caller that knows the final size gets no slack and no copy.
    char* data = static_cast<char*>(std::realloc(FData, static_cast<size_t>(capacity)));
    if (!data) throw std::bad_alloc();
    FData = data;
    FCapacity = capacity;
}

void TMemoryStream::ShrinkToFit() {
    if (FCapacity <= FSize) return;
    if (FSize == 0) {
        std::free(FData);
        FData = nullptr;
        FCapacity = 0;
        return;
    }
    if (char* data = static_cast<char*>(std::realloc(FData, static_cast<size_t>(FSize)))) {
        FData = data;
        FCapacity = FSize;
    }
}

void TMemoryStream::Grow(int64_t needed) {
    // Geometric growth keeps appends linear; large blocks are moved by the allocator without
    // copying where it can remap them.
    int64_t capacity = std::max<int64_t>(FCapacity + FCapacity / 2, 4096);
    Reserve(std::max(capacity, needed));
}

char* TMemoryStream::WritableTail(int64_t count) {
    int64_t end = FPosition + std::max<int64_t>(count, 0);
    if (end > FCapacity) Grow(end);
    if (FPosition > FSize) std::memset(FData + FSize, 0, static_cast<size_t>(FPosition - FSize));
    return FData + FPosition;
}

char* TMemoryStream::ReceiveTail(int64_t count, int64_t end) {
    // At most twice what the stream holds plus the block, and never past the announced end,
    // so an announced length that never arrives costs nothing.
    if (FPosition + count > FCapacity) {
        int64_t target = std::max({FPosition + count, FCapacity * 2, MinReserve});
        if (end > 0) target = std::min(target, std::max(end, FPosition + count));
        Reserve(target);
    }
    return WritableTail(count);
}

void TMemoryStream::Commit(int64_t count) {
    if (count <= 0) return;
    FPosition += count;
    if (FPosition > FSize) FSize = FPosition;
}

void TMemoryStream::SaveToFile(const std::string& fileName) const {
    plat::TFile file = CreateForSave(fileName);
    WriteAll(file, FData, FSize, fileName);
    CloseSaved(file, fileName);
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
    plat::TFile file(plat::FileOpen(fileName, plat::TOpenMode::Read));
    if (!file.Valid()) plat::RaiseFileError("Cannot open file ", fileName);
    Clear();
    char buffer[65536];
    for (;;) {
        int64_t n = plat::FileRead(file.Get(), buffer, sizeof buffer);
        if (n < 0) plat::RaiseFileError("Read error on ", fileName);
        if (n == 0) break;
        Write(buffer, n);
    }
    FPosition = 0;
}

// ---- TBodyStream

TBodyStream::~TBodyStream() {
    Clear();
}

void TBodyStream::CheckLimit(int64_t end) const {
    if (end > Limit) throw EmsBodyTooLargeError(Limit);
}

int64_t TBodyStream::Read(void* buffer, int64_t count) {
    if (!Spilled()) {
        FMemory.SetPosition(FPosition);
        int64_t n = FMemory.Read(buffer, count);
        FPosition += n;
        return n;
    }
    if (count <= 0 || FPosition >= FSize) return 0;
    MoveFileTo("Read error on ");
    FFilePosition = -1; // unknown until the read is done
    int64_t n = plat::FileRead(FFile.Get(), buffer,
                               static_cast<size_t>(std::min(count, FSize - FPosition)));
    if (n < 0) plat::RaiseFileError("Read error on ", FFileName);
    FPosition += n;
    FFilePosition = FPosition;
    return n;
}

int64_t TBodyStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    CheckLimit(FPosition + count);
    if (!Spilled() && FPosition + count > SpillSize) Spill();
    if (!Spilled()) {
        FMemory.SetPosition(FPosition);
        FMemory.Write(buffer, count);
    } else {
        MoveFileTo("Write error on ");
        FFilePosition = -1; // unknown until the write is whole
        WriteAll(FFile, static_cast<const char*>(buffer), count, FFileName);
        FFilePosition = FPosition + count;
    }
    FPosition += count;
    FSize = std::max(FSize, FPosition);
    return count;
}

int64_t TBodyStream::Seek(int64_t offset, TSeekOrigin origin) {
    FPosition = SeekTarget(offset, origin, FPosition, FSize);
    return FPosition;
}

char* TBodyStream::ReceiveTail(int64_t count, int64_t end) {
    // Straight into memory while the body fits there; past that the bytes go through Write.
    if (Spilled() || FPosition + count > SpillSize) return nullptr;
    FMemory.SetPosition(FPosition);
    return FMemory.ReceiveTail(count, end > 0 ? std::min(end, SpillSize) : SpillSize);
}

void TBodyStream::Commit(int64_t count) {
    if (count <= 0) return;
    CheckLimit(FPosition + count);
    FMemory.Commit(count);
    FPosition += count;
    FSize = std::max(FSize, FPosition);
}

// A body is written and read from start to end: the file is moved only when it is not
// where the stream is already.
void TBodyStream::MoveFileTo(const char* operation) {
    if (FFilePosition == FPosition) return;
    FFilePosition = -1;
    if (plat::FileSeek(FFile.Get(), FPosition, 0) < 0) plat::RaiseFileError(operation, FFileName);
    FFilePosition = FPosition;
}

void TBodyStream::Clear() {
    FMemory.SetSize(0);
    FLoaded = std::string();
    FSize = FPosition = 0;
    FFile.Close();
    FFilePosition = -1;
    if (!FFileName.empty()) plat::DeleteFile(FFileName);
    FFileName.clear();
}

void TBodyStream::Trim() {
    if (Spilled() || FMemory.Capacity() > FSize + FSize / 8 + MinReserve) FMemory.ShrinkToFit();
}

void TBodyStream::Spill() {
    static unsigned counter = 0;
    const std::string folder = SpillFolder.empty() ? plat::TempFolder() : SpillFolder;
    const std::string name = folder + "~body" + std::to_string(plat::MonotonicMs()) + "-" +
                             std::to_string(++counter) + ".tmp";
    plat::TFile file(plat::FileCreate(name));
    if (!file.Valid()) plat::RaiseFileError("Cannot create file ", name);
    // Where the system lets an open file lose its name, it goes at once: a run that is
    // killed leaves nothing behind.
    FFileName = plat::DeleteFile(name) ? std::string() : name;
    WriteAll(file, FMemory.Memory(), FMemory.Size(), name);
    FFile = std::move(file);
    FFilePosition = FMemory.Size();
    FMemory.Clear();
}

std::string_view TBodyStream::View() {
    if (!Spilled()) return FMemory.View();
    FLoaded.resize(static_cast<size_t>(FSize));
    const int64_t position = FPosition;
    FPosition = 0;
    int64_t done = 0;
    while (done < FSize) {
        int64_t n = Read(FLoaded.data() + done, FSize - done);
        if (n <= 0) break;
        done += n;
    }
    FPosition = position;
    FLoaded.resize(static_cast<size_t>(done));
    return FLoaded;
}

void TBodyStream::SaveToFile(const std::string& fileName) {
    plat::TFile file = CreateForSave(fileName);
    if (!Spilled()) {
        WriteAll(file, FMemory.Memory(), FMemory.Size(), fileName);
    } else {
        std::string block(static_cast<size_t>(CopyBlock), '\0');
        const int64_t position = FPosition;
        FPosition = 0;
        for (int64_t n; (n = Read(block.data(), CopyBlock)) > 0;)
            WriteAll(file, block.data(), n, fileName);
        FPosition = position;
    }
    CloseSaved(file, fileName);
}
