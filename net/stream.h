#pragma once
// Byte streams: TStream, which the socket layer sends from and receives into, and
// TMemoryStream, which holds a response body for the caller to read, copy or save.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/files.h"

enum class TSeekOrigin { Beginning, Current, End };

class TStream {
public:
    virtual ~TStream() = default;
    // Reads up to count bytes at the position; returns the bytes read (0 at the end).
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    // Writes count bytes at the position, growing the stream as needed; returns count.
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // Returns the new position.
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

    int64_t Position() { return Seek(0, TSeekOrigin::Current); }
    void SetPosition(int64_t position) { Seek(position, TSeekOrigin::Beginning); }
    int64_t Size();
    // Copies count bytes from source's position (count 0: the whole source from its start).
    int64_t CopyFrom(TStream& source, int64_t count);

    // Room for up to count bytes at the position to receive into without a copy, or null
    // when the stream takes bytes only through Write. end, when above 0, is where the
    // content is announced to end: no room is reserved past it.
    virtual char* ReceiveTail(int64_t /*count*/, int64_t /*end*/) { return nullptr; }
    // Takes n of the bytes placed at ReceiveTail as written.
    virtual void Commit(int64_t /*n*/) {}
};

// A stream held in memory, in one contiguous block.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    ~TMemoryStream() override;
    TMemoryStream(const TMemoryStream&) = delete;
    TMemoryStream& operator=(const TMemoryStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    char* ReceiveTail(int64_t count, int64_t end) override;
    void Commit(int64_t count) override;

    // Releases the memory; size and position become 0.
    void Clear();
    // Sets the size (new bytes are zero); the position stays unless past the end.
    void SetSize(int64_t size);
    // Makes room for at least capacity bytes without changing size or position.
    void Reserve(int64_t capacity);
    // Gives back the room beyond the size.
    void ShrinkToFit();
    int64_t Capacity() const { return FCapacity; }

    const char* Memory() const { return FData; }
    char* Memory() { return FData; }
    // The whole content, independent of the position.
    std::string_view View() const { return {FData ? FData : "", static_cast<size_t>(FSize)}; }
    std::string DataString() const { return std::string(View()); }

    // Writes the whole content to a new or truncated file. Raises EInOutError
    // "Cannot create file ..." or "Write error ..." on failure.
    void SaveToFile(const std::string& fileName) const;
    // Replaces the content by the file's bytes; position 0. Raises EInOutError on failure.
    void LoadFromFile(const std::string& fileName);

    // Room for count more bytes at the position without copying: returns where they go.
    // Commit(n) then takes n of them (n <= count) as written.
    char* WritableTail(int64_t count);

private:
    void Grow(int64_t needed);
    char* FData = nullptr;
    int64_t FSize = 0, FCapacity = 0, FPosition = 0;
};

// A response body: in memory up to SpillSize bytes, past that in a file of its own in
// SpillFolder, so that a body of any length costs bounded memory. A body that would grow
// past Limit raises EmsBodyTooLargeError instead.
class TBodyStream : public TStream {
public:
    static constexpr int64_t DefaultSpillSize = 16 << 20;
    static constexpr int64_t DefaultLimit = int64_t{2} << 30;

    TBodyStream() = default;
    ~TBodyStream() override;
    TBodyStream(const TBodyStream&) = delete;
    TBodyStream& operator=(const TBodyStream&) = delete;

    int64_t SpillSize = DefaultSpillSize;
    int64_t Limit = DefaultLimit;
    std::string SpillFolder; // with a trailing separator; empty: the system's temporary folder

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    char* ReceiveTail(int64_t count, int64_t end) override;
    void Commit(int64_t count) override;

    // Empties the stream and removes its file; the memory stays for the next body.
    void Clear();
    bool Spilled() const { return FFile.Valid(); }
    // Gives back memory beyond what the content needs, when that is much.
    void Trim();
    int64_t Capacity() const { return FMemory.Capacity(); }

    // The whole content, independent of the position. A spilled body is read into memory
    // for it: for content that is wanted as text (a manifest), never for a cabinet.
    std::string_view View();
    std::string DataString() { return std::string(View()); }
    // Writes the whole content to a new or truncated file, with TMemoryStream's errors.
    void SaveToFile(const std::string& fileName);

private:
    void CheckLimit(int64_t end) const;
    void Spill();
    void MoveFileTo(const char* operation);
    TMemoryStream FMemory;
    plat::TFile FFile;
    std::string FFileName; // to remove at the end where the system kept the name
    int64_t FSize = 0, FPosition = 0;
    int64_t FFilePosition = -1; // where the file is; -1 when not known
    std::string FLoaded;
};
