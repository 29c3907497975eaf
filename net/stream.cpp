#include "net/stream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/exception.h"
#include "platform/files.h"

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
    int64_t base = origin == TSeekOrigin::Beginning ? 0
                   : origin == TSeekOrigin::Current ? FPosition
                                                    : FSize;
    // A position past the end is allowed, as for any memory stream; a write there fills
    // the gap with zeros.
    FPosition = std::max<int64_t>(0, base + offset);
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

void TMemoryStream::Commit(int64_t count) {
    if (count <= 0) return;
    FPosition += count;
    if (FPosition > FSize) FSize = FPosition;
}

void TMemoryStream::SaveToFile(const std::string& fileName) const {
    plat::TFile file(plat::FileCreate(fileName));
    if (!file.IsOpen()) {
        int code = plat::GetLastError();
        throw EInOutError("Cannot create file \"" + fileName + "\". " + plat::SysErrorMessage(code),
                          code);
    }
    int64_t done = 0;
    while (done < FSize) {
        int64_t n = plat::FileWrite(file.Get(), FData + done, static_cast<size_t>(FSize - done));
        if (n <= 0) {
            int code = plat::GetLastError();
            throw EInOutError("Write error on \"" + fileName + "\". " + plat::SysErrorMessage(code),
                              code);
        }
        done += n;
    }
    if (!file.Close()) {
        int code = plat::GetLastError();
        throw EInOutError("Write error on \"" + fileName + "\". " + plat::SysErrorMessage(code),
                          code);
    }
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
    plat::TFile file(plat::FileOpen(fileName, plat::TOpenMode::Read));
    if (!file.IsOpen()) {
        int code = plat::GetLastError();
        throw EInOutError("Cannot open file \"" + fileName + "\". " + plat::SysErrorMessage(code),
                          code);
    }
    Clear();
    char buffer[65536];
    for (;;) {
        int64_t n = plat::FileRead(file.Get(), buffer, sizeof buffer);
        if (n < 0) {
            int code = plat::GetLastError();
            throw EInOutError("Read error on \"" + fileName + "\". " + plat::SysErrorMessage(code),
                              code);
        }
        if (n == 0) break;
        Write(buffer, n);
    }
    FPosition = 0;
}
