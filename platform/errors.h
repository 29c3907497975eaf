#pragma once
// The one error model. A platform function that reports failure by its result leaves the
// reason in the calling thread's last error, in the Windows numbering on every build: the
// system's codes for files and the system, the Windows Sockets codes (10004 and up) for
// sockets, in one slot as Windows keeps them. Each side maps its own codes into it once, in
// platform/; a code with no Windows counterpart goes to the application range (bit 29 set).
// SystemErrorText is portable (errors.cpp); the rest each side implements.
#include <string>

// The system error codes portable code names, with the English texts the system gives for
// them, one row each: X(name, code, text).
#define KV_SYSTEM_ERROR_MAP(X)                                                                     \
    X(Success, 0, "The operation completed successfully.")                                         \
    X(FileNotFound, 2, "The system cannot find the file specified.")                               \
    X(PathNotFound, 3, "The system cannot find the path specified.")                               \
    X(TooManyOpenFiles, 4, "The system cannot open the file.")                                     \
    X(AccessDenied, 5, "Access is denied.")                                                        \
    X(InvalidHandle, 6, "The handle is invalid.")                                                  \
    X(NotEnoughMemory, 8, "Not enough memory resources are available to process this command.")    \
    X(BadFormat, 11, "An attempt was made to load a program with an incorrect format.")            \
    X(NotSameDevice, 17, "The system cannot move the file to a different disk drive.")             \
    X(SharingViolation, 32,                                                                        \
      "The process cannot access the file because it is being used by another process.")           \
    X(NotSupported, 50, "The request is not supported.")                                           \
    X(InvalidParameter, 87, "The parameter is incorrect.")                                         \
    X(BrokenPipe, 109, "The pipe has been ended.")                                                 \
    X(DiskFull, 112, "There is not enough space on the disk.")                                     \
    X(CallNotImplemented, 120, "This function is not supported on this system.")                   \
    X(DirNotEmpty, 145, "The directory is not empty.")                                             \
    X(Busy, 170, "The requested resource is in use.")                                              \
    X(AlreadyExists, 183, "Cannot create a file when that file already exists.")                   \
    X(FileNameTooLong, 206, "The filename or extension is too long.")                              \
    X(FileTooLarge, 223, "The file size exceeds the limit allowed and cannot be saved.")           \
    X(InvalidAddress, 487, "Attempt to access invalid address.")                                   \
    X(OperationAborted, 995,                                                                       \
      "The I/O operation has been aborted because of either a thread exit or an application "      \
      "request.")                                                                                  \
    X(IoDevice, 1117, "The request could not be performed because of an I/O device error.")        \
    X(CantResolveFileName, 1921, "The name of the file cannot be resolved by the system.")

namespace plat {

// The codes by name, kept in syserr apart from the Windows headers' ERROR_... macros.
namespace syserr {
#define KV_SYSTEM_ERROR_NAME(name, code, text) inline constexpr int name = code;
KV_SYSTEM_ERROR_MAP(KV_SYSTEM_ERROR_NAME)
#undef KV_SYSTEM_ERROR_NAME
// Set in codes that are the application's own rather than the system's.
inline constexpr int ApplicationBit = 0x20000000;
} // namespace syserr

// The calling thread's last error.
int GetLastError();
void SetLastError(int code);

// The system's text for a code; for a code of the application range the side's own text;
// empty for a code it has no text for (socket codes among them).
std::string SysErrorMessage(int code);
// The text as log lines carry it: trailing blanks, control characters and full stops
// removed.
std::string SystemErrorText(int code);

// Raises EInOutError for a file operation that failed with the thread's last error, with
// that code: what, the name in double quotes, ". " and the system's text, as in
// Cannot open file "a.txt". The system cannot find the file specified.
[[noreturn]] void RaiseFileError(const std::string& what, const std::string& fileName);

// The side's own error numbers in the Windows numbering: for files and the system, and for
// sockets. For platform implementations and the two library bindings only; the identity on
// Windows.
int ErrorFromOs(int osCode);
int SocketErrorFromOs(int osCode);

} // namespace plat
