// The last error on Windows is the system's own: the thread's GetLastError slot, which
// Windows Sockets shares (WSAGetLastError reads it). Texts come from FormatMessageA.
#include "platform/errors.h"

#include "platform/win32/win32_api.h"

namespace plat {

int GetLastError() {
    return static_cast<int>(::GetLastError());
}

void SetLastError(int code) {
    ::SetLastError(static_cast<DWORD>(code));
}

int ErrorFromOs(int osCode) {
    return osCode;
}

int SocketErrorFromOs(int osCode) {
    return osCode;
}

std::string SysErrorMessage(int code) {
    // An application code is nobody's but ours: the system has no text for it.
    if (code & syserr::ApplicationBit) return {};
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length && text ? std::string(text, length) : std::string();
    if (text) ::LocalFree(text);
    // The system ends its texts with a line break, which no caller wants.
    while (!message.empty() && (message.back() == '\r' || message.back() == '\n'))
        message.pop_back();
    return message;
}

} // namespace plat
