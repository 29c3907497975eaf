// The last error on POSIX: a thread-local slot, errno mapped into the Windows numbering by
// one table, and the system texts from the table of errors.h so that both builds log the
// same line for the same failure.
#include "platform/errors.h"

#include <cerrno>
#include <cstring>

#include "platform/posix/files_posix.h"

namespace plat {

namespace {

thread_local int LastError = 0;

// No counterpart in a column: the errno goes to the application range.
constexpr int None = -1;

struct TErrnoRow {
    int Errno;
    int System; // for files and the system
    int Socket; // the Windows Sockets code
};

// The socket column is the socket binding's own list. EAGAIN and EWOULDBLOCK may be one
// number: the first row wins, and both rows agree.
constexpr TErrnoRow ErrnoMap[] = {
    {EPERM, syserr::AccessDenied, 10013},
    {ENOENT, syserr::FileNotFound, None},
    {EINTR, None, 10004},
    {EIO, syserr::IoDevice, None},
    {ENOEXEC, syserr::BadFormat, None},
    {EBADF, syserr::InvalidHandle, 10009},
    {EAGAIN, None, 10035},
    {EWOULDBLOCK, None, 10035},
    {EINPROGRESS, None, 10035},
    {ENOMEM, syserr::NotEnoughMemory, 10055},
    {EACCES, syserr::AccessDenied, 10013},
    {EFAULT, syserr::InvalidAddress, 10014},
    {EBUSY, syserr::Busy, None},
    {EEXIST, syserr::AlreadyExists, None},
    {EXDEV, syserr::NotSameDevice, None},
    {ENOTDIR, syserr::PathNotFound, None},
    {EISDIR, syserr::AccessDenied, None},
    {EINVAL, syserr::InvalidParameter, 10022},
    {ENFILE, syserr::TooManyOpenFiles, 10024},
    {EMFILE, syserr::TooManyOpenFiles, 10024},
    {ETXTBSY, syserr::SharingViolation, None},
    {EFBIG, syserr::FileTooLarge, None},
    {ENOSPC, syserr::DiskFull, None},
    {EROFS, syserr::AccessDenied, None},
    {EPIPE, syserr::BrokenPipe, 10054},
    {ENAMETOOLONG, syserr::FileNameTooLong, 10063},
    {ENOSYS, syserr::CallNotImplemented, None},
    {ENOTEMPTY, syserr::DirNotEmpty, 10066},
    {ELOOP, syserr::CantResolveFileName, 10062},
    {ECANCELED, syserr::OperationAborted, None},
    {EALREADY, None, 10037},
    {ENOTSOCK, None, 10038},
    {EDESTADDRREQ, None, 10039},
    {EMSGSIZE, None, 10040},
    {EPROTOTYPE, None, 10041},
    {ENOPROTOOPT, None, 10042},
    {EPROTONOSUPPORT, None, 10043},
    {ESOCKTNOSUPPORT, None, 10044},
    {EOPNOTSUPP, syserr::NotSupported, 10045},
    {EPFNOSUPPORT, None, 10046},
    {EAFNOSUPPORT, None, 10047},
    {EADDRINUSE, None, 10048},
    {EADDRNOTAVAIL, None, 10049},
    {ENETDOWN, None, 10050},
    {ENETUNREACH, None, 10051},
    {ENETRESET, None, 10052},
    {ECONNABORTED, None, 10053},
    {ECONNRESET, None, 10054},
    {ENOBUFS, None, 10055},
    {EISCONN, None, 10056},
    {ENOTCONN, None, 10057},
    {ESHUTDOWN, None, 10058},
    {ETOOMANYREFS, None, 10059},
    {ETIMEDOUT, None, 10060},
    {ECONNREFUSED, None, 10061},
    {EHOSTDOWN, None, 10064},
    {EHOSTUNREACH, None, 10065},
    {EUSERS, None, 10068},
    {EDQUOT, syserr::DiskFull, 10069},
    {ESTALE, None, 10070},
    {EREMOTE, None, 10071},
};

int Map(int osCode, int TErrnoRow::*column) {
    if (osCode == 0) return 0;
    for (const TErrnoRow& row : ErrnoMap)
        if (row.Errno == osCode) {
            if (row.*column != None) return row.*column;
            break;
        }
    return syserr::ApplicationBit | osCode;
}

} // namespace

int GetLastError() {
    return LastError;
}

void SetLastError(int code) {
    LastError = code;
}

int ErrorFromOs(int osCode) {
    return Map(osCode, &TErrnoRow::System);
}

int SocketErrorFromOs(int osCode) {
    return Map(osCode, &TErrnoRow::Socket);
}

std::string SysErrorMessage(int code) {
    switch (code) {
#define KV_SYSTEM_ERROR_TEXT(name, number, text)                                                   \
    case number:                                                                                   \
        return text;
        KV_SYSTEM_ERROR_MAP(KV_SYSTEM_ERROR_TEXT)
#undef KV_SYSTEM_ERROR_TEXT
    }
    if ((code & syserr::ApplicationBit) == 0) return {};
    char buffer[256];
    // The GNU strerror_r returns the text, which may or may not be in buffer.
    const char* text = ::strerror_r(code & ~syserr::ApplicationBit, buffer, sizeof buffer);
    return text ? std::string(text) : std::string();
}

namespace posix {

bool FailErrno() {
    return FailOs(errno);
}

bool FailOs(int osCode) {
    LastError = ErrorFromOs(osCode);
    return false;
}

bool FailWith(int code) {
    LastError = code;
    return false;
}

} // namespace posix

} // namespace plat
