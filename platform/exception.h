#pragma once
// The one root of every error the system raises. The system's own error classes derive
// from Exception directly; the few framework classes below stand in for the general
// framework's input/output, conversion and resource-exhaustion errors. Portable, in this
// header alone.
#include <exception>
#include <string>
#include <utility>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    const std::string& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

// File creation, reading and writing failures.
class EInOutError : public Exception {
public:
    EInOutError(std::string message, int errorCode = 0)
        : Exception(std::move(message)), ErrorCode(errorCode) {}
    int ErrorCode;
};

// A text that is not a valid number.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// The platform refused a resource (for example a timer).
class EOutOfResources : public Exception {
public:
    using Exception::Exception;
};

// The message of any exception: an Exception's own text, else what() of a standard one.
inline std::string ExceptionMessage(const std::exception& e) {
    if (auto* ex = dynamic_cast<const Exception*>(&e)) return ex->Message();
    return e.what();
}
