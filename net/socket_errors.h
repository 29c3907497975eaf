#pragma once
// The error classes of the internet components. Each derives directly from Exception, so a
// handler for EmsError does not catch the others.
#include <cstdint>
#include <string>

#include "net/messages.h"
#include "platform/exception.h"

// The suite's general error class; none of the socket or HTTP operations raises it.
class EmsError : public Exception {
public:
    using Exception::Exception;
};

class EmsTimedOutError : public Exception {
public:
    EmsTimedOutError() : Exception(sTimedOut) {}
};

class EmsCanceledError : public Exception {
public:
    EmsCanceledError() : Exception(sCanceled) {}
};

class EmsTooMuchDataError : public Exception {
public:
    EmsTooMuchDataError() : Exception(sTooMuchData) {}
};

// Socket library errors. ErrorCode is the Windows Sockets error number when the error came
// from a code (RaiseSocketError), 0 for the binding's own messages.
class EWinsockError : public Exception {
public:
    explicit EWinsockError(std::string message, int errorCode = 0)
        : Exception(std::move(message)), ErrorCode(errorCode) {}
    int ErrorCode;
};

// Raises EWinsockError with the text for the code (read as unsigned 16 bits), or
// "Winsock error no " and the code when the table holds none.
[[noreturn]] void RaiseSocketError(int code);
