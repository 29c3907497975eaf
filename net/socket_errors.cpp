#include "net/socket_errors.h"

// One case a row of the table, so a number entered twice stops the build.
#define KV_SOCKET_ERROR_CASE(name, number, text)                                                   \
    case sockerr::name:                                                                            \
        return std::string(text);

std::optional<std::string> SocketErrorText(int code) {
    switch (code) { KV_SOCKET_ERROR_MAP(KV_SOCKET_ERROR_CASE) }
    return std::nullopt;
}

#undef KV_SOCKET_ERROR_CASE

void RaiseSocketError(int code) {
    // The resource id is 40000 plus the code's 16 bits, so a code is looked up as such.
    const int key = static_cast<uint16_t>(code);
    if (auto text = SocketErrorText(key)) throw EWinsockError(*text, key);
    throw EWinsockError(sWinsockErrorNo + std::to_string(key), key);
}
