#pragma once
// A disk that tests can make misbehave: a small tmpfs that fills up or turns read-only, and
// a hook on the moment a program opens a file, where a test changes the world under it.
// Both need root (mount, fanotify); Ok() says whether this machine allowed them.
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace kvtest {

// A tmpfs of the given size mounted over dir (made when missing) for the object's life,
// hiding what dir held.
class TTmpfs {
public:
    TTmpfs(const std::string& dir, uint64_t bytes);
    ~TTmpfs();
    TTmpfs(const TTmpfs&) = delete;
    TTmpfs& operator=(const TTmpfs&) = delete;
    bool Ok() const { return FMounted; }
    uint64_t FreeBytes() const;
    // The file system turns read-only, or writable again, under whoever uses it.
    bool SetReadOnly(bool readOnly);
    // Takes all but about leaveFree bytes with a file of its own, in a folder of its own
    // (".filler/"), so that filling opens nothing a TOpenHook on dir waits for.
    bool Fill(uint64_t leaveFree);

private:
    std::string FDir;
    std::string FOptions;
    bool FMounted = false;
};

// A file system of a given kind in an image file, loop-mounted over dir (made when missing)
// for the object's life. Needs root, loop devices and the kind's mkfs.
class TLoopDisk {
public:
    struct TKind {
        const char* Name;
        const char* Make;    // a shell command making the file system in the image "$1"
        const char* Options; // mount options, may be empty
        // The kind commits its metadata only on its own timer: a power cut waits for one.
        bool WaitsForCommit;
    };
    TLoopDisk(const std::string& dir, const std::string& imageFolder, const TKind& kind);
    ~TLoopDisk();
    TLoopDisk(const TLoopDisk&) = delete;
    TLoopDisk& operator=(const TLoopDisk&) = delete;
    // Empty when the disk is mounted; else why not.
    const std::string& Failure() const { return FFailure; }
    // Everything written so far reaches the disk.
    bool Sync() const;
    // A power cut now: the file system's metadata reaches the disk (its journal or log
    // committed, its own buffers written), file data that it has not written by itself does
    // not. The disk as it is then is mounted over dir in this one's place, as the machine
    // finds it when the power comes back.
    bool PowerCut();

private:
    bool Mount(const std::string& image);
    std::string FDir, FImage, FDevice;
    TKind FKind;
    std::string FFailure;
    bool FMounted = false;
};

// Every open of a file directly in dir by another process waits until handler(name, size)
// has returned on the hook's thread: the file's name in dir and its size as the open finds
// it. The handler must not open files in dir itself.
class TOpenHook {
public:
    using THandler = std::function<void(const std::string& name, uint64_t size)>;
    TOpenHook(const std::string& dir, THandler handler);
    ~TOpenHook();
    TOpenHook(const TOpenHook&) = delete;
    TOpenHook& operator=(const TOpenHook&) = delete;
    bool Ok() const { return FFanotify >= 0; }

private:
    void Serve();
    THandler FHandler;
    int FFanotify = -1;
    int FStop = -1;
    std::thread FThread;
};

} // namespace kvtest
