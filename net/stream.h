#pragma once
// Byte streams: TStream, which the socket layer sends from and receives into, and
// TMemoryStream, which holds a response body for the caller to read, copy or save.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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
    void Commit(int64_t count);

private:
    void Grow(int64_t needed);
    char* FData = nullptr;
    int64_t FSize = 0, FCapacity = 0, FPosition = 0;
};
